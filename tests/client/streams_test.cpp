// The data streams against a scripted server: set-up on the wire, records cut
// from partial reads, object names, open counts and the shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/network_node_client.h"
#include "fakes/fakes.h"
#include "scripted_peer.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using testing::AnsweringPeer;
using testing::Contains;
using testing::CountOf;
using testing::PeerConnection;
using testing::PeerListener;
using testing::PeerThread;
using testing::WaitUntil;

constexpr int kSE = NetworkNodeClient::kStreamSE;
constexpr int kST = NetworkNodeClient::kStreamST;
constexpr int kTT = NetworkNodeClient::kStreamTT;
constexpr int kCSC = NetworkNodeClient::kStreamCSC;
constexpr int kVT = NetworkNodeClient::kStreamVT;
constexpr int kEV = NetworkNodeClient::kStreamEV;

const char* const kTypeNames[] = {"SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt",
                                  "CscAcqEnt",  "VTAcqEnt",   "EventAcqEnt"};

// Records every delivered record with its object name.
struct Recorder {
  explicit Recorder(int size) : record_size(size) {}
  static void Callback(void* context, const unsigned char* records, int count,
                       std::string objectName) {
    auto* self = static_cast<Recorder*>(context);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->names.push_back(std::move(objectName));
    self->records.emplace_back(reinterpret_cast<const char*>(records),
                               static_cast<size_t>(self->record_size) * count);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return names.size();
  }
  std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(mutex);
    return names;
  }
  const int record_size;
  std::mutex mutex;
  std::vector<std::string> names;
  std::vector<std::string> records;
};

// A record of `size` bytes with a little-endian field at `offset`.
std::string Record(int size, int offset, int32_t value, int field_bytes = 4, char fill = 'x') {
  std::string r(static_cast<size_t>(size), fill);
  for (int i = 0; i < field_bytes; ++i)
    r[static_cast<size_t>(offset + i)] =
        static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
  return r;
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = std::make_unique<NetworkNodeClient>(clock_, boxes_);
    ASSERT_TRUE(client_->SetLogFileName(log_path_));
  }
  void TearDown() override {
    client_.reset();
    server_.reset();
  }

  // Connects and lets the server answer every command; port requests get
  // "0 0" (any free port) unless port_replies_ says otherwise.
  void Connect() {
    PeerThread accept([&] {
      auto connection = listener_.Accept();
      if (!connection) return;
      server_ = std::make_unique<AnsweringPeer>(std::move(connection),
                                                [this](const std::string& c) { return Reply(c); });
    });
    ASSERT_TRUE(client_->InitializeClient("127.0.0.1", listener_.port()));
    accept.Join();
    ASSERT_TRUE(server_);
  }

  void ConnectWithStreams() {
    Connect();
    ASSERT_EQ(0, client_->InitializeConnectionNodes());
  }

  std::optional<std::string> Reply(const std::string& command) {
    std::lock_guard<std::mutex> lock(reply_mutex_);
    if (!close_on_.empty() && command.rfind(close_on_, 0) == 0) return std::nullopt;
    if (command == "-GetApplicationName") return std::string("0 Sim");
    if (command == "-GetNextAvailablePortNumber") {
      if (port_replies_.empty()) return std::string("0 0");
      std::string r = port_replies_.front();
      port_replies_.erase(port_replies_.begin());
      return r;
    }
    if (command == "-RequestQuorvinObjects") return "0 " + objects_;
    if (command == "-RequestQuorvinTypes") return "0 " + types_;
    return std::string("0");
  }

  void SetLists(const std::string& objects, const std::string& types) {
    std::lock_guard<std::mutex> lock(reply_mutex_);
    objects_ = objects;
    types_ = types;
  }

  void RequestLists(const std::string& objects, const std::string& types) {
    SetLists(objects, types);
    std::vector<std::string> names, kinds;
    ASSERT_TRUE(client_->RequestObjectsAndTypes(names, kinds));
  }

  // The port each stream announced in its "-CreateStream" command.
  int AnnouncedPort(int stream) {
    for (const std::string& c : server_->commands()) {
      char address[64];
      int port = 0;
      char type[64];
      if (std::sscanf(c.c_str(), "-CreateStream %63s %d %63s", address, &port, type) == 3 &&
          std::string(type) == kTypeNames[stream]) {
        return port;
      }
    }
    return -1;
  }

  // Connects to a stream as the server does.
  // Connects with the streams set up, lists CSC1 and CSC2, hands the CSC
  // stream's records to `recorder` and opens its data connection.
  std::unique_ptr<PeerConnection> OpenCscInto(Recorder& recorder) {
    ConnectWithStreams();
    RequestLists("CSC1 CSC2", "CscAcqEnt CscAcqEnt");
    client_->Stream(kCSC).SetCallbackFunctionCSC(&Recorder::Callback, &recorder);
    return OpenData(kCSC);
  }
  std::unique_ptr<PeerConnection> OpenData(int stream) {
    return testing::ConnectTo(AnnouncedPort(stream));
  }

  std::vector<std::string> Entries() const { return testing::LogEntries(log_path_); }

  std::vector<std::string> CommandsAfter(size_t n) {
    auto all = server_->commands();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(n, all.size())),
                                    all.end());
  }

  testing::FixedClock clock_;
  testing::RecordingMessageBoxes boxes_;
  testing::TempDir dir_;
  const std::string log_path_ = dir_.File("client.log");
  PeerListener listener_;
  std::unique_ptr<AnsweringPeer> server_;
  std::unique_ptr<NetworkNodeClient> client_;

  std::mutex reply_mutex_;
  std::vector<std::string> port_replies_;
  std::string objects_ = "";
  std::string types_ = "";
  std::string close_on_;
};

TEST_F(StreamTest, EachStreamAsksForAPortAndAnnouncesTheMessageConnectionsAddress) {
  // Ports handed out by the server are listened on and announced as given.
  std::vector<std::unique_ptr<PeerListener>> holders;
  std::vector<int> ports;
  for (int i = 0; i < 6; ++i) {
    holders.push_back(std::make_unique<PeerListener>());
    ports.push_back(holders.back()->port());
  }
  holders.clear();
  for (int p : ports) port_replies_.push_back("0 " + std::to_string(p));

  ConnectWithStreams();
  std::vector<std::string> expected = {"-GetApplicationName"};
  for (int i = 0; i < 6; ++i) {
    expected.emplace_back("-GetNextAvailablePortNumber");
    expected.push_back("-CreateStream 127.0.0.1 " + std::to_string(ports[static_cast<size_t>(i)]) +
                       " " + kTypeNames[i]);
  }
  EXPECT_EQ(expected, server_->commands());
  EXPECT_TRUE(client_->StreamsInitialized());
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(ports[static_cast<size_t>(i)], client_->Stream(i).GetPortNumber());
    EXPECT_TRUE(OpenData(i)) << kTypeNames[i];
  }
}

TEST_F(StreamTest, AFailedPortRequestStopsTheSetUpAndTheShutdownClosesWhatWasSetUp) {
  port_replies_ = {"0 0", "0 0", "-1"};
  Connect();
  EXPECT_EQ(-1, client_->InitializeConnectionNodes());
  EXPECT_FALSE(client_->StreamsInitialized());
  EXPECT_EQ(
      "ERROR: NetworkNodeClient::InitializeConnectionNodes() - call to get next port "
      "number failed, unable to initialize server streams.",
      Entries().back());
  const int se_port = AnnouncedPort(kSE);
  ASSERT_GT(se_port, 0);
  EXPECT_EQ(-1, AnnouncedPort(kTT));
  EXPECT_TRUE(client_->Stream(kSE).IsSetUp());
  EXPECT_FALSE(client_->Stream(kTT).IsSetUp());

  EXPECT_TRUE(client_->ShutdownClient());
  EXPECT_FALSE(client_->Stream(kSE).IsSetUp());
  EXPECT_FALSE(client_->Stream(kST).IsSetUp());
  EXPECT_FALSE(testing::ConnectTo(se_port));
  EXPECT_EQ(2, CountOf(Entries(),
                       "NOTICE: NodeConnectionClient::CloseServerStream() - mDmaProcessor thread "
                       "has been terminated successfully."));
}

TEST_F(StreamTest, ARecordArrivingInPiecesIsDeliveredOnceWhole) {
  Recorder recorder(1044);
  auto data = OpenCscInto(recorder);
  ASSERT_TRUE(data);
  const std::string record = Record(1044, 8, 1);
  for (size_t at = 0; at + 100 < record.size(); at += 100) {
    data->Write(record.substr(at, 100));
    std::this_thread::sleep_for(2ms);
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(0u, recorder.count());
  data->Write(record.substr(1000));
  ASSERT_TRUE(WaitUntil([&] { return recorder.count() == 1; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(1u, recorder.count());
  EXPECT_EQ(std::vector<std::string>{"CSC2"}, recorder.Names());
  EXPECT_EQ(record, recorder.records[0]);
}

TEST_F(StreamTest, TwoRecordsInOnePieceAreDeliveredOneByOne) {
  Recorder recorder(1044);
  auto data = OpenCscInto(recorder);
  ASSERT_TRUE(data);
  const std::string first = Record(1044, 8, 0, 4, 'a');
  const std::string second = Record(1044, 8, 1, 4, 'b');
  data->Write(first + second);
  ASSERT_TRUE(WaitUntil([&] { return recorder.count() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"CSC1", "CSC2"}), recorder.Names());
  EXPECT_EQ(first, recorder.records[0]);
  EXPECT_EQ(second, recorder.records[1]);
}

// The endpoint reads in large chunks: many records in odd-sized pieces, more
// than fit in one read, each delivered whole, once and in order, also those
// split across two reads.
TEST_F(StreamTest, RecordsSplitAcrossLargeReadsArriveWholeAndInOrder) {
  Recorder recorder(1044);
  auto data = OpenCscInto(recorder);
  ASSERT_TRUE(data);
  std::string bytes;
  const int kRecords = 600;  // about 2.4 of the endpoint's reads
  for (int i = 0; i < kRecords; ++i)
    bytes += Record(1044, 8, i % 2, 4, static_cast<char>('a' + i % 26));
  for (size_t at = 0; at < bytes.size(); at += 7777) data->Write(bytes.substr(at, 7777));
  ASSERT_TRUE(WaitUntil([&] { return recorder.count() == static_cast<size_t>(kRecords); }));
  for (int i = 0; i < kRecords; ++i) {
    ASSERT_EQ(bytes.substr(static_cast<size_t>(i) * 1044, 1044), recorder.records[i]) << i;
  }
  EXPECT_EQ(recorder.Names()[kRecords - 1], "CSC2");
}

TEST_F(StreamTest, ARecordCutShortByACloseIsNotDeliveredAndOtherStreamsGoOn) {
  ConnectWithStreams();
  RequestLists("CSC1 Events", "CscAcqEnt EventAcqEnt");
  Recorder csc(1044);
  Recorder events(184);
  client_->Stream(kCSC).SetCallbackFunctionCSC(&Recorder::Callback, &csc);
  client_->Stream(kEV).SetCallbackFunctionEV(&Recorder::Callback, &events);
  auto csc_data = OpenData(kCSC);
  auto ev_data = OpenData(kEV);
  ASSERT_TRUE(csc_data && ev_data);
  csc_data->Write(Record(1044, 8, 0).substr(0, 600));
  csc_data->Close();
  const std::string closed =
      "NOTICE: NodeConnectionClient::RecieveData() - Attempt to recieve data has failed, socket "
      "has been closed gracefully.  mStreamType: CSC";
  ASSERT_TRUE(WaitUntil([&] { return Contains(Entries(), closed); }));
  ev_data->Write(Record(184, 8, 77));
  ASSERT_TRUE(WaitUntil([&] { return events.count() == 1; }));
  EXPECT_EQ(std::vector<std::string>{"Events"}, events.Names());
  EXPECT_EQ(0u, csc.count());
}

TEST_F(StreamTest, ObjectIndicesOutOfRangeAreLoggedAndNotDelivered) {
  ConnectWithStreams();
  RequestLists("Sc1 CSC1 CSC2 VT1", "SEScAcqEnt CscAcqEnt CscAcqEnt VTAcqEnt");
  Recorder se(112), csc(1044), vt(1828);
  client_->Stream(kSE).SetCallbackFunctionSE(&Recorder::Callback, &se);
  client_->Stream(kCSC).SetCallbackFunctionCSC(&Recorder::Callback, &csc);
  client_->Stream(kVT).SetCallbackFunctionVT(&Recorder::Callback, &vt);
  auto se_data = OpenData(kSE);
  auto csc_data = OpenData(kCSC);
  auto vt_data = OpenData(kVT);
  ASSERT_TRUE(se_data && csc_data && vt_data);

  csc_data->Write(Record(1044, 8, 2));  // == number of CSC objects
  se_data->Write(Record(112, 8, -1));
  vt_data->Write(Record(1828, 2, 0, 2) + Record(1828, 2, 1, 2));

  const std::vector<std::string> errors = {
      "ERROR: NodeConnectionClientCSC::ExecuteCallback() - Error, we have encountered an invalid "
      "channel number from our vintra buffer.  chanNumber: 2",
      "ERROR: NodeConnectionClientSE::ExecuteCallback() - Error, we have encountered an invalid "
      "spike channel number from our vintra buffer.  scNumber: -1",
      "ERROR: NodeConnectionClientVT::ExecuteCallback() - Error, we have encountered an invalid "
      "video tracker ID from our vintra buffer.  id: 1",
  };
  for (const std::string& error : errors)
    EXPECT_TRUE(WaitUntil([&] { return Contains(Entries(), error); })) << error;
  ASSERT_TRUE(WaitUntil([&] { return vt.count() == 1; }));
  EXPECT_EQ(std::vector<std::string>{"VT1"}, vt.Names());
  EXPECT_EQ(0u, se.count());
  EXPECT_EQ(0u, csc.count());
}

TEST_F(StreamTest, TheSpikeStreamsShareOneObjectList) {
  ConnectWithStreams();
  RequestLists("Sc1 St1 \"Tt 1\" CSC1", "SEScAcqEnt STScAcqEnt TTScAcqEnt CscAcqEnt");
  const std::vector<std::string> spikes = {"Sc1", "St1", "Tt 1"};
  EXPECT_EQ(spikes, client_->Stream(kSE).GetTypeObjects());
  EXPECT_EQ(spikes, client_->Stream(kST).GetTypeObjects());
  EXPECT_EQ(spikes, client_->Stream(kTT).GetTypeObjects());
  EXPECT_EQ(std::vector<std::string>{"CSC1"}, client_->Stream(kCSC).GetTypeObjects());
  Recorder tt(304);
  client_->Stream(kTT).SetCallbackFunctionTT(&Recorder::Callback, &tt);
  auto data = OpenData(kTT);
  ASSERT_TRUE(data);
  data->Write(Record(304, 8, 2) + Record(304, 8, 0));
  ASSERT_TRUE(WaitUntil([&] { return tt.count() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"Tt 1", "Sc1"}), tt.Names());
}

TEST_F(StreamTest, EventsBeforeTheListsCarryAnEmptyNameAndUnregisteredStreamsStayQuiet) {
  ConnectWithStreams();
  Recorder events(184);
  client_->Stream(kEV).SetCallbackFunctionEV(&Recorder::Callback, &events);
  // The other setters do nothing on this stream.
  Recorder wrong(184);
  client_->Stream(kEV).SetCallbackFunctionCSC(&Recorder::Callback, &wrong);
  Recorder no_context(1044);
  client_->Stream(kCSC).SetCallbackFunctionCSC(&Recorder::Callback, nullptr);
  auto ev = OpenData(kEV);
  auto csc = OpenData(kCSC);
  auto se = OpenData(kSE);
  ASSERT_TRUE(ev && csc && se);
  const size_t entries_before = Entries().size();
  se->Write(Record(112, 8, 99));    // no callback registered: dropped silently
  csc->Write(Record(1044, 8, 99));  // null context: dropped silently
  ev->Write(Record(184, 8, 5));
  ASSERT_TRUE(WaitUntil([&] { return events.count() == 1; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(std::vector<std::string>{""}, events.Names());
  EXPECT_EQ(0u, wrong.count());
  EXPECT_EQ(0u, no_context.count());
  EXPECT_EQ(entries_before, Entries().size());
}

TEST_F(StreamTest, OpenCountsDecideWhenCloseStreamIsSent) {
  ConnectWithStreams();
  RequestLists("CSC1 Sc1", "CscAcqEnt SEScAcqEnt");
  const size_t before = server_->commands().size();
  EXPECT_TRUE(client_->OpenStream("CSC1", "CscAcqEnt"));
  EXPECT_TRUE(client_->OpenStream("CSC1", "CscAcqEnt"));
  EXPECT_FALSE(client_->CloseStream("CSC1", "CscAcqEnt"));
  EXPECT_EQ(1, client_->Stream(kCSC).GetStreamObjectCount("CSC1"));
  EXPECT_EQ((std::vector<std::string>{"-OpenStream CSC1 CscAcqEnt", "-OpenStream CSC1 CscAcqEnt"}),
            CommandsAfter(before));
  EXPECT_TRUE(client_->CloseStream("CSC1", "CscAcqEnt"));
  EXPECT_EQ("-CloseStream CSC1 CscAcqEnt", CommandsAfter(before).back());

  // Wrong pairings and objects never opened send nothing.
  const size_t sent = server_->commands().size();
  EXPECT_FALSE(client_->OpenStream("CSC1", "SEScAcqEnt"));
  EXPECT_EQ(
      "ERROR: NetworkNodeClient::OpenStream() - Error, invalid parameter, unrecognized "
      "object name and data type pairing.  objectName: CSC1, dataType: SEScAcqEnt",
      Entries().back());
  EXPECT_FALSE(client_->CloseStream("Sc1", "SEScAcqEnt"));
  EXPECT_EQ(
      "ERROR: NodeConnectionClient::RemoveStreamObject() - Error, Attempt to remove object "
      "from our list failed, the object was not found.  objectName: Sc1, mStreamType "
      "SingleElectrode.",
      Entries().back());
  EXPECT_FALSE(client_->CloseStream("Sc1", "NoSuchType"));
  EXPECT_EQ(
      "ERROR: NetworkNodeClient::CloseStream() - Error, invalid parameter, unrecognized "
      "data type.  dataType: NoSuchType",
      Entries().back());
  EXPECT_EQ(sent, server_->commands().size());
}

TEST_F(StreamTest, OpeningBeforeTheListsFails) {
  ConnectWithStreams();
  const size_t sent = server_->commands().size();
  EXPECT_FALSE(client_->OpenStream("CSC1", "CscAcqEnt"));
  EXPECT_EQ(
      "ERROR: NetworkNodeClient::OpenStream() - Error, invalid parameter, unrecognized "
      "object name and data type pairing.  objectName: CSC1, dataType: CscAcqEnt",
      Entries().back());
  EXPECT_EQ(sent, server_->commands().size());
}

TEST_F(StreamTest, TheShutdownClosesListedObjectsWhileTheConnectionIsUp) {
  ConnectWithStreams();
  RequestLists("Never Once Twice", "CscAcqEnt CscAcqEnt EventAcqEnt");
  ASSERT_TRUE(client_->OpenStream("Once", "CscAcqEnt"));
  ASSERT_TRUE(client_->OpenStream("Twice", "EventAcqEnt"));
  ASSERT_TRUE(client_->OpenStream("Twice", "EventAcqEnt"));
  auto csc = OpenData(kCSC);  // one stream connected, the others waiting in accept
  ASSERT_TRUE(csc);
  const size_t before = server_->commands().size();

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client_->ShutdownClient());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // blocked threads stop promptly

  EXPECT_EQ(std::vector<std::string>{"-CloseStream Once CscAcqEnt"}, CommandsAfter(before));
  EXPECT_EQ(1, client_->Stream(kEV).GetStreamObjectCount("Twice"));
  EXPECT_TRUE(csc->WaitClosed());
  for (int i = 0; i < 6; ++i) EXPECT_FALSE(client_->Stream(i).IsSetUp());

  const auto entries = Entries();
  EXPECT_TRUE(Contains(entries,
                       "ERROR: NodeConnectionClient::RemoveStreamObject() - Error, Attempt to "
                       "remove object from our list failed, the object was not found.  "
                       "objectName: Never, mStreamType CSC."));
  EXPECT_EQ(6, CountOf(entries,
                       "NOTICE: NodeConnectionClient::CloseServerStream() - mDmaProcessor thread "
                       "has been terminated successfully."));
  EXPECT_EQ(6, CountOf(entries,
                       "NOTICE: NodeConnectionClient::CloseServerStream() - WaitForSingleObject "
                       "for mDmaProcessor thread completed successfully."));
  // Stopping the threads is not news: no accept or receive errors.
  for (const auto& e : entries) EXPECT_EQ(std::string::npos, e.find("AcceptClientSocket")) << e;
  EXPECT_EQ(
      "NOTICE: NetworkNodeClient::ShutdownClient() - Attempt to Close Message Client Socket "
      "was successful",
      entries.back());
}

TEST_F(StreamTest, AConnectionLostDuringTheShutdownsCloseStreamShutsDownOnce) {
  ConnectWithStreams();
  RequestLists("A B", "CscAcqEnt CscAcqEnt");
  ASSERT_TRUE(client_->OpenStream("A", "CscAcqEnt"));
  ASSERT_TRUE(client_->OpenStream("B", "CscAcqEnt"));
  {
    std::lock_guard<std::mutex> lock(reply_mutex_);
    close_on_ = "-CloseStream";
  }
  EXPECT_TRUE(client_->ShutdownClient());
  EXPECT_FALSE(client_->IsInitialized());
  const auto entries = Entries();
  // Each failed exchange of the shutdown asks for a shutdown of its own; the
  // inner calls are refused.
  EXPECT_GE(CountOf(entries,
                    "WARNING: NetworkNodeClient::ShutdownClient() - Unable to Close Message "
                    "Client, a shutdown is already in progress"),
            1);
  EXPECT_EQ(1, CountOf(entries,
                       "NOTICE: NetworkNodeClient::ShutdownClient() - Attempt to Close Message "
                       "Client Socket was successful"));
  EXPECT_EQ(6, CountOf(entries,
                       "NOTICE: NodeConnectionClient::CloseServerStream() - mDmaProcessor thread "
                       "has been terminated successfully."));
  EXPECT_EQ(0, client_->Stream(kCSC).GetStreamObjectCount("A"));
  EXPECT_EQ(0, client_->Stream(kCSC).GetStreamObjectCount("B"));
}

TEST_F(StreamTest, ACallbackMayExchangeAndDoesNotBlockTheShutdown) {
  ConnectWithStreams();
  RequestLists("Events", "EventAcqEnt");
  struct Context {
    NetworkNodeClient* client;
    std::atomic<int> calls{0};
    std::atomic<int> replies{0};
  } context{client_.get()};
  // NOLINTNEXTLINE(performance-unnecessary-value-param): StreamCallback's form
  StreamCallback callback = [](void* c, const unsigned char*, int, std::string) {
    auto* ctx = static_cast<Context*>(c);
    ++ctx->calls;
    std::string reply;
    if (ctx->client->ExchangeText("-FromCallback", reply, nullptr)) ++ctx->replies;
  };
  client_->Stream(kEV).SetCallbackFunctionEV(callback, &context);
  auto ev = OpenData(kEV);
  ASSERT_TRUE(ev);
  ev->Write(Record(184, 8, 0));
  ASSERT_TRUE(WaitUntil([&] { return context.replies.load() == 1; }));
  // Keep records coming while the connection is shut down.
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    while (!done.load() && ev->Write(Record(184, 8, 0))) std::this_thread::sleep_for(1ms);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client_->ShutdownClient());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  done.store(true);
  feeder.join();
}

TEST_F(StreamTest, ACallbackMayShutTheConnectionDown) {
  ConnectWithStreams();
  RequestLists("Events", "EventAcqEnt");
  struct Context {
    NetworkNodeClient* client;
    std::atomic<int> shutdowns{0};
  } context{client_.get()};
  // NOLINTNEXTLINE(performance-unnecessary-value-param): StreamCallback's form
  StreamCallback callback = [](void* c, const unsigned char*, int, std::string) {
    auto* ctx = static_cast<Context*>(c);
    if (ctx->client->ShutdownClient()) ++ctx->shutdowns;
  };
  client_->Stream(kEV).SetCallbackFunctionEV(callback, &context);
  auto ev = OpenData(kEV);
  ASSERT_TRUE(ev);
  ev->Write(Record(184, 8, 0));
  ASSERT_TRUE(WaitUntil([&] { return context.shutdowns.load() == 1; }));
  EXPECT_TRUE(ev->WaitClosed());  // the stream's own thread closed its sockets
  EXPECT_TRUE(WaitUntil([&] { return !client_->Stream(kEV).IsSetUp(); }));
  EXPECT_FALSE(client_->IsInitialized());
  client_.reset();  // no thread is left behind to touch the destroyed streams
}

// A callback that blocks does not hold up the shutdown: the stream waits its
// 500 ms, logs (once, truthfully) that its thread could not be ended, and
// lets it go; a new set-up waits for it only for a while. The thread closes
// its sockets once the callback returns.
TEST_F(StreamTest, ACallbackThatBlocksIsLetGoAfterItsWait) {
  ConnectWithStreams();
  RequestLists("Events", "EventAcqEnt");
  struct Context {
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false;
    bool release = false;
  } context;
  // NOLINTNEXTLINE(performance-unnecessary-value-param): StreamCallback's form
  StreamCallback callback = [](void* c, const unsigned char*, int, std::string) {
    auto* ctx = static_cast<Context*>(c);
    std::unique_lock<std::mutex> lock(ctx->mutex);
    ctx->entered = true;
    ctx->cv.notify_all();
    ctx->cv.wait_for(lock, 20s, [ctx] { return ctx->release; });
  };
  client_->Stream(kEV).SetCallbackFunctionEV(callback, &context);
  auto ev = OpenData(kEV);
  ASSERT_TRUE(ev);
  ev->Write(Record(184, 8, 0));
  {
    std::unique_lock<std::mutex> lock(context.mutex);
    ASSERT_TRUE(context.cv.wait_for(lock, 10s, [&] { return context.entered; }));
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client_->ShutdownClient());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  const auto entries = Entries();
  EXPECT_TRUE(Contains(entries,
                       "ERROR: NodeConnectionClient::CloseServerStream() - Error, "
                       "mDmaProcessor thread was unable to terminate. lastError: " +
                           std::to_string(ETIMEDOUT)));
  // The other five streams ended; the blocked one claims no success.
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                          [](const std::string& e) {
                            return e.find(
                                       "mDmaProcessor thread has been terminated "
                                       "successfully.") != std::string::npos;
                          }),
            NetworkNodeClient::kStreamCount - 1);

  const auto again = std::chrono::steady_clock::now();
  EXPECT_FALSE(client_->Stream(kEV).InitServerStream(0));
  EXPECT_LT(std::chrono::steady_clock::now() - again, 5s);
  EXPECT_TRUE(Contains(Entries(),
                       "ERROR: NodeConnectionClient::CloseServerStream() - Error, the "
                       "mDmaProcessor thread of an earlier connection is still inside its "
                       "callback, the stream cannot be set up again yet.  mStreamType: Event"));
  {
    std::lock_guard<std::mutex> lock(context.mutex);
    context.release = true;
  }
  context.cv.notify_all();
  EXPECT_TRUE(ev->WaitClosed());
  client_.reset();  // waits for the let-go thread before the streams go
}

}  // namespace
}  // namespace orvanta
