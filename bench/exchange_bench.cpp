// Command exchange: VintraClient::SendCommand round trips against the
// simulator on loopback, beside a minimal blocking ping-pong of the same
// frames between two plain sockets of this program.
//
// Each exchange is timed on its own, so that the median and the 99th
// percentile can be reported; exchanges per second follow from the mean.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
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
constexpr int kExchanges = 20000;

struct Latency {
  double p50 = 0, p99 = 0, perSecond = 0;
};
std::map<std::string, Latency> gResults;

// Times `exchange` kExchanges times (after a warm-up) and records the result.
template <class Fn>
void TimeExchanges(benchmark::State& state, const std::string& name, Fn&& exchange) {
  for (int i = 0; i < kWarmUp; ++i) {
    if (!exchange()) {
      state.SkipWithError("exchange failed during warm-up");
      return;
    }
  }
  std::vector<double> samples;
  samples.reserve(kExchanges);
  double total = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool ok = exchange();
    const auto t1 = Clock::now();
    if (!ok) {
      state.SkipWithError("exchange failed");
      return;
    }
    const double us = MicrosBetween(t0, t1);
    samples.push_back(us);
    total += us;
  }
  Latency l;
  l.p50 = Percentile(samples, 50);
  l.p99 = Percentile(samples, 99);
  l.perSecond = samples.empty() ? 0 : 1e6 * static_cast<double>(samples.size()) / total;
  gResults[name] = l;
  state.counters["p50_us"] = l.p50;
  state.counters["p99_us"] = l.p99;
  state.counters["exchanges_per_s"] = l.perSecond;
}

// The baseline: a plain client and a plain server thread that answers every
// command frame with the simulator's reply to it ("0").
void BM_RawPingPong(benchmark::State& state) {
  int port = 0;
  RawSocket listener = RawSocket::Listen(&port);
  if (!listener.valid()) {
    state.SkipWithError("cannot listen on loopback");
    return;
  }
  const std::string reply = frame::EncodeTextFrame("0");
  std::thread server([&] {
    RawSocket conn = listener.Accept();
    unsigned char header[frame::kHeaderSize];
    std::string payload;
    while (conn.RecvExactly(header, sizeof header)) {
      const frame::Header h = frame::DecodeHeader(header);
      if (h.payload_size < 1 || h.payload_size > (1 << 20)) break;
      payload.resize(static_cast<size_t>(h.payload_size));
      if (!conn.RecvExactly(payload.data(), payload.size())) break;
      if (!conn.SendAll(reply.data(), reply.size())) break;
    }
  });
  {
    RawSocket client = RawSocket::Connect(port);
    const std::string command = frame::EncodeTextFrame(kCommand);
    std::string payload;
    if (!client.valid()) {
      state.SkipWithError("cannot connect");
    } else {
      TimeExchanges(state, "raw", [&] { return RawExchange(client, command, payload); });
    }
  }  // closing the client ends the server loop
  server.join();
}
BENCHMARK(BM_RawPingPong)->Iterations(kExchanges)->Unit(benchmark::kMicrosecond);

// The same plain client against the simulator: how much of the difference
// is the simulator's own work.
void BM_RawClientToSimulator(benchmark::State& state) {
  SimHarness sim({});
  RawSocket client = RawSocket::Connect(sim.port());
  if (!client.valid()) {
    state.SkipWithError("cannot connect to the simulator");
    return;
  }
  const std::string command = frame::EncodeTextFrame(kCommand);
  std::string payload;
  TimeExchanges(state, "raw-sim", [&] { return RawExchange(client, command, payload); });
}
BENCHMARK(BM_RawClientToSimulator)->Iterations(kExchanges)->Unit(benchmark::kMicrosecond);

// VintraClient::SendCommand as the trial worker calls it: with a stop
// signal, over a full connection (six streams set up, none open).
void BM_VintraSendCommand(benchmark::State& state) {
  SimHarness sim({});
  SystemClock clock;
  SilentBoxes boxes;
  VintraClient client(clock, boxes);
  if (!client.ConnectToServer("127.0.0.1", false, 0, sim.port())) {
    state.SkipWithError("cannot connect the client to the simulator");
    return;
  }
  StopSignal stop;
  std::string reply;
  TimeExchanges(state, "client",
                [&] { return client.SendCommand(kCommand, reply, &stop) && reply == "0"; });
  client.DisconnectFromServer();
}
BENCHMARK(BM_VintraSendCommand)->Iterations(kExchanges)->Unit(benchmark::kMicrosecond);

void Summarize(Summary& s) {
  if (!gResults.count("client") || !gResults.count("raw")) {
    s.Note("Not every benchmark ran; no ratios.");
    return;
  }
  const Latency& c = gResults["client"];
  const Latency& r = gResults["raw"];
  Summary::Goal(s.Add("exchange p50", c.p50, "us", "raw ping-pong p50", r.p50), 1.3);
  s.Add("exchange p99", c.p99, "us", "raw ping-pong p99", r.p99);
  s.Add("exchanges per second", c.perSecond, "/s", "raw ping-pong", r.perSecond);
  if (gResults.count("raw-sim")) {
    const Latency& rs = gResults["raw-sim"];
    s.Add("plain client to the simulator, p50", rs.p50, "us", "raw ping-pong p50", r.p50);
    s.Add("exchange p50 (client share)", c.p50, "us", "plain client to the simulator p50",
          rs.p50);
  }
  s.Note("Command \"" + std::string(kCommand) + "\", reply \"0\"; " + std::to_string(kExchanges) +
         " timed exchanges after " + std::to_string(kWarmUp) +
         " warm-up ones; the simulator runs in this process without transcript file or echo.");
}

}  // namespace
}  // namespace orvanta::bench

int main(int argc, char** argv) {
  return orvanta::bench::RunAndReport(argc, argv, "1. Command exchange", orvanta::bench::Summarize);
}
