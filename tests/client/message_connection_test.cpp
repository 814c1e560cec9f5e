// The message connection against a scripted peer on loopback: frames on the
// wire, broken replies, shutdown, and exchanges from several threads.
#include <gtest/gtest.h>
#include <netdb.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/frame_codec.h"
#include "client/network_node_client.h"
#include "client/reply_parsing.h"
#include "client/socket_errors.h"
#include "fakes/broken_headers.h"
#include "fakes/fakes.h"
#include "platform/stop_signal.h"
#include "scripted_peer.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using testing::Contains;
using testing::CountOf;
using testing::PeerConnection;
using testing::PeerListener;
using testing::PeerThread;
using Status = NetworkNodeClient::ExchangeStatus;

std::string Header(int32_t version, uint32_t validation, int32_t size) {
  unsigned char bytes[frame::kHeaderSize];
  frame::EncodeHeader(frame::Header{version, validation, size}, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

long long MillisSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

class MessageConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LocalTime t;
    t.hour = 10;
    clock_.Set(t);
    client_ = std::make_unique<NetworkNodeClient>(clock_, boxes_);
    ASSERT_TRUE(client_->SetLogFileName(log_path_));
  }

  // Connects the client to the listener; the peer answers the
  // "-GetApplicationName" frame with `name_reply`.
  std::unique_ptr<PeerConnection> Connect(const std::string& name_reply = "0 QuorvinSim") {
    std::unique_ptr<PeerConnection> peer;
    PeerThread script([&] {
      peer = listener_.Accept();
      if (!peer) return;
      auto f = peer->ReadFrame();
      if (!f) return;
      first_frame_ = f->raw;
      peer->WriteReply(name_reply);
    });
    EXPECT_TRUE(client_->InitializeClient("127.0.0.1", listener_.port()));
    script.Join();
    return peer;
  }

  std::vector<std::string> Entries() const { return testing::LogEntries(log_path_); }

  testing::FixedClock clock_;
  testing::RecordingMessageBoxes boxes_;
  testing::TempDir dir_;
  const std::string log_path_ = dir_.File("client.log");
  PeerListener listener_;
  std::unique_ptr<NetworkNodeClient> client_;
  std::string first_frame_;
};

TEST_F(MessageConnectionTest, ConnectSendsThe32ByteGetApplicationNameFrameAndLogsEachStep) {
  auto peer = Connect("0 QuorvinSim Server");
  ASSERT_TRUE(peer);
  const std::string expected = std::string("\x01\x00\x00\x00\xA5\xA5\xA5\xA5\x14\x00\x00\x00", 12) +
                               "-GetApplicationName" + std::string(1, '\0');
  ASSERT_EQ(32u, expected.size());
  EXPECT_EQ(expected, first_frame_);
  EXPECT_TRUE(client_->IsInitialized());
  EXPECT_EQ("QuorvinSim Server", client_->GetServerApplicationName());
  EXPECT_EQ("127.0.0.1", client_->GetServerIPAddress());
  EXPECT_EQ("127.0.0.1", client_->GetServerName());
  EXPECT_EQ(listener_.port(), client_->GetPortNumber());

  const std::string port = std::to_string(listener_.port());
  const std::vector<std::string> expected_log = {
      "NOTICE: NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client "
      "connection.  serverName: 127.0.0.1, portNumber: " +
          port,
      "NOTICE: NetworkNodeClient::InitializeClient() - Attempting to create Client Socket",
      "NOTICE: NetworkNodeClient::InitializeClient() - Client Socket created successfully",
      "NOTICE: NetworkNodeClient::InitializeClient() - Attempting to request information about "
      "our connection.",
      "NOTICE: NetworkNodeClient::InitializeClient() - Request for information was successful.",
      "NOTICE: NetworkNodeClient::InitializeClient() - Attempting to establish a connection to "
      "our server.",
      "NOTICE: NetworkNodeClient::InitializeClient() - Connection successfully established",
      "NOTICE: NetworkNodeClient::InitializeClient() - Message Client successfully initialized",
  };
  EXPECT_EQ(expected_log, Entries());
}

TEST_F(MessageConnectionTest, AReplyWithoutASpaceIsTheWholeApplicationName) {
  auto peer = Connect("Quorvin");
  EXPECT_EQ("Quorvin", client_->GetServerApplicationName());
}

TEST_F(MessageConnectionTest, AnEmptyCommandIsA13ByteFrame) {
  auto peer = Connect();
  ASSERT_TRUE(client_->SendCommand(""));
  auto f = peer->ReadFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(Header(1, 0xA5A5A5A5u, 1) + std::string(1, '\0'), f->raw);
}

TEST_F(MessageConnectionTest, AReplySentOneByteAtATimeIsAssembled) {
  auto peer = Connect();
  PeerThread script([&] {
    if (peer->ReadCommand() != "-Ping") return;
    for (char c : frame::EncodeTextFrame("0 pong, slowly")) {
      peer->Write(std::string(1, c));
      std::this_thread::sleep_for(1ms);
    }
  });
  std::string reply;
  ASSERT_TRUE(client_->ExchangeText("-Ping", reply, nullptr));
  EXPECT_EQ("0 pong, slowly", reply);
}

TEST_F(MessageConnectionTest, AReplyIsReadUpToItsFirstNul) {
  auto peer = Connect();
  const std::string payload("abc\0def", 7);
  PeerThread script([&] {
    peer->ReadCommand();
    peer->Write(frame::EncodeFrame(payload));
    peer->ReadCommand();
    peer->Write(frame::EncodeFrame(payload));
  });
  std::string reply;
  ASSERT_TRUE(client_->ExchangeText("-First", reply, nullptr));
  EXPECT_EQ("abc", reply);
  std::vector<char> raw;
  ASSERT_EQ(Status::kReplied, client_->Exchange("-Second", &raw, nullptr));
  EXPECT_EQ(payload, std::string(raw.data(), raw.size()));
}

class BrokenHeaderTest : public MessageConnectionTest,
                         public ::testing::WithParamInterface<testing::BrokenHeader> {};

TEST_P(BrokenHeaderTest, ShowsTheBoxFailsTheReceiveAndKeepsTheConnection) {
  auto peer = Connect();
  PeerThread script([&] {
    peer->ReadCommand();
    peer->Write(Header(GetParam().version, GetParam().validation, GetParam().size) + "0 ok");
  });
  std::string reply = "untouched";
  EXPECT_FALSE(client_->ExchangeText("-Command", reply, nullptr));
  EXPECT_EQ("untouched", reply);
  EXPECT_EQ(std::vector<std::string>{GetParam().text}, boxes_.texts());
  EXPECT_TRUE(client_->IsInitialized());
}

// The headers shown in a box: version and validation code.
INSTANTIATE_TEST_SUITE_P(Headers, BrokenHeaderTest,
                         ::testing::ValuesIn(testing::BrokenHeadersWhere([](const auto& h) {
                           return h.inBox;
                         })),
                         testing::BrokenHeaderName);

TEST_F(MessageConnectionTest, PayloadSizesBelowOneFailTheReceive) {
  auto peer = Connect();
  PeerThread script([&] {
    peer->ReadCommand();
    peer->Write(Header(1, 0xA5A5A5A5u, 0));
    peer->ReadCommand();
    peer->Write(Header(1, 0xA5A5A5A5u, -7));
  });
  std::string reply;
  EXPECT_FALSE(client_->ExchangeText("-A", reply, nullptr));
  EXPECT_FALSE(client_->ExchangeText("-B", reply, nullptr));
  script.Join();
  const auto entries = Entries();
  EXPECT_TRUE(Contains(entries,
                       "ERROR: NetworkNodeClient::RecieveMessage() - Invalid message size for "
                       "recieving message, messageSize: 0"));
  EXPECT_TRUE(Contains(entries,
                       "ERROR: NetworkNodeClient::RecieveMessage() - Invalid message size for "
                       "recieving message, messageSize: -7"));
  EXPECT_TRUE(client_->IsInitialized());
}

TEST_F(MessageConnectionTest, AnAbsurdPayloadSizeFailsWithTheAllocationError) {
  auto peer = Connect();
  PeerThread script([&] {
    peer->ReadCommand();
    peer->Write(Header(1, 0xA5A5A5A5u, 0x7fffffff) + "some bytes");
  });
  std::string reply = "untouched";
  EXPECT_FALSE(client_->ExchangeText("-Big", reply, nullptr));
  EXPECT_EQ("untouched", reply);
  EXPECT_TRUE(Contains(Entries(),
                       "ERROR: NetworkNodeClient::RecieveMessage() - Error allocating memory for "
                       "recieving a message, point returned a NULL"));
  EXPECT_TRUE(client_->IsInitialized());
}

TEST_F(MessageConnectionTest, TheServerClosingMidReplyShutsTheClientDown) {
  auto peer = Connect();
  PeerThread script([&] {
    peer->ReadCommand();
    peer->Write(Header(1, 0xA5A5A5A5u, 20) + "half");
    peer->Close();
  });
  std::string reply = "untouched";
  EXPECT_FALSE(client_->ExchangeText("-Command", reply, nullptr));
  EXPECT_EQ("untouched", reply);
  EXPECT_FALSE(client_->IsInitialized());
  EXPECT_EQ("Not Connected", client_->GetServerName());
  EXPECT_EQ("Not Connected", client_->GetServerIPAddress());
  EXPECT_EQ(-1, client_->GetPortNumber());
  EXPECT_EQ("QuorvinSim", client_->GetServerApplicationName());

  auto entries = Entries();
  const std::vector<std::string> tail(entries.end() - 4, entries.end());
  const std::vector<std::string> expected = {
      "NOTICE: NetworkNodeClient::GetBuffer() - Attempting to recieve data has failed, socket has "
      "been closed gracefully",
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempting to Shutdown Message Client",
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempting to Close Message Client Socket",
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempt to Close Message Client Socket was "
      "successful",
  };
  EXPECT_EQ(expected, tail);
}

TEST_F(MessageConnectionTest, TheSecondShutdownWarnsAndFails) {
  auto peer = Connect();
  EXPECT_TRUE(client_->ShutdownClient());
  EXPECT_TRUE(peer->WaitClosed());
  EXPECT_FALSE(client_->ShutdownClient());
  auto entries = Entries();
  const std::vector<std::string> tail(entries.end() - 5, entries.end());
  const std::vector<std::string> expected = {
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempting to Shutdown Message Client",
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempting to Close Message Client Socket",
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempt to Close Message Client Socket was "
      "successful",
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempting to Shutdown Message Client",
      "WARNING: NetworkNodeClient::ShutdownClient() - Unable to Close Message Client, Client has "
      "not yet been initialized",
  };
  EXPECT_EQ(expected, tail);
}

TEST_F(MessageConnectionTest, WithoutAConnectionNothingIsSentOrLogged) {
  std::vector<char> buffer;
  int size = 0;
  std::string reply;
  char bytes[4] = {};
  EXPECT_FALSE(client_->SendCommand("-X"));
  EXPECT_FALSE(client_->SendMessage("abc", 3));
  EXPECT_FALSE(client_->RecieveMessage(buffer, size));
  EXPECT_FALSE(client_->GetBuffer(bytes, 4));
  EXPECT_EQ(Status::kNotSent, client_->Exchange("-X", nullptr, nullptr));
  EXPECT_FALSE(client_->RecieveReply(reply));
  EXPECT_EQ("-1", reply);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(MessageConnectionTest, ASecondInitializeIsRefused) {
  auto peer = Connect();
  EXPECT_FALSE(client_->InitializeClient("127.0.0.1", listener_.port()));
  EXPECT_EQ(
      "WARNING: NetworkNodeClient::InitializeClient() - Attempting to initialize Message "
      "Client that has already been initialized, unable to re-initialize",
      Entries().back());
  EXPECT_TRUE(client_->IsInitialized());
}

TEST_F(MessageConnectionTest, ARefusedConnectionLogsItsTextAndLeavesNoSocket) {
  const int port = testing::UnusedPort();
  const int descriptors = testing::OpenDescriptorCount();
  EXPECT_FALSE(client_->InitializeClient("127.0.0.1", port));
  EXPECT_EQ(descriptors, testing::OpenDescriptorCount());
  EXPECT_FALSE(client_->IsInitialized());
  auto entries = Entries();
  const std::vector<std::string> tail(entries.end() - 2, entries.end());
  const std::vector<std::string> expected = {
      "ERROR: NetworkNodeClient::ConnectToServer() - Error Connecting To Server, error code: "
      "WSAECONNREFUSED - The attempt to connect was forcefully rejected.",
      "ERROR: NetworkNodeClient::InitializeClient() - Failure: Unable to initialize message "
      "client",
  };
  EXPECT_EQ(expected, tail);
}

TEST_F(MessageConnectionTest, AnUnknownHostLogsAResolverTextAndLeavesNoSocket) {
  const int descriptors = testing::OpenDescriptorCount();
  EXPECT_FALSE(client_->InitializeClient("no-such-host.invalid", 26100));
  EXPECT_EQ(descriptors, testing::OpenDescriptorCount());
  auto entries = Entries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(0u, entries[entries.size() - 2].rfind(
                    "ERROR: NetworkNodeClient::GetServerInfo() - Error Getting Server Name, error "
                    "code: WSA",
                    0))
      << entries[entries.size() - 2];
  EXPECT_EQ(
      "ERROR: NetworkNodeClient::InitializeClient() - Failure: Unable to initialize message "
      "client",
      entries.back());
}

TEST_F(MessageConnectionTest, ConcurrentExchangesEachGetTheirOwnReply) {
  auto peer = Connect();
  constexpr int kPerThread = 150;
  std::atomic<int> frames{0};
  PeerThread script([&] {
    for (int i = 0; i < 2 * kPerThread; ++i) {
      auto f = peer->ReadFrame();
      if (!f) return;
      ++frames;
      peer->WriteReply("re:" + f->text());
    }
  });
  std::atomic<int> mismatches{0};
  auto worker = [&](const std::string& who) {
    for (int i = 0; i < kPerThread; ++i) {
      const std::string command = "-" + who + " " + std::to_string(i);
      std::string reply;
      if (!client_->ExchangeText(command, reply, nullptr) || reply != "re:" + command) ++mismatches;
    }
  };
  std::thread window(worker, "window");
  std::thread trial(worker, "trial");
  window.join();
  trial.join();
  script.Join();
  EXPECT_EQ(0, mismatches.load());
  EXPECT_EQ(2 * kPerThread, frames.load());
}

TEST_F(MessageConnectionTest, AStopEndsTheWaitAndTheLateReplyIsDiscarded) {
  auto peer = Connect();
  StopSignal stop;
  std::atomic<bool> b_seen{false};
  PeerThread script([&] {
    if (peer->ReadCommand() != "-A") return;
    // The reply to -A is withheld until the client has given up on it, and
    // then sent in two parts around the stop.
    const std::string reply_a = frame::EncodeTextFrame("reply A");
    peer->Write(reply_a.substr(0, 5));
    std::this_thread::sleep_for(600ms);
    peer->Write(reply_a.substr(5));
    if (peer->ReadCommand() != "-B") return;
    b_seen = true;
    peer->WriteReply("reply B");
  });
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop.Request();
  });
  const auto start = std::chrono::steady_clock::now();
  std::string reply = "untouched";
  EXPECT_EQ(Status::kStopped, client_->Exchange("-A", nullptr, &stop));
  EXPECT_LT(MillisSince(start), 500);
  stopper.join();
  EXPECT_TRUE(client_->IsReplyOwed());

  ASSERT_TRUE(client_->ExchangeText("-B", reply, nullptr));
  EXPECT_EQ("reply B", reply);
  EXPECT_TRUE(b_seen.load());
  EXPECT_FALSE(client_->IsReplyOwed());
  EXPECT_TRUE(Contains(Entries(),
                       "NOTICE: NetworkNodeClient::SendCommand() - Notice, the late reply to an "
                       "earlier command has been discarded.  command: -A, reply: reply A"));
}

// An empty reply frame is refused, but the next frame starts where it
// should: one broken reply, and the connection goes on in step.
TEST_F(MessageConnectionTest, AnEmptyReplyFrameIsOneFailureOnAConnectionThatHolds) {
  auto peer = Connect();
  PeerThread script([&] {
    if (peer->ReadCommand() != "-A") return;
    peer->Write(frame::EncodeFrame(std::string_view()));
    if (peer->ReadCommand() == "-B") peer->WriteReply("reply B");
  });
  const Status a = client_->Exchange("-A", nullptr, nullptr);
  EXPECT_EQ(a.result, ExchangeResult::kNoReply);
  EXPECT_EQ(a.Describe(), "broken reply");
  EXPECT_FALSE(a.ConnectionLost());
  std::string reply;
  ASSERT_TRUE(client_->ExchangeText("-B", reply, nullptr));
  EXPECT_EQ("reply B", reply);
  EXPECT_TRUE(client_->IsInitialized());
}

TEST_F(MessageConnectionTest, AStopRequestedBeforehandSendsNothing) {
  auto peer = Connect();
  StopSignal stop;
  stop.Request();
  EXPECT_EQ(Status::kStopped, client_->Exchange("-A", nullptr, &stop));
  EXPECT_TRUE(peer->QuietFor(200));
  EXPECT_FALSE(client_->IsReplyOwed());
}

TEST_F(MessageConnectionTest, AnOwedReplyThatNeverComesHoldsUpTheNextCommandOnlyForAWhile) {
  auto peer = Connect();
  client_->SetReplyTimeout(200ms);
  StopSignal stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(50ms);
    stop.Request();
  });
  EXPECT_EQ(Status::kStopped, client_->Exchange("-A", nullptr, &stop));
  stopper.join();
  EXPECT_EQ("-A", peer->ReadCommand());

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Status::kNotSent, client_->Exchange("-B", nullptr, nullptr));
  const long long waited = MillisSince(start);
  EXPECT_GE(waited, 190);
  EXPECT_LT(waited, 2000);
  EXPECT_TRUE(peer->QuietFor(300));  // -B never went out
  EXPECT_TRUE(
      Contains(Entries(),
               "ERROR: NetworkNodeClient::SendCommand() - Error, the server has not answered "
               "an earlier command within 200 ms, the command was not sent.  earlier "
               "command: -A, command: -B"));

  // Once the late reply is there, the connection is in step again.
  PeerThread script([&] {
    peer->WriteReply("reply A");
    if (peer->ReadCommand() == "-C") peer->WriteReply("reply C");
  });
  std::string reply;
  ASSERT_TRUE(client_->ExchangeText("-C", reply, nullptr));
  EXPECT_EQ("reply C", reply);
}

TEST_F(MessageConnectionTest, AShutdownFromAnotherThreadEndsAnExchangeThatGetsNoReply) {
  auto peer = Connect();
  std::atomic<int> result{-1};
  std::thread trial([&] {
    result = static_cast<int>(client_->Exchange("-NeverAnswered", nullptr, nullptr).result);
  });
  EXPECT_EQ("-NeverAnswered", peer->ReadCommand());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client_->ShutdownClient());
  EXPECT_LT(MillisSince(start), 4000);
  trial.join();
  EXPECT_EQ(static_cast<int>(Status::kNoReply), result.load());
  EXPECT_FALSE(client_->IsInitialized());
  EXPECT_TRUE(peer->WaitClosed());
  // The trial thread's failed receive did not shut down a second time.
  EXPECT_EQ(1, CountOf(Entries(),
                       "NOTICE: NetworkNodeClient::ShutdownClient() - Attempt to Close Message "
                       "Client Socket was successful"));
}

TEST(SocketErrorTextTest, PlatformErrorsMapOntoTheWindowsSocketsCodes) {
  EXPECT_EQ(net::kWsaEconnrefused, net::WsaCodeFromErrno(ECONNREFUSED));
  EXPECT_EQ(10061, net::WsaCodeFromErrno(ECONNREFUSED));
  EXPECT_EQ(10054, net::WsaCodeFromErrno(ECONNRESET));
  EXPECT_EQ(10060, net::WsaCodeFromErrno(ETIMEDOUT));
  EXPECT_EQ(10048, net::WsaCodeFromErrno(EADDRINUSE));
  EXPECT_EQ(10038, net::WsaCodeFromErrno(ENOTSOCK));
  EXPECT_EQ(10065, net::WsaCodeFromErrno(EHOSTUNREACH));
  EXPECT_EQ(11001, net::WsaCodeFromResolver(EAI_NONAME, 0));
  EXPECT_EQ(11002, net::WsaCodeFromResolver(EAI_AGAIN, 0));
  EXPECT_EQ(11003, net::WsaCodeFromResolver(EAI_FAIL, 0));
  EXPECT_EQ("WSAECONNREFUSED", net::SocketErrorName(10061));
}

TEST(SocketErrorTextTest, EachCallHasItsOwnTexts) {
  EXPECT_EQ(
      "NetworkNodeClient::ConnectToServer() - Error Connecting To Server, error code: "
      "WSAEACCES - Attempt to connect datagram socket to broadcast address failed because "
      "setsockopt option SO_BROADCAST is not enabled.",
      net::SocketErrorText(net::SocketCall::kConnect, 10013));
  EXPECT_EQ(
      "NetworkNodeClient::ProcessSendError() - Error sending data, error code: WSAEACCES - "
      "The requested address is a broadcast address, but the appropriate flag was not set. "
      "Call setsockopt with the SO_BROADCAST parameter to allow the use of the broadcast "
      "address.",
      net::SocketErrorText(net::SocketCall::kSend, 10013));
  EXPECT_EQ(
      "NetworkNodeClient::GetServerInfo() - Error Getting Server Name, error code: "
      "WSAHOST_NOT_FOUND - Authoritative answer host not found.",
      net::SocketErrorText(net::SocketCall::kGetServerInfo, 11001));
  EXPECT_EQ(
      "NetworkNodeClient::ConnectToServer() - Error Connecting To Server, error code: "
      "WSAEALREADY - A nonblocking connect call is in progress on the specified socket. ",
      net::SocketErrorText(net::SocketCall::kConnect, 10037));
  // Codes outside a call's table log nothing...
  EXPECT_EQ("", net::SocketErrorText(net::SocketCall::kRecieve, 10061));
  EXPECT_EQ("", net::SocketErrorText(net::SocketCall::kClose, 10054));
  // ...except on the streams' close, whose last row takes every other code.
  EXPECT_EQ(
      "NodeConnectionClient::ProcessCloseError() - Error closing socket, error code: "
      "UNKNOWN.",
      net::SocketErrorText(net::SocketCall::kStreamClose, 12345));
}

TEST_F(MessageConnectionTest, ProcessErrorsLogTheTableTexts) {
  client_->ProcessRecieveError(10054);
  client_->ProcessCloseError(10038);
  client_->ProcessSendError(99999);  // not in the table: nothing
  const std::vector<std::string> expected = {
      "ERROR: NetworkNodeClient::ProcessRecieveError() - Error recieving data, error code: "
      "WSAECONNRESET - The virtual circuit was reset by the remote side executing a hard or "
      "abortive close. For UPD sockets, the remote host was unable to deliver a previously sent "
      "UDP datagram and responded with a 'Port Unreachable' ICMP packet. The application should "
      "close the socket as it is no longer usable.",
      "ERROR: NetworkNodeClient::ProcessCloseError() - Error closing socket, error code: "
      "WSAENOTSOCK - The descriptor is not a socket.",
  };
  EXPECT_EQ(expected, Entries());
}

TEST_F(MessageConnectionTest, ParseCommandStringSplitsBlanksAndKeepsQuotedGroups) {
  std::vector<std::string> tokens;
  EXPECT_TRUE(client_->ParseCommandString("  Sc1 \"CSC 2\"\tEvents\r\n", tokens));
  EXPECT_EQ((std::vector<std::string>{"Sc1", "CSC 2", "Events"}), tokens);
  EXPECT_TRUE(client_->ParseCommandString("a \"\" b", tokens));
  EXPECT_EQ((std::vector<std::string>{"a", "", "b"}), tokens);
  EXPECT_TRUE(client_->ParseCommandString("   ", tokens));
  EXPECT_EQ(std::vector<std::string>{""}, tokens);
  EXPECT_TRUE(client_->ParseCommandString("", tokens));
  EXPECT_TRUE(tokens.empty());
  EXPECT_FALSE(client_->ParseCommandString("a \"b c", tokens));
  EXPECT_EQ(std::vector<std::string>{"a"}, tokens);
  EXPECT_EQ(
      "ERROR: CommandProcessor::ParseCommandString() - Error Processing command string, "
      "unable to find matching double quotes. command string: b c",
      Entries().back());
}

TEST(ReplyParsingTest, IntegersAreReadFromTheStartUntilOneCannotBeRead) {
  int v[3] = {0, 0, 0};
  EXPECT_EQ(2, client_text::ReadIntegers(" 0  26101", v, 3));
  EXPECT_EQ(0, v[0]);
  EXPECT_EQ(26101, v[1]);
  EXPECT_EQ(0, v[2]);
  int w[2] = {0, 0};
  EXPECT_EQ(1, client_text::ReadIntegers("-1 x 5", w, 2));
  EXPECT_EQ(-1, w[0]);
  EXPECT_EQ(0, w[1]);
  int z[2] = {0, 0};
  EXPECT_EQ(0, client_text::ReadIntegers("error", z, 2));
  EXPECT_EQ(0, client_text::LeadingInteger("abc"));
  EXPECT_EQ(-2, client_text::LeadingInteger("-2 word"));
  EXPECT_EQ(2147483647, client_text::LeadingInteger("99999999999"));
}

}  // namespace
}  // namespace orvanta
