// Run timing fidelity: orvanta-run plays 200 trials (duration 20 ms,
// interval 20 ms, start and end events, start and end pulses of 5 ms)
// against quorvin-sim, both as separate processes on loopback; the timing is
// read from the simulator's transcript, i.e. when each command frame had
// arrived at the server.
//
// The nominal trial period is 5 + 20 + 5 + 20 = 50 ms; each trial makes 8
// command exchanges (event; direction, on, off; direction, on, off; event)
// and 4 waits (pulse, duration, pulse, interval), and the worker adds what
// they cost, since its waits are relative. The floor of a period's excess
// is therefore 8 raw exchanges with the same simulator plus the machine's
// overshoot of the 4 waits, both measured in the same run. A pulse's width
// error has the floor of one exchange plus one 5 ms overshoot.

#include <benchmark/benchmark.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_env.h"
#include "bench/bench_report.h"
#include "bench/child_process.h"
#include "bench/raw_socket.h"
#include "client/frame_codec.h"
#include "trials/worker_priority.h"

namespace orvanta::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kTrials = 200;
constexpr double kDurationUs = 20000, kIntervalUs = 20000, kPulseUs = 5000;
constexpr double kNominalPeriodUs = kDurationUs + kIntervalUs + 2 * kPulseUs;
constexpr int kFloorExchanges = 2000;
constexpr int kColdExchanges = 200;
constexpr int kSleepSamples = 100;

const char kSetup[] =
    "-AddTrial \"Timing\"\n"
    "-SetTrialCount \"Timing\" 200\n"
    "-SetTrialDuration \"Timing\" 20\n"
    "-SetInterTrialInterval \"Timing\" 20\n"
    "-SetStartOfTrialGenerateEvent \"Timing\" true\n"
    "-SetStartOfTrialEventString \"Timing\" \"TrialStart\"\n"
    "-SetStartOfTrialEventTTLValue \"Timing\" 1\n"
    "-SetStartOfTrialGenerateTTLPulse \"Timing\" true\n"
    "-SetStartOfTrialTTLPulseBitNumber \"Timing\" 0\n"
    "-SetStartOfTrialTTLPulseDuration \"Timing\" 5\n"
    "-SetStartOfTrialTTLPulseBoardNumber \"Timing\" 0\n"
    "-SetStartOfTrialTTLPulseSubSystemName \"Timing\" \"VRXBD\"\n"
    "-SetEndOfTrialGenerateTTLPulse \"Timing\" true\n"
    "-SetEndOfTrialTTLPulseBitNumber \"Timing\" 1\n"
    "-SetEndOfTrialTTLPulseDuration \"Timing\" 5\n"
    "-SetEndOfTrialTTLPulseBoardNumber \"Timing\" 0\n"
    "-SetEndOfTrialTTLPulseSubSystemName \"Timing\" \"VRXBD\"\n"
    "-SetEndOfTrialGenerateEvent \"Timing\" true\n"
    "-SetEndOfTrialEventString \"Timing\" \"TrialEnd\"\n"
    "-SetEndOfTrialEventTTLValue \"Timing\" 2\n";

struct Results {
  bool done = false;
  // Floors.
  double exchangeHot = 0, exchangeCold = 0;
  double overshoot5 = 0, overshoot20 = 0;
  // The run.
  std::vector<double> periodExcess, pulseError;
  double driftUs = 0;
  bool realtime = false;
  std::string problem;
};
Results gResults;

// The machine's overshoot of a plain wait of `length`, on a thread scheduled
// as the trial worker asks to be.
double MedianOvershootUs(std::chrono::microseconds length, bool* realtime) {
  double median = 0;
  std::thread t([&] {
    *realtime = RaiseWorkerPriority().realtime;
    std::vector<double> samples;
    for (int i = 0; i < kSleepSamples; ++i) {
      const auto start = SteadyClock::now();
      const auto deadline = start + length;
      std::this_thread::sleep_until(deadline);
      samples.push_back(MicrosBetween(deadline, SteadyClock::now()));
    }
    median = Percentile(samples, 50);
  });
  t.join();
  return median;
}

// Median round trips of a plain client with the simulator, on a thread
// scheduled as the trial worker asks to be: back to back ("hot"), and each
// after a 5 ms sleep ("cold"), as the exchanges of a run that follow a wait
// are. False when the connection fails.
bool RawExchangeMedians(int port, double* hot, double* cold) {
  bool ok = true;
  std::thread t([&] {
    RaiseWorkerPriority();
    RawSocket socket = RawSocket::Connect(port);
    const std::string command = frame::EncodeTextFrame("-PostEvent \"Floor\" 9 0");
    std::string payload;
    std::vector<double> hotSamples, coldSamples;
    for (int i = 0; i < kFloorExchanges + 200 && ok; ++i) {
      const auto t0 = SteadyClock::now();
      ok = socket.valid() && RawExchange(socket, command, payload);
      if (i >= 200) hotSamples.push_back(MicrosBetween(t0, SteadyClock::now()));
    }
    for (int i = 0; i < kColdExchanges && ok; ++i) {
      std::this_thread::sleep_for(5ms);
      const auto t0 = SteadyClock::now();
      ok = RawExchange(socket, command, payload);
      coldSamples.push_back(MicrosBetween(t0, SteadyClock::now()));
    }
    *hot = Percentile(hotSamples, 50);
    *cold = Percentile(coldSamples, 50);
  });
  t.join();
  return ok;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

void Analyse(const std::string& transcript, Results& r) {
  std::vector<double> starts, ends;
  double pulseOn = -1;
  std::istringstream in(transcript);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto f = SplitTabs(line);
    if (f.size() != 7 || f[3] != "cmd") continue;
    const double t = std::stod(f[0]);
    const std::string& text = f[4];
    if (StartsWith(text, "-PostEvent \"TrialStart\"")) {
      starts.push_back(t);
    } else if (StartsWith(text, "-PostEvent \"TrialEnd\"")) {
      ends.push_back(t);
    } else if (StartsWith(text, "-SetDIOPortOutput")) {
      const bool off = text.size() >= 2 && text.compare(text.size() - 2, 2, " 0") == 0;
      if (!off) {
        pulseOn = t;
      } else if (pulseOn >= 0) {
        r.pulseError.push_back(t - pulseOn - kPulseUs);
        pulseOn = -1;
      }
    }
  }
  if (starts.size() != kTrials || ends.size() != kTrials) {
    r.problem = "the transcript holds " + std::to_string(starts.size()) + " start and " +
                std::to_string(ends.size()) + " end events instead of " +
                std::to_string(kTrials);
    return;
  }
  for (size_t i = 0; i + 1 < starts.size(); ++i)
    r.periodExcess.push_back(starts[i + 1] - starts[i] - kNominalPeriodUs);
  // From the first trial's start event to the last trial's end event.
  const double nominal = (kTrials - 1) * kNominalPeriodUs + 2 * kPulseUs + kDurationUs;
  r.driftUs = ends.back() - starts.front() - nominal;
}

void BM_RunTimingFidelity(benchmark::State& state) {
  for (auto _ : state) {
    TempDir dir;
    SimProcess sim(QUORVIN_SIM_PATH, dir.path());
    std::string error;
    if (!sim.Start(&error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    Results r;
    if (!RawExchangeMedians(sim.messagePort(), &r.exchangeHot, &r.exchangeCold)) {
      state.SkipWithError("the plain client cannot exchange with the simulator");
      return;
    }
    r.overshoot5 = MedianOvershootUs(5ms, &r.realtime);
    r.overshoot20 = MedianOvershootUs(20ms, &r.realtime);

    const std::string setup = dir.path() + "/timing.cfg";
    std::ofstream(setup) << kSetup;
    ChildProcess run;
    if (!run.Start({ORVANTA_RUN_PATH, "--server", "127.0.0.1", "--no-negotiate",
                    "--message-port", std::to_string(sim.messagePort()), "--log",
                    dir.path() + "/log.txt", "--quiet", setup},
                   dir.path() + "/run.out")) {
      state.SkipWithError("cannot start orvanta-run");
      return;
    }
    const auto status = run.Wait(60s);
    if (!status || *status != 0) {
      run.Stop(SIGINT, 2000ms);
      r.problem = "orvanta-run did not complete (" +
                  (status ? "status " + std::to_string(*status) : std::string("timeout")) +
                  "): " + ReadFile(dir.path() + "/run.out");
    }
    sim.Stop();
    if (r.problem.empty()) Analyse(ReadFile(sim.transcriptPath()), r);
    if (!r.problem.empty()) {
      state.SkipWithError(r.problem.c_str());
      return;
    }
    r.done = true;
    gResults = r;
  }
  state.counters["excess_p50_us"] = Percentile(gResults.periodExcess, 50);
  state.counters["pulse_error_p50_us"] = Percentile(gResults.pulseError, 50);
  state.counters["drift_ms"] = gResults.driftUs / 1000;
}
BENCHMARK(BM_RunTimingFidelity)->Iterations(1)->Unit(benchmark::kSecond);

void Summarize(Summary& s) {
  const Results& r = gResults;
  if (!r.done) {
    s.Note("The run did not complete; no figures.");
    return;
  }
  // Of a trial's 8 exchanges, 4 follow a wait (the start event, both pulse
  // ends, the end pulse's direction) and 4 follow another exchange.
  const double floor = 4 * r.exchangeCold + 4 * r.exchangeHot + 2 * r.overshoot5 +
                       2 * r.overshoot20;
  const double pulseFloor = r.exchangeHot / 2 + r.exchangeCold / 2 + r.overshoot5;
  Summary::Goal(s.Add("trial period excess, median", Percentile(r.periodExcess, 50), "us",
                      "floor per trial", floor),
                1.5);
  s.Add("trial period excess, p99", Percentile(r.periodExcess, 99), "us", "floor per trial",
        floor);
  s.Add("trial period excess, max", Percentile(r.periodExcess, 100), "us", "floor per trial",
        floor);
  s.Add("pulse width error, median", Percentile(r.pulseError, 50), "us", "floor per pulse",
        pulseFloor);
  s.Add("pulse width error, p99", Percentile(r.pulseError, 99), "us", "floor per pulse",
        pulseFloor);
  s.Add("drift at the end of the run", r.driftUs / 1000, "ms", "floor x 199 trials",
        floor * (kTrials - 1) / 1000);
  s.AddPlain("plain exchange with the simulator, back to back, median", r.exchangeHot, "us");
  s.AddPlain("plain exchange with the simulator after a 5 ms sleep, median", r.exchangeCold,
             "us");
  s.AddPlain("overshoot of a 5 ms wait, median", r.overshoot5, "us");
  s.AddPlain("overshoot of a 20 ms wait, median", r.overshoot20, "us");
  s.Note("200 trials of 20 ms with 20 ms intervals, start and end events, 5 ms pulses at "
         "start and end: a nominal period of 50 ms. Times are the arrivals of the command "
         "frames in the simulator's transcript.");
  s.Note("Floor per trial = 4 plain exchanges after a sleep + 4 back to back + 2 x 5 ms "
         "overshoot + 2 x 20 ms overshoot (a trial's 8 exchanges, 4 of them right after a wait, "
         "and its 4 waits); floor per pulse = the reply half of an exchange and the sending half "
         "of one after a sleep + a 5 ms overshoot. Exchanges and waits measured with a plain "
         "client on a thread scheduled as the worker asks (" +
         std::string(r.realtime ? "real-time priority granted" : "no real-time priority") +
         ", 1 ns timer slack).");
}

}  // namespace
}  // namespace orvanta::bench

int main(int argc, char** argv) {
  return orvanta::bench::RunAndReport(argc, argv, "2. Run timing fidelity",
                                      orvanta::bench::Summarize);
}
