// Stream delivery: CSC records (1044 bytes) sent by the simulator as fast as
// the reader takes them, delivered one by one to a callback registered with
// the client, beside a plain recv loop that reads the same stream from the
// same simulator in large chunks.
//
// Each side reads for a fixed window after a short warm-up; records and
// bytes per second are counted over that window.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_env.h"
#include "bench/bench_report.h"
#include "bench/raw_socket.h"
#include "client/client_log_file.h"
#include "client/frame_codec.h"
#include "client/node_connection_client.h"
#include "client/vintra_client.h"
#include "platform/clock.h"

namespace orvanta::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kCscRecordSize = 1044;
constexpr auto kWarmUp = 300ms;
constexpr auto kWindow = 3s;
constexpr size_t kChunk = 256 * 1024;
constexpr int kCeilingRounds = 7;
constexpr auto kCeilingWarmUp = 100ms;
constexpr std::chrono::milliseconds kCeilingWindow{500};

struct Rate {
  double recordsPerSecond = 0;
  double bytesPerSecond = 0;
  uint64_t records = 0;
};
std::map<std::string, Rate> gResults;

sim::SimOptions FastCsc() {
  sim::SimOptions options;
  options.record_rate_hz = 0;  // as fast as the reader takes them
  return options;
}

// The user's side of the stream: counts records and reads one field of
// each (the time stamp), without copying the record.
struct Counter {
  std::atomic<uint64_t> records{0};
  std::atomic<uint64_t> bytes{0};
  uint64_t checksum = 0;  // receive thread only
  std::atomic<uint64_t> wrongName{0};
};

void CountRecord(void* context, const unsigned char* records, int recordCount,
                 std::string objectName) {  // NOLINT(performance-unnecessary-value-param)
  auto* c = static_cast<Counter*>(context);
  uint64_t stamp;
  std::memcpy(&stamp, records, sizeof stamp);
  c->checksum += stamp;
  if (objectName != "CSC1") c->wrongName.fetch_add(1, std::memory_order_relaxed);
  c->records.fetch_add(static_cast<uint64_t>(recordCount), std::memory_order_relaxed);
  c->bytes.fetch_add(static_cast<uint64_t>(recordCount) * kCscRecordSize,
                     std::memory_order_relaxed);
}

void BM_RawRecvLoop(benchmark::State& state) {
  SimHarness sim(FastCsc());
  RawStream stream;
  if (!OpenRawStream(sim.port(), "CSC1", "CscAcqEnt", stream)) {
    state.SkipWithError("cannot set the stream up and open the CSC object");
    return;
  }
  RawSocket& data = stream.data;
  std::vector<char> chunk(kChunk);
  Rate rate;
  for (auto _ : state) {
    const auto warmEnd = SteadyClock::now() + kWarmUp;
    while (SteadyClock::now() < warmEnd) {
      if (data.RecvSome(chunk.data(), chunk.size()) <= 0) break;
    }
    uint64_t bytes = 0;
    const auto start = SteadyClock::now();
    const auto end = start + kWindow;
    SteadyClock::time_point now = start;
    while (now < end) {
      const long n = data.RecvSome(chunk.data(), chunk.size());
      if (n <= 0) {
        state.SkipWithError("the stream ended");
        return;
      }
      bytes += static_cast<uint64_t>(n);
      now = SteadyClock::now();
    }
    const double seconds = std::chrono::duration<double>(now - start).count();
    rate.bytesPerSecond = static_cast<double>(bytes) / seconds;
    rate.recordsPerSecond = rate.bytesPerSecond / kCscRecordSize;
    rate.records = bytes / kCscRecordSize;
  }
  gResults["raw"] = rate;
  state.counters["records_per_s"] = rate.recordsPerSecond;
  state.counters["MB_per_s"] = rate.bytesPerSecond / 1e6;
  data.Shutdown();
}
BENCHMARK(BM_RawRecvLoop)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ClientCallback(benchmark::State& state) {
  SimHarness sim(FastCsc());
  SystemClock clock;
  SilentBoxes boxes;
  VintraClient client(clock, boxes);
  Counter counter;
  std::vector<std::string> names, types;
  if (!client.ConnectToServer("127.0.0.1", false, 0, sim.port()) ||
      !client.GetObjectsAndTypes(names, types)) {
    state.SkipWithError("cannot connect the client to the simulator");
    return;
  }
  client.SetCallbackFunctionCSC(CountRecord, &counter);
  if (!client.OpenStream("CSC1", "CscAcqEnt")) {
    state.SkipWithError("cannot open the CSC object");
    return;
  }
  Rate rate;
  for (auto _ : state) {
    std::this_thread::sleep_for(kWarmUp);
    const uint64_t r0 = counter.records.load();
    const uint64_t b0 = counter.bytes.load();
    const auto start = SteadyClock::now();
    std::this_thread::sleep_for(kWindow);
    const uint64_t r1 = counter.records.load();
    const uint64_t b1 = counter.bytes.load();
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    rate.recordsPerSecond = static_cast<double>(r1 - r0) / seconds;
    rate.bytesPerSecond = static_cast<double>(b1 - b0) / seconds;
    rate.records = r1 - r0;
  }
  client.CloseStream("CSC1", "CscAcqEnt");
  client.DisconnectFromServer();
  if (counter.wrongName.load() != 0) state.SkipWithError("records delivered with a wrong name");
  gResults["client"] = rate;
  state.counters["records_per_s"] = rate.recordsPerSecond;
  state.counters["MB_per_s"] = rate.bytesPerSecond / 1e6;
}
BENCHMARK(BM_ClientCallback)->Iterations(1)->Unit(benchmark::kMillisecond);

// The ceiling of the delivery itself, without the simulator: a sender thread
// of this program writes pre-built CSC records as fast as the socket takes
// them, once to the CSC stream endpoint (callback per record) and once to a
// plain socket read in large chunks.
class BlastSender {
 public:
  explicit BlastSender(int port) {
    std::string records;
    for (int i = 0; i < 64; ++i) {
      std::string r(kCscRecordSize, '\0');
      const uint64_t stamp = static_cast<uint64_t>(i);
      std::memcpy(r.data(), &stamp, sizeof stamp);  // channel 0 at offset 8
      records += r;
    }
    socket_ = RawSocket::Connect(port);
    thread_ = std::thread([this, records] {
      while (!stop_.load() && socket_.SendAll(records.data(), records.size())) {
      }
    });
  }
  ~BlastSender() {
    stop_ = true;
    socket_.Shutdown();
    thread_.join();
  }
  bool connected() const { return socket_.valid(); }

 private:
  RawSocket socket_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The raw reader's records per second from a fresh sender, over `window`.
double RawCeilingRound(std::chrono::milliseconds window) {
  int port = 0;
  RawSocket listener = RawSocket::Listen(&port);
  BlastSender sender(port);
  RawSocket data = listener.Accept();
  if (!sender.connected() || !data.valid()) return 0;
  std::vector<char> chunk(kChunk);
  const auto warmEnd = SteadyClock::now() + kCeilingWarmUp;
  while (SteadyClock::now() < warmEnd) data.RecvSome(chunk.data(), chunk.size());
  uint64_t bytes = 0;
  const auto start = SteadyClock::now();
  SteadyClock::time_point now = start;
  while (now < start + window) {
    const long n = data.RecvSome(chunk.data(), chunk.size());
    if (n <= 0) break;
    bytes += static_cast<uint64_t>(n);
    now = SteadyClock::now();
  }
  data.Shutdown();
  const double seconds = std::chrono::duration<double>(now - start).count();
  return static_cast<double>(bytes) / kCscRecordSize / seconds;
}

// The stream endpoint's records per second (one callback each) from a fresh
// sender, over `window`.
double EndpointCeilingRound(NodeConnectionClientCSC& stream, Counter& counter,
                            std::chrono::milliseconds window) {
  if (!stream.InitServerStream(0)) return 0;
  double rate = 0;
  {
    BlastSender sender(stream.GetPortNumber());
    std::this_thread::sleep_for(kCeilingWarmUp);
    const uint64_t r0 = counter.records.load();
    const auto start = SteadyClock::now();
    std::this_thread::sleep_for(window);
    const uint64_t r1 = counter.records.load();
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    rate = static_cast<double>(r1 - r0) / seconds;
  }
  stream.CloseServerStream();
  return rate;
}

// The ceiling of the delivery itself: the raw reader and the endpoint take
// turns in short rounds, so that a change of the machine's load between them
// (other work on a shared machine) falls on both alike. The figure is the
// median of the rounds' ratios.
void BM_CeilingAlternating(benchmark::State& state) {
  SystemClock clock;
  ClientLogFile log(clock);
  Counter counter;
  std::vector<double> raw, endpoint, ratios;
  {
    NodeConnectionClientCSC stream(&log);
    stream.UpdateObjectList({"CSC1"}, {"CscAcqEnt"});
    stream.SetCallbackFunctionCSC(CountRecord, &counter);
    for (auto _ : state) {
      for (int round = 0; round < kCeilingRounds; ++round) {
        const double r = RawCeilingRound(kCeilingWindow);
        const double e = EndpointCeilingRound(stream, counter, kCeilingWindow);
        if (r <= 0 || e <= 0) {
          state.SkipWithError("a ceiling round could not connect");
          return;
        }
        raw.push_back(r);
        endpoint.push_back(e);
        ratios.push_back(e / r);
      }
    }
  }
  if (counter.wrongName.load() != 0) state.SkipWithError("records delivered with a wrong name");
  gResults["ceiling-raw"].recordsPerSecond = Percentile(raw, 50);
  gResults["ceiling-client"].recordsPerSecond = Percentile(endpoint, 50);
  gResults["ceiling-ratio"].recordsPerSecond = Percentile(ratios, 50);
  state.counters["ratio_p50"] = Percentile(ratios, 50);
}
BENCHMARK(BM_CeilingAlternating)->Iterations(1)->Unit(benchmark::kMillisecond);

void Summarize(Summary& s) {
  if (!gResults.count("client") || !gResults.count("raw")) {
    s.Note("Not every benchmark ran; no ratios.");
    return;
  }
  const Rate& c = gResults["client"];
  const Rate& r = gResults["raw"];
  Summary::Goal(s.Add("records per second (one callback each)", c.recordsPerSecond, "/s",
                      "raw recv loop", r.recordsPerSecond),
                0.5, /*atLeast=*/true);
  s.Add("bytes per second", c.bytesPerSecond / 1e6, "MB/s", "raw recv loop",
        r.bytesPerSecond / 1e6);
  if (gResults.count("ceiling-client") && gResults.count("ceiling-raw")) {
    Figure& f = s.Add("records per second from a fast sender (the stream endpoint's ceiling)",
                      gResults["ceiling-client"].recordsPerSecond, "/s",
                      "raw recv loop, same sender", gResults["ceiling-raw"].recordsPerSecond);
    f.ratio = gResults["ceiling-ratio"].recordsPerSecond;  // the median of the rounds' ratios
    Summary::Goal(f, 0.9, /*atLeast=*/true);
  }
  s.Note(
      "One CSC object on the CSC stream, the simulator sending as fast as the reader "
      "takes the records; " +
      std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(kWindow).count()) +
      " ms counted after a " +
      std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(kWarmUp).count()) +
      " ms warm-up; the raw loop reads " + std::to_string(kChunk / 1024) +
      " KiB per recv call. The callback reads the record's time stamp in place. Both are "
      "bounded by how fast the simulator makes records; the last figure replaces it by a "
      "sender thread writing pre-built records, to show the endpoint's own ceiling: " +
      std::to_string(kCeilingRounds) + " rounds of " + std::to_string(kCeilingWindow.count()) +
      " ms each, raw reader and endpoint in turn; medians, and the median of the rounds' "
      "ratios.");
}

}  // namespace
}  // namespace orvanta::bench

int main(int argc, char** argv) {
  return orvanta::bench::RunAndReport(argc, argv, "3. Stream delivery", orvanta::bench::Summarize);
}
