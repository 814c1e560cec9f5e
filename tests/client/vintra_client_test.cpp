// The client facade against scripted servers on loopback: the connect
// sequences frame by frame, the requests with typed replies, objects and
// streams.
#include "client/vintra_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/frame_codec.h"
#include "fakes/fakes.h"
#include "platform/command_channel.h"
#include "platform/stop_signal.h"
#include "scripted_peer.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using testing::AnsweringPeer;
using testing::Contains;
using testing::PeerConnection;
using testing::PeerListener;
using testing::PeerThread;
using testing::WaitUntil;

const char* const kTypeNames[] = {"SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt",
                                  "CscAcqEnt",  "VTAcqEnt",   "EventAcqEnt"};

class VintraClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = std::make_unique<VintraClient>(clock_, boxes_);
    ASSERT_TRUE(client_->SetLogFileName(log_path_));
  }
  void TearDown() override {
    client_.reset();
    message_server_.reset();
  }

  // Serves the next connection on the message port with Reply().
  void ServeMessagePort() {
    message_accept_ = std::make_unique<PeerThread>([this] {
      auto connection = message_listener_.Accept();
      if (!connection) return;
      auto server = std::make_unique<AnsweringPeer>(
          std::move(connection), [this](const std::string& c) { return Reply(c); });
      std::lock_guard<std::mutex> lock(mutex_);
      message_server_ = std::move(server);
    });
  }

  // Serves one connection on the negotiation port: the frames it gets go to
  // negotiation_frames_, the port request is answered with `port_reply`.
  void ServeNegotiationPort(const std::string& port_reply) {
    negotiation_ = std::make_unique<PeerThread>([this, port_reply] {
      auto peer = negotiation_listener_.Accept();
      if (!peer) return;
      for (const char* reply : {"0 QuorvinSim", ""}) {
        auto f = peer->ReadFrame();
        if (!f) return;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          negotiation_frames_.push_back(f->raw);
        }
        peer->WriteReply(*reply != '\0' ? std::string(reply) : port_reply);
      }
      negotiation_closed_ = peer->WaitClosed();
    });
  }

  std::optional<std::string> Reply(const std::string& command) {
    if (command == "-Slow") std::this_thread::sleep_for(600ms);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = replies_.find(command);
    if (it != replies_.end()) return it->second;
    if (command == "-GetApplicationName") return std::string("0 QuorvinSim");
    if (command == "-GetNextAvailablePortNumber") return std::string("0 0");
    return std::string("0");
  }

  void SetReply(const std::string& command, std::optional<std::string> reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[command] = std::move(reply);
  }

  AnsweringPeer& Server() {
    std::lock_guard<std::mutex> lock(mutex_);
    return *message_server_;
  }

  // Connects straight to the message port.
  void ConnectDirectly() {
    ServeMessagePort();
    ASSERT_TRUE(client_->ConnectToServer("127.0.0.1", false, testing::UnusedPort(),
                                         message_listener_.port()));
    message_accept_->Join();
  }

  // The frames a connect sends on the message connection.
  static std::vector<std::string> StreamSetUp(const std::vector<std::string>& commands) {
    std::vector<std::string> out;
    for (const std::string& c : commands)
      if (c.rfind("-CreateStream ", 0) == 0 || c == "-GetNextAvailablePortNumber") out.push_back(c);
    return out;
  }

  std::vector<std::string> Entries() const { return testing::LogEntries(log_path_); }

  testing::FixedClock clock_;
  testing::RecordingMessageBoxes boxes_;
  testing::TempDir dir_;
  const std::string log_path_ = dir_.File("client.log");
  PeerListener negotiation_listener_;
  PeerListener message_listener_;
  std::unique_ptr<VintraClient> client_;

  std::mutex mutex_;
  std::unique_ptr<AnsweringPeer> message_server_;
  std::map<std::string, std::optional<std::string>> replies_;
  std::vector<std::string> negotiation_frames_;
  std::atomic<bool> negotiation_closed_{false};
  std::unique_ptr<PeerThread> negotiation_;
  std::unique_ptr<PeerThread> message_accept_;
};

TEST_F(VintraClientTest, TheNegotiatedConnectSendsTheSequenceFrameByFrame) {
  ServeNegotiationPort("0 " + std::to_string(message_listener_.port()));
  ServeMessagePort();
  ASSERT_TRUE(client_->ConnectToServer("127.0.0.1", true, negotiation_listener_.port(),
                                       message_listener_.port()));
  negotiation_->Join();
  message_accept_->Join();

  EXPECT_EQ((std::vector<std::string>{frame::EncodeTextFrame("-GetApplicationName"),
                                      frame::EncodeTextFrame("-GetNextAvailablePortNumber")}),
            negotiation_frames_);
  EXPECT_TRUE(negotiation_closed_.load());

  const std::vector<std::string> commands = Server().commands();
  ASSERT_EQ(14u, commands.size());
  std::vector<std::string> expected = {"-GetApplicationName"};
  for (int i = 0; i < 6; ++i) {
    expected.emplace_back("-GetNextAvailablePortNumber");
    const int port = client_->GetNetworkNodeClient().Stream(i).GetPortNumber();
    EXPECT_GT(port, 0);
    expected.push_back("-CreateStream 127.0.0.1 " + std::to_string(port) + " " + kTypeNames[i]);
  }
  expected.push_back("-SetComputerName " + VintraClient::GetComputerName());
  EXPECT_EQ(expected, commands);
  const std::vector<std::string> raw = Server().raw_frames();
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(frame::EncodeTextFrame(expected[i]), raw[i]) << expected[i];

  EXPECT_EQ("QuorvinSim", client_->GetServerApplicationName());
  EXPECT_EQ("127.0.0.1", client_->GetServerName());
  EXPECT_EQ("127.0.0.1", client_->GetServerIPAddress());
  EXPECT_EQ(message_listener_.port(), client_->GetNetworkNodeClient().GetPortNumber());

  EXPECT_TRUE(client_->IsConnected());
  EXPECT_EQ("-SetComputerName " + VintraClient::GetComputerName(), Server().commands().back());
  EXPECT_TRUE(client_->DisconnectFromServer());
  EXPECT_FALSE(client_->IsConnected());
  EXPECT_EQ("Not Connected", client_->GetServerName());
}

TEST_F(VintraClientTest, WithoutANegotiationListenerTheMessagePortIsUsed) {
  ServeMessagePort();
  ASSERT_TRUE(
      client_->ConnectToServer("127.0.0.1", true, testing::UnusedPort(), message_listener_.port()));
  message_accept_->Join();
  const auto commands = Server().commands();
  ASSERT_EQ(14u, commands.size());
  EXPECT_EQ("-GetApplicationName", commands[0]);
  EXPECT_EQ("-GetNextAvailablePortNumber", commands[1]);
  EXPECT_EQ(0u, commands[2].rfind("-CreateStream 127.0.0.1 ", 0));
  EXPECT_EQ(12u, StreamSetUp(commands).size());
  EXPECT_TRUE(Contains(Entries(),
                       "ERROR: NetworkNodeClient::ConnectToServer() - Error Connecting To Server, "
                       "error code: WSAECONNREFUSED - The attempt to connect was forcefully "
                       "rejected."));
}

TEST_F(VintraClientTest, WithoutNegotiationTheMessagePortIsUsedDirectly) {
  ConnectDirectly();
  const auto commands = Server().commands();
  ASSERT_EQ(14u, commands.size());
  EXPECT_EQ("-GetApplicationName", commands[0]);
  EXPECT_EQ("-SetComputerName " + VintraClient::GetComputerName(), commands.back());
}

TEST_F(VintraClientTest, TheDefaultPortsAreTheServersFixedOnes) {
  EXPECT_EQ(26200, client_->GetNegotiationPort());
  EXPECT_EQ(26100, client_->GetMessagePort());
  client_->SetServerPorts(negotiation_listener_.port(), message_listener_.port());
  ServeNegotiationPort("0 " + std::to_string(message_listener_.port()));
  ServeMessagePort();
  EXPECT_TRUE(client_->ConnectToServer("127.0.0.1", true));
  negotiation_->Join();
  message_accept_->Join();
  EXPECT_EQ(2u, negotiation_frames_.size());
}

TEST_F(VintraClientTest, AFailedFirstPortRequestClosesTheFirstConnectionAndFails) {
  ServeNegotiationPort("-1");
  EXPECT_FALSE(client_->ConnectToServer("127.0.0.1", true, negotiation_listener_.port(),
                                        message_listener_.port()));
  negotiation_->Join();
  EXPECT_TRUE(negotiation_closed_.load());
  EXPECT_FALSE(client_->GetNetworkNodeClient().IsInitialized());
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(VintraClientTest, APortOfZeroFailsTheSecondConnect) {
  ServeNegotiationPort("0");
  EXPECT_FALSE(client_->ConnectToServer("127.0.0.1", true, negotiation_listener_.port(),
                                        message_listener_.port()));
  negotiation_->Join();
  EXPECT_TRUE(negotiation_closed_.load());
  EXPECT_FALSE(client_->GetNetworkNodeClient().IsInitialized());
  EXPECT_TRUE(Contains(Entries(),
                       "NOTICE: NetworkNodeClient::InitializeClient() - Attempting to initialize "
                       "Message Client connection.  serverName: 127.0.0.1, portNumber: 0"));
}

TEST_F(VintraClientTest, AHandedOutPortBeyond65535IsRefusedNotWrapped) {
  // 65536 + the message port would wrap onto the message port itself.
  const int wrapped = 65536 + message_listener_.port();
  ServeNegotiationPort("0 " + std::to_string(wrapped));
  EXPECT_FALSE(client_->ConnectToServer("127.0.0.1", true, negotiation_listener_.port(),
                                        message_listener_.port()));
  negotiation_->Join();
  EXPECT_FALSE(client_->GetNetworkNodeClient().IsInitialized());
  EXPECT_TRUE(Contains(Entries(),
                       "ERROR: NetworkNodeClient::InitializeClient() - Error, the port "
                       "number " +
                           std::to_string(wrapped) +
                           " is outside 1..65535, unable to initialize message client"));
}

TEST_F(VintraClientTest, AConnectWhoseStreamsCannotBeSetUpLeavesNoConnection) {
  SetReply("-GetNextAvailablePortNumber", std::string("-1"));
  ServeMessagePort();
  EXPECT_FALSE(client_->ConnectToServer("127.0.0.1", false, 0, message_listener_.port()));
  message_accept_->Join();
  EXPECT_FALSE(client_->GetNetworkNodeClient().IsInitialized());
  EXPECT_TRUE(WaitUntil([&] { return Server().closed(); }));
  // A second connect is not refused as "already initialized".
  SetReply("-GetNextAvailablePortNumber", std::string("0 0"));
  ServeMessagePort();
  EXPECT_TRUE(client_->ConnectToServer("127.0.0.1", false, 0, message_listener_.port()));
  message_accept_->Join();
}

TEST_F(VintraClientTest, IsConnectedOnANeverConnectedClientSendsAndLogsNothing) {
  EXPECT_FALSE(client_->IsConnected());
  std::string reply = "untouched";
  EXPECT_FALSE(client_->SendCommand("-PostEvent \"x\" 1 2", reply));
  EXPECT_EQ("untouched", reply);
  EXPECT_TRUE(Entries().empty());
  EXPECT_EQ("Not Connected", client_->GetServerName());
  EXPECT_EQ("Not Connected", client_->GetServerIPAddress());
  EXPECT_EQ("Not Connected", client_->GetServerApplicationName());
}

TEST_F(VintraClientTest, SendCommandHandsBackTheReplyOrLeavesItUntouched) {
  ConnectDirectly();
  SetReply("-PostEvent \"Start\" 1 2", std::string("0 posted"));
  SetReply("-Broken", std::nullopt);  // the server drops the connection
  CommandChannel& channel = *client_;
  std::string reply;
  EXPECT_TRUE(channel.SendCommand("-PostEvent \"Start\" 1 2", reply));
  EXPECT_EQ("0 posted", reply);
  reply = "untouched";
  EXPECT_FALSE(channel.SendCommand("-Broken", reply));
  EXPECT_EQ("untouched", reply);
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(VintraClientTest, RequestFeatureNeedsAStatusAndASpace) {
  ConnectDirectly();
  std::string feature = "untouched";
  SetReply("-RequestFeature Sc1 4", std::string("-2 word"));
  EXPECT_FALSE(client_->RequestFeature("Sc1", 4, feature));
  SetReply("-RequestFeature Sc1 4", std::string("5"));
  EXPECT_FALSE(client_->RequestFeature("Sc1", 4, feature));
  EXPECT_EQ("untouched", feature);
  SetReply("-RequestFeature Sc1 4", std::string("3 two words"));
  EXPECT_TRUE(client_->RequestFeature("Sc1", 4, feature));
  EXPECT_EQ("two words", feature);
}

TEST_F(VintraClientTest, TypedRequestsReadTheirIntegers) {
  ConnectDirectly();
  SetReply("-RequestRingBufferSize CSC1", std::string("0 512 16"));
  SetReply("-RequestSamplingFrequency CSC1", std::string("-3 32000"));
  SetReply("-RequestADRange CSC1", std::string("0 abc 7"));
  int a = 9, b = 9;
  EXPECT_TRUE(client_->RequestRingBufferSize("CSC1", a, b));
  EXPECT_EQ(512, a);
  EXPECT_EQ(16, b);
  EXPECT_FALSE(client_->RequestSamplingFrequency("CSC1", a));
  EXPECT_TRUE(client_->RequestADRange("CSC1", a, b));
  EXPECT_EQ(0, a);
  EXPECT_EQ(0, b);
  EXPECT_TRUE(client_->LogMessage("hello world", 7));
  EXPECT_TRUE(client_->SetApplicationName("Orvanta Test"));
  const auto commands = Server().commands();
  EXPECT_EQ("-LogMessage hello world 7", commands[commands.size() - 2]);
  EXPECT_EQ("-SetApplicationName \"Orvanta Test\"", commands.back());
}

TEST_F(VintraClientTest, RequestRingBufferCopiesTheSmallerSize) {
  ConnectDirectly();
  SetReply("-RequestRingBuffer CSC1", std::string("ABCDEFGHI"));  // 10 bytes with the NUL
  char buffer[6] = {'z', 'z', 'z', 'z', 'z', 'z'};
  int copied = -1;
  EXPECT_TRUE(client_->RequestRingBuffer("CSC1", buffer, 4, copied));
  EXPECT_EQ(4, copied);
  EXPECT_EQ(std::string("ABCDzz", 6), std::string(buffer, 6));
  SetReply("-RequestRingBuffer CSC1", std::string("X"));
  EXPECT_TRUE(client_->RequestRingBuffer("CSC1", buffer, 4, copied));
  EXPECT_EQ(2, copied);
  EXPECT_EQ(std::string("X\0\0\0zz", 6), std::string(buffer, 6));

  std::vector<char> raw;
  int size = 0;
  EXPECT_TRUE(client_->SendCommandBinaryReply("-RequestRingBuffer CSC1", raw, size));
  EXPECT_EQ(2, size);
  EXPECT_EQ(std::string("X\0", 2), std::string(raw.data(), raw.size()));
}

TEST_F(VintraClientTest, ObjectListsAreParsedWithQuotes) {
  ConnectDirectly();
  SetReply("-RequestQuorvinObjects", std::string("0 Sc1 \"CSC 2\" Events"));
  SetReply("-RequestQuorvinTypes", std::string("0 SEScAcqEnt CscAcqEnt EventAcqEnt"));
  std::vector<std::string> names = {"old"}, types = {"old"};
  ASSERT_TRUE(client_->GetObjectsAndTypes(names, types));
  EXPECT_EQ((std::vector<std::string>{"Sc1", "CSC 2", "Events"}), names);
  EXPECT_EQ((std::vector<std::string>{"SEScAcqEnt", "CscAcqEnt", "EventAcqEnt"}), types);

  // Fewer types than names: the names without a type get an empty one.
  SetReply("-RequestQuorvinTypes", std::string("0 SEScAcqEnt"));
  ASSERT_TRUE(client_->GetObjectsAndTypes(names, types));
  EXPECT_EQ((std::vector<std::string>{"SEScAcqEnt", "", ""}), types);
  EXPECT_TRUE(Contains(Entries(),
                       "WARNING: NetworkNodeClient::RequestObjectsAndTypes() - Warning, the server "
                       "listed 3 object names but 1 data types, objects without a data type "
                       "cannot be opened."));
  EXPECT_FALSE(client_->OpenStream("Events", ""));

  // A failed request leaves the caller's lists as they were.
  SetReply("-RequestQuorvinObjects", std::string("-1 busy"));
  std::vector<std::string> kept = {"kept"}, kept_types = {"kept"};
  EXPECT_FALSE(client_->GetObjectsAndTypes(kept, kept_types));
  EXPECT_EQ(std::vector<std::string>{"kept"}, kept);
  EXPECT_EQ(std::vector<std::string>{"kept"}, kept_types);
}

struct EventRecorder {
  static void Callback(void* context, const unsigned char* record, int count,
                       std::string objectName) {
    auto* self = static_cast<EventRecorder*>(context);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->names.push_back(std::move(objectName) + "/" + std::to_string(count) + "/" +
                          std::to_string(record[8]));
  }
  std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(mutex);
    return names;
  }
  std::mutex mutex;
  std::vector<std::string> names;
};

TEST_F(VintraClientTest, AnOpenedObjectsRecordsReachTheCallbackAndDisconnectClosesIt) {
  ConnectDirectly();
  SetReply("-RequestQuorvinObjects", std::string("0 Events \"CSC 1\""));
  SetReply("-RequestQuorvinTypes", std::string("0 EventAcqEnt CscAcqEnt"));
  std::vector<std::string> names, types;
  ASSERT_TRUE(client_->GetObjectsAndTypes(names, types));
  EventRecorder events, csc;
  client_->SetCallbackFunctionEV(&EventRecorder::Callback, &events);
  client_->SetCallbackFunctionCSC(&EventRecorder::Callback, &csc);
  ASSERT_TRUE(client_->OpenStream("CSC 1", "CscAcqEnt"));
  EXPECT_EQ("-OpenStream CSC 1 CscAcqEnt", Server().commands().back());

  auto ev = testing::ConnectTo(
      client_->GetNetworkNodeClient().Stream(NetworkNodeClient::kStreamEV).GetPortNumber());
  auto data = testing::ConnectTo(
      client_->GetNetworkNodeClient().Stream(NetworkNodeClient::kStreamCSC).GetPortNumber());
  ASSERT_TRUE(ev && data);
  std::string record(1044, '\0');
  ev->Write(std::string(184, '\x05'));
  data->Write(record);
  ASSERT_TRUE(WaitUntil([&] { return events.Names().size() == 1 && csc.Names().size() == 1; }));
  EXPECT_EQ(std::vector<std::string>{"Events/1/5"}, events.Names());
  EXPECT_EQ(std::vector<std::string>{"CSC 1/1/0"}, csc.Names());

  const size_t before = Server().commands().size();
  EXPECT_TRUE(client_->DisconnectFromServer());
  const auto commands = Server().commands();
  EXPECT_EQ(std::vector<std::string>(commands.begin() + static_cast<long>(before), commands.end()),
            std::vector<std::string>{"-CloseStream CSC 1 CscAcqEnt"});
  EXPECT_TRUE(data->WaitClosed());
}

TEST_F(VintraClientTest, AStoppedCommandDoesNotHandItsLateReplyToTheNextOne) {
  ConnectDirectly();
  SetReply("-Slow", std::string("late reply"));
  SetReply("-Next", std::string("reply to next"));
  StopSignal stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop.Request();
  });
  CommandChannel& channel = *client_;
  std::string reply = "untouched";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(channel.SendCommand("-Slow", reply, &stop));  // answered after 600 ms
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_EQ("untouched", reply);
  stopper.join();
  EXPECT_TRUE(channel.SendCommand("-Next", reply));
  EXPECT_EQ("reply to next", reply);
}

}  // namespace
}  // namespace orvanta
