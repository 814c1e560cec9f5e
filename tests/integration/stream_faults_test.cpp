// Data streams cut off in the middle of a record, end to end through the
// client facade: once by a scripted server that sends one and a half
// records and hangs up (exact), and once by stopping the simulator while it
// streams as fast as it can.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/frame_codec.h"
#include "tests/integration/fault_env.h"

namespace orvanta::faults {
namespace {

constexpr int kCscSize = 1044;
constexpr int kEventSize = 184;

int ListenLoopback(int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, 2) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool RecvAll(int fd, char* buffer, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = ::recv(fd, buffer + done, n - done, 0);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

// A message server that answers the client's connect sequence and object
// requests, and remembers the stream ports the client announces.
class ScriptedServer {
 public:
  ScriptedServer() {
    listener_ = ListenLoopback(&port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    ::shutdown(listener_, SHUT_RDWR);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (conn_ >= 0) ::shutdown(conn_, SHUT_RDWR);
    }
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  int StreamPort(const std::string& type) {
    std::lock_guard<std::mutex> lock(mutex_);
    return streamPorts_.count(type) ? streamPorts_[type] : 0;
  }

 private:
  void Serve() {
    const int conn = ::accept(listener_, nullptr, nullptr);
    if (conn < 0) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      conn_ = conn;
    }
    for (;;) {
      unsigned char header[frame::kHeaderSize];
      if (!RecvAll(conn, reinterpret_cast<char*>(header), sizeof header)) break;
      const frame::Header h = frame::DecodeHeader(header);
      if (h.payload_size < 1 || h.payload_size > (1 << 20)) break;
      std::string payload(static_cast<size_t>(h.payload_size), '\0');
      if (!RecvAll(conn, payload.data(), payload.size())) break;
      const std::string command = frame::PayloadText(payload);
      if (!SendAll(conn, frame::EncodeTextFrame(Answer(command)))) break;
    }
    ::close(conn);
  }

  std::string Answer(const std::string& command) {
    std::istringstream words(command);
    std::string word;
    words >> word;
    if (word == "-GetApplicationName") return "0 Scripted Server";
    if (word == "-GetNextAvailablePortNumber") return "0 0";  // the client picks its own
    if (word == "-RequestQuorvinObjects") return "0 CSC1 EV1";
    if (word == "-RequestQuorvinTypes") return "0 CscAcqEnt EventAcqEnt";
    if (word == "-CreateStream") {
      std::string ip, type;
      int port = 0;
      words >> ip >> port >> type;
      std::lock_guard<std::mutex> lock(mutex_);
      streamPorts_[type] = port;
    }
    return "0";
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  int conn_ = -1;
  std::map<std::string, int> streamPorts_;
};

// Counts the records a stream delivers and checks each one.
struct Sink {
  static void Callback(void* context, const unsigned char* records, int count,
                       std::string objectName) {
    auto* s = static_cast<Sink*>(context);
    std::lock_guard<std::mutex> lock(s->mutex);
    s->names.push_back(std::move(objectName));
    s->counts.push_back(count);
    uint64_t stamp;
    std::memcpy(&stamp, records, sizeof stamp);
    s->stamps.push_back(stamp);
    int32_t channel;
    std::memcpy(&channel, records + 8, sizeof channel);
    s->channels.push_back(channel);
    s->lastByte.push_back(records[s->recordSize - 1]);
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return names.size();
  }
  explicit Sink(int size) : recordSize(size) {}
  const int recordSize;
  std::mutex mutex;
  std::vector<std::string> names;
  std::vector<int> counts;
  std::vector<uint64_t> stamps;
  std::vector<int32_t> channels;
  std::vector<unsigned char> lastByte;
};

std::string CscRecord(int32_t channel, unsigned char fill) {
  std::string r(kCscSize, static_cast<char>(fill));
  const uint64_t stamp = 1000 + fill;
  std::memcpy(r.data(), &stamp, sizeof stamp);
  std::memcpy(r.data() + 8, &channel, sizeof channel);
  return r;
}

TEST(StreamFaultsTest, AStreamCutInTheMiddleOfARecordDeliversOnlyWholeRecordsAndTheOthersGoOn) {
  TempFolder folder;
  ScriptedServer server;
  SystemClock clock;
  testing::RecordingMessageBoxes boxes;
  VintraClient client(clock, boxes);
  ASSERT_TRUE(client.SetLogFileName(folder.path() + "/client.txt"));
  ASSERT_TRUE(client.ConnectToServer("127.0.0.1", false, 0, server.port()));
  std::vector<std::string> names, types;
  ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
  Sink csc(kCscSize), events(kEventSize);
  client.SetCallbackFunctionCSC(&Sink::Callback, &csc);
  client.SetCallbackFunctionEV(&Sink::Callback, &events);
  ASSERT_TRUE(client.OpenStream("CSC1", "CscAcqEnt"));
  ASSERT_TRUE(client.OpenStream("EV1", "EventAcqEnt"));

  // One and a half CSC records, then the server hangs up.
  const int cscFd = ConnectLoopback(server.StreamPort("CscAcqEnt"));
  ASSERT_GE(cscFd, 0);
  ASSERT_TRUE(SendAll(cscFd, CscRecord(0, 0x21) + CscRecord(0, 0x22).substr(0, 500)));
  ::close(cscFd);
  ASSERT_TRUE(WaitUntil([&] {
    return ReadWholeFile(folder.path() + "/client.txt")
               .find(
                   "NodeConnectionClient::RecieveData() - Attempt to recieve data has failed, "
                   "socket has been closed gracefully.  mStreamType: CSC") != std::string::npos;
  }));
  EXPECT_EQ(csc.Count(), 1u);
  EXPECT_EQ(csc.names, std::vector<std::string>{"CSC1"});
  EXPECT_EQ(csc.lastByte, std::vector<unsigned char>{0x21});

  // The event stream is untouched by that.
  const int evFd = ConnectLoopback(server.StreamPort("EventAcqEnt"));
  ASSERT_GE(evFd, 0);
  ASSERT_TRUE(SendAll(evFd, std::string(2 * kEventSize, '\x05')));
  EXPECT_TRUE(WaitUntil([&] { return events.Count() == 2; }));
  EXPECT_EQ(events.names, (std::vector<std::string>{"EV1", "EV1"}));

  // Commands and a disconnect still work.
  std::string reply;
  EXPECT_TRUE(client.SendCommand("-PostEvent \"After\" 1 0", reply));
  EXPECT_EQ(reply, "0");
  const auto start = SteadyClock::now();
  EXPECT_TRUE(client.DisconnectFromServer());
  EXPECT_LT(MillisSince(start), 3000);
  ::close(evFd);
  EXPECT_EQ(csc.Count(), 1u);
}

// The simulator streams CSC records as fast as the client reads and is then
// stopped, which cuts its streams wherever they are. Every record that
// reached the callback is whole and in order; the client then disconnects
// promptly.
TEST(StreamFaultsTest, StoppingTheSimulatorMidStreamDeliversOnlyWholeRecords) {
  sim::SimOptions options;
  options.negotiation_enabled = false;
  options.negotiation_port = 0;
  options.message_port = 0;
  options.quiet = true;
  options.record_rate_hz = 0;
  sim::Transcript transcript;
  std::string error;
  ASSERT_TRUE(transcript.Open({}, &error)) << error;
  sim::SimServer server(options, transcript);
  ASSERT_TRUE(server.Start(&error)) << error;

  SystemClock clock;
  testing::RecordingMessageBoxes boxes;
  VintraClient client(clock, boxes);
  ASSERT_TRUE(client.ConnectToServer("127.0.0.1", false, 0, server.message_port()));
  std::vector<std::string> names, types;
  ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
  Sink csc(kCscSize);
  client.SetCallbackFunctionCSC(&Sink::Callback, &csc);
  ASSERT_TRUE(client.OpenStream("CSC1", "CscAcqEnt"));
  ASSERT_TRUE(client.OpenStream("CSC2", "CscAcqEnt"));
  ASSERT_TRUE(WaitUntil([&] { return csc.Count() >= 2000; }));

  server.Stop();
  std::this_thread::sleep_for(100ms);
  const size_t delivered = csc.Count();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(csc.Count(), delivered) << "records after the stream was cut";

  {
    std::lock_guard<std::mutex> lock(csc.mutex);
    for (size_t i = 0; i < csc.names.size(); ++i) {
      ASSERT_EQ(csc.counts[i], 1);
      ASSERT_TRUE(csc.channels[i] == 0 || csc.channels[i] == 1) << i;
      ASSERT_EQ(csc.names[i], csc.channels[i] == 0 ? "CSC1" : "CSC2") << i;
      if (i > 0) {
        ASSERT_GE(csc.stamps[i], csc.stamps[i - 1]) << i;
      }
    }
  }
  const auto start = SteadyClock::now();
  client.DisconnectFromServer();
  EXPECT_LT(MillisSince(start), 3000);
  EXPECT_FALSE(client.IsConnected());
}

}  // namespace
}  // namespace orvanta::faults
