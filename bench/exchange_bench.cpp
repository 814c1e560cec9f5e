// Command exchange: VintraClient::SendCommand round trips against the
// simulator on loopback, beside a minimal blocking ping-pong of the same
// frames between two plain sockets of this program.
//
// Each exchange is timed on its own, so that the median and the 99th
// percentile can be reported; exchanges per second follow from the mean.

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_env.h"
#include "bench/bench_report.h"
#include "bench/raw_socket.h"
#include "client/frame_codec.h"
#include "client/vintra_client.h"
#include "platform/clock.h"
#include "platform/stop_signal.h"

namespace orvanta::bench {
namespace {

using Clock = std::chrono::steady_clock;

// A trial's start event, the most frequent command of a run.
const char kCommand[] = "-PostEvent \"Start Trial\" 1 0";
constexpr int kWarmUp = 500;
constexpr int kExchanges = 20000;  // per way
constexpr int kRounds = 100;

struct Latency {
  double p50 = 0, p99 = 0, perSecond = 0;
};
std::map<std::string, Latency> gResults;

// The baseline's server: a plain thread that answers every command frame
// with the simulator's reply to it ("0").
class RawServer {
 public:
  RawServer() : listener_(RawSocket::Listen(&port_)), reply_(frame::EncodeTextFrame("0")) {
    thread_ = std::thread([this] {
      RawSocket conn = listener_.Accept();
      unsigned char header[frame::kHeaderSize];
      std::string payload;
      while (conn.valid() && conn.RecvExactly(header, sizeof header)) {
        const frame::Header h = frame::DecodeHeader(header);
        if (h.payload_size < 1 || h.payload_size > (1 << 20)) break;
        payload.resize(static_cast<size_t>(h.payload_size));
        if (!conn.RecvExactly(payload.data(), payload.size())) break;
        if (!conn.SendAll(reply_.data(), reply_.size())) break;
      }
    });
  }
  // Its client must be closed first: that ends the thread's loop.
  ~RawServer() {
    listener_.Shutdown();  // in case nobody connected
    thread_.join();
  }
  int port() const { return port_; }

 private:
  int port_ = 0;
  RawSocket listener_;
  std::string reply_;
  std::thread thread_;
};

// Pins the calling thread (and the threads it starts from now on) to one
// CPU, or with -1 lets it run anywhere again; false when the machine has
// too few CPUs or refuses.
bool PinTo(int cpu) {
  const int cpus = static_cast<int>(std::thread::hardware_concurrency());
  if (cpus < 2 || cpu >= cpus) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cpu < 0) {
    for (int i = 0; i < cpus; ++i) CPU_SET(i, &set);
  } else {
    CPU_SET(cpu, &set);
  }
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

// The three ways of making the same exchange, timed in interleaved rounds so
// that each sees the machine in the same state: a plain client with the
// plain server (the baseline), the plain client with the simulator, and
// VintraClient::SendCommand with the simulator as the trial worker calls it
// (with a stop signal, over a full connection: six streams set up, none
// open).
//
// Arg 0: the servers' threads on one CPU, the clients on another (as a
// server process of its own is usually placed). Arg 1: everything on one
// CPU, where every wake-up is a context switch on that CPU.
void BM_CommandExchange(benchmark::State& state) {
  const bool oneCpu = state.range(0) == 1;
  const std::string suffix = oneCpu ? "/1cpu" : "";
  const bool pinned = PinTo(oneCpu ? 0 : 1);  // the servers' threads inherit this
  SimHarness sim({});
  RawServer rawServer;
  if (pinned) PinTo(0);  // the clients
  SystemClock clock;
  SilentBoxes boxes;
  VintraClient client(clock, boxes);
  RawSocket rawClient = RawSocket::Connect(rawServer.port());
  RawSocket simClient = RawSocket::Connect(sim.port());
  if (!rawClient.valid() || !simClient.valid() ||
      !client.ConnectToServer("127.0.0.1", false, 0, sim.port())) {
    state.SkipWithError("cannot connect");
    return;
  }
  const std::string command = frame::EncodeTextFrame(kCommand);
  std::string payload, reply;
  StopSignal stop;
  struct Way {
    std::string name;
    std::function<bool()> exchange;
    std::vector<double> samples;
  };
  std::vector<Way> ways;
  ways.push_back({"raw", [&] { return RawExchange(rawClient, command, payload); }, {}});
  ways.push_back({"raw-sim", [&] { return RawExchange(simClient, command, payload); }, {}});
  ways.push_back(
      {"client", [&] { return client.SendCommand(kCommand, reply, &stop) && reply == "0"; }, {}});

  for (auto& w : ways) {
    for (int i = 0; i < kWarmUp; ++i) {
      if (!w.exchange()) {
        state.SkipWithError("exchange failed during warm-up");
        return;
      }
    }
    w.samples.reserve(kExchanges);
  }
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      for (auto& w : ways) {
        for (int i = 0; i < kExchanges / kRounds; ++i) {
          const auto t0 = Clock::now();
          const bool ok = w.exchange();
          const auto t1 = Clock::now();
          if (!ok) {
            state.SkipWithError("exchange failed");
            return;
          }
          w.samples.push_back(MicrosBetween(t0, t1));
        }
      }
    }
  }
  for (auto& w : ways) {
    Latency l;
    l.p50 = Percentile(w.samples, 50);
    l.p99 = Percentile(w.samples, 99);
    double total = 0;
    for (double x : w.samples) total += x;
    l.perSecond = total > 0 ? 1e6 * static_cast<double>(w.samples.size()) / total : 0;
    gResults[w.name + suffix] = l;
    state.counters[w.name + "_p50_us"] = l.p50;
  }
  PinTo(-1);
  client.DisconnectFromServer();
  rawClient.Close();  // ends the plain server's thread
}
BENCHMARK(BM_CommandExchange)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void Summarize(Summary& s) {
  if (!gResults.count("client") || !gResults.count("raw")) {
    s.Note("Not every benchmark ran; no ratios.");
    return;
  }
  const Latency& c = gResults["client"];
  const Latency& r = gResults["raw"];
  const Latency& rs = gResults["raw-sim"];
  Summary::Goal(s.Add("exchange p50", c.p50, "us", "raw ping-pong p50", r.p50), 1.1);
  s.Add("exchange p99", c.p99, "us", "raw ping-pong p99", r.p99);
  s.Add("exchanges per second", c.perSecond, "/s", "raw ping-pong", r.perSecond);
  s.Add("plain client with the simulator, p50", rs.p50, "us", "raw ping-pong p50", r.p50);
  s.Add("exchange p50 (the client's share)", c.p50, "us", "plain client with the simulator p50",
        rs.p50);
  if (gResults.count("client/1cpu") && gResults.count("raw/1cpu")) {
    const Latency& c1 = gResults["client/1cpu"];
    const Latency& r1 = gResults["raw/1cpu"];
    s.Add("exchange p50, all on one CPU", c1.p50, "us", "raw ping-pong p50, one CPU", r1.p50);
    s.Add("exchange p99, all on one CPU", c1.p99, "us", "raw ping-pong p99, one CPU", r1.p99);
    s.Add("exchange p50, all on one CPU (the client's share)", c1.p50, "us",
          "plain client with the simulator p50, one CPU", gResults["raw-sim/1cpu"].p50);
  }
  s.Note("Command \"" + std::string(kCommand) + "\", reply \"0\"; " + std::to_string(kExchanges) +
         " timed exchanges each way after " + std::to_string(kWarmUp) + " warm-up ones, in " +
         std::to_string(kRounds) +
         " interleaved rounds; the simulator runs in this process without transcript file or "
         "echo. The first figures have the servers' threads on one CPU and the clients on the "
         "other; the \"one CPU\" figures put everything on one CPU, where the wake-ups are "
         "cheaper and the client's own work (a poll before each read, the exchange lock) weighs "
         "more.");
}

}  // namespace
}  // namespace orvanta::bench

int main(int argc, char** argv) {
  return orvanta::bench::RunAndReport(argc, argv, "1. Command exchange", orvanta::bench::Summarize);
}
