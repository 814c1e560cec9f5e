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
//
// Every run writes its session record, as orvanta-run does by default; the
// relative run is played once more with --no-record, and the record's cost
// is the difference between the two.
//
// The same 200 trials run again with --schedule fixed, side by side with the
// relative run: the fixed schedule's drift and pulse error are given against
// the relative run's figures. A third run, as long as the memory benchmark's
// (10,000 trials of 1 ms with a start event), measures the fixed schedule's
// drift at trial 10,000 against a relative run of the same setup.
//
// The waits themselves: a 5 ms wait done plainly (a condition-variable wait
// until the deadline), with clock_nanosleep(TIMER_ABSTIME) on
// CLOCK_MONOTONIC, and as the worker does it (PreciseRunClock: sleep until
// shortly before, then spin), each with its overshoot and its CPU time.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <time.h>

#include <chrono>
#include <cmath>
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
#include "platform/stop_signal.h"
#include "trials/run_timing.h"
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
constexpr int kLongTrials = 10000;  // 1 ms each, start event only

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

// What one orvanta-run run looked like from the simulator's side.
struct RunFigures {
  std::vector<double> periodExcess, pulseError;  // us
  std::vector<double> sentPulseError;            // us, between the sends (orvanta-run's timeline)
  double driftUs = 0;                            // the last start event against its nominal time
};

// One way of waiting 5 ms: its overshoot and the CPU time the thread spent.
struct WaitFigures {
  double overshootP50 = 0, overshootP99 = 0, cpuPerWaitUs = 0;
};

struct Results {
  bool done = false;
  // Floors.
  double exchangeHot = 0, exchangeCold = 0;
  double overshoot5 = 0, overshoot20 = 0;
  bool realtime = false;
  // The runs.
  RunFigures relative, fixed, longRelative, longFixed;
  RunFigures relativeNoRecord;  // the relative run again with --no-record
  // The waits.
  WaitFigures plainWait, nanosleepWait, preciseWait;
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

double ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// `kSleepSamples` waits of 5 ms done by `wait` (given the deadline), on a
// thread scheduled as the worker asks.
template <class Wait>
WaitFigures MeasureWait(Wait wait) {
  WaitFigures f;
  std::thread t([&] {
    RaiseWorkerPriority();
    std::vector<double> samples;
    const double cpu0 = ThreadCpuUs();
    for (int i = 0; i < kSleepSamples; ++i) {
      const auto deadline = SteadyClock::now() + 5ms;
      wait(deadline);
      samples.push_back(MicrosBetween(deadline, SteadyClock::now()));
    }
    f.cpuPerWaitUs = (ThreadCpuUs() - cpu0) / kSleepSamples;
    f.overshootP50 = Percentile(samples, 50);
    f.overshootP99 = Percentile(samples, 99);
  });
  t.join();
  return f;
}

void MeasureWaits(Results& r) {
  StopSignal stop;
  r.plainWait = MeasureWait([&](SteadyClock::time_point deadline) { stop.WaitUntil(deadline); });
  r.nanosleepWait = MeasureWait([](SteadyClock::time_point deadline) {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
  });
  PreciseRunClock precise;
  r.preciseWait =
      MeasureWait([&](SteadyClock::time_point deadline) { precise.WaitUntil(deadline, &stop); });
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

// Reads a run from the transcript: `trials` start events `periodUs` apart
// (nominally), and the pulses of a 5 ms width. Empty `problem` on success.
void Analyse(const std::string& transcript, int trials, double periodUs, RunFigures& r,
             std::string& problem) {
  std::vector<double> starts;
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
  if (starts.size() != static_cast<size_t>(trials)) {
    problem = "the transcript holds " + std::to_string(starts.size()) +
              " start events instead of " + std::to_string(trials);
    return;
  }
  for (size_t i = 0; i + 1 < starts.size(); ++i)
    r.periodExcess.push_back(starts[i + 1] - starts[i] - periodUs);
  r.driftUs = starts.back() - starts.front() - (trials - 1) * periodUs;
}

// The pulse widths as orvanta-run handed the commands over: from the set's
// sent_us to the clear's in the timeline (CSV; the last two fields are
// sent_us and replied_us, and no earlier field holds a comma but the quoted
// command, which the two right-most commas never reach).
void AnalyseTimeline(const std::string& timeline, RunFigures& r) {
  std::istringstream in(timeline);
  std::string line;
  double set = -1;
  while (std::getline(in, line)) {
    if (line.find("-SetDIOPortOutput") == std::string::npos) continue;
    const size_t last = line.rfind(',');
    if (last == std::string::npos || last == 0) continue;
    const size_t before = line.rfind(',', last - 1);
    if (before == std::string::npos) continue;
    const double sent = std::stod(line.substr(before + 1, last - before - 1));
    const size_t quoteEnd = line.rfind('\"', before);
    const bool clear =
        quoteEnd != std::string::npos && quoteEnd >= 2 && line.compare(quoteEnd - 2, 2, " 0") == 0;
    if (!clear) {
      set = sent;
    } else if (set >= 0) {
      r.sentPulseError.push_back(sent - set - kPulseUs);
      set = -1;
    }
  }
}

// Plays `setup` with orvanta-run against a fresh simulator and reads the run
// from its transcript and its timeline.
// Every run writes its session record (as orvanta-run does by default)
// unless `record` is false.
void RunOnce(const std::string& setupText, const char* schedule, int trials, double periodUs,
             RunFigures& figures, std::string& problem, bool record = true) {
  TempDir dir;
  SimProcess sim(QUORVIN_SIM_PATH, dir.path());
  if (!sim.Start(&problem)) return;
  const std::string setup = dir.path() + "/timing.cfg";
  std::ofstream(setup) << setupText;
  ChildProcess run;
  if (!run.Start(
          {ORVANTA_RUN_PATH, "--server", "127.0.0.1", "--no-negotiate", "--message-port",
           std::to_string(sim.messagePort()), "--log", dir.path() + "/log.txt", "--quiet",
           "--schedule", schedule, "--timeline", dir.path() + "/timeline.csv",
           record ? "--record=" + dir.path() + "/records" : std::string("--no-record"), setup},
          dir.path() + "/run.out")) {
    problem = "cannot start orvanta-run";
    return;
  }
  const auto status = run.Wait(180s);
  if (!status || *status != 0) {
    run.Stop(SIGINT, 2000ms);
    problem = std::string("orvanta-run --schedule ") + schedule + " did not complete (" +
              (status ? "status " + std::to_string(*status) : std::string("timeout")) +
              "): " + ReadFile(dir.path() + "/run.out");
  }
  sim.Stop();
  if (problem.empty()) Analyse(ReadFile(sim.transcriptPath()), trials, periodUs, figures, problem);
  if (problem.empty()) AnalyseTimeline(ReadFile(dir.path() + "/timeline.csv"), figures);
}

std::string LongSetup() {
  return "-AddTrial \"Long\"\n-SetTrialCount \"Long\" " + std::to_string(kLongTrials) +
         "\n-SetTrialDuration \"Long\" 1\n-SetInterTrialInterval \"Long\" 0\n"
         "-SetStartOfTrialGenerateEvent \"Long\" true\n"
         "-SetStartOfTrialEventString \"Long\" \"TrialStart\"\n";
}

void BM_RunTimingFidelity(benchmark::State& state) {
  for (auto _ : state) {
    Results r;
    {
      TempDir dir;
      SimProcess sim(QUORVIN_SIM_PATH, dir.path());
      std::string error;
      if (!sim.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
      }
      if (!RawExchangeMedians(sim.messagePort(), &r.exchangeHot, &r.exchangeCold)) {
        state.SkipWithError("the plain client cannot exchange with the simulator");
        return;
      }
      sim.Stop();
    }
    r.overshoot5 = MedianOvershootUs(5ms, &r.realtime);
    r.overshoot20 = MedianOvershootUs(20ms, &r.realtime);
    MeasureWaits(r);

    RunOnce(kSetup, "relative", kTrials, kNominalPeriodUs, r.relative, r.problem);
    if (r.problem.empty()) RunOnce(kSetup, "fixed", kTrials, kNominalPeriodUs, r.fixed, r.problem);
    if (r.problem.empty()) RunOnce(LongSetup(), "fixed", kLongTrials, 1000, r.longFixed, r.problem);
    if (r.problem.empty())
      RunOnce(LongSetup(), "relative", kLongTrials, 1000, r.longRelative, r.problem);
    if (r.problem.empty()) {
      RunOnce(kSetup, "relative", kTrials, kNominalPeriodUs, r.relativeNoRecord, r.problem, false);
    }
    if (!r.problem.empty()) {
      state.SkipWithError(r.problem.c_str());
      return;
    }
    r.done = true;
    gResults = r;
  }
  state.counters["excess_p50_us"] = Percentile(gResults.relative.periodExcess, 50);
  state.counters["fixed_drift_ms"] = gResults.fixed.driftUs / 1000;
  state.counters["relative_drift_ms"] = gResults.relative.driftUs / 1000;
}
BENCHMARK(BM_RunTimingFidelity)->Iterations(1)->Unit(benchmark::kSecond);

// A goal on the figure's value itself rather than its ratio.
void AtMost(Figure& figure, double limit, const std::string& unit) {
  figure.goal = "<= " + FormatNumber(limit) + " " + unit;
  figure.met = std::abs(figure.value) <= limit;
}

void Summarize(Summary& s) {
  const Results& r = gResults;
  if (!r.done) {
    s.Note("The runs did not complete; no figures.");
    return;
  }
  // Of a trial's 8 exchanges, 4 follow a wait (the start event, both pulse
  // ends, the end pulse's direction) and 4 follow another exchange.
  const double floor =
      4 * r.exchangeCold + 4 * r.exchangeHot + 2 * r.overshoot5 + 2 * r.overshoot20;
  const double pulseFloor = r.exchangeHot / 2 + r.exchangeCold / 2 + r.overshoot5;
  const auto& rel = r.relative;
  const auto& fix = r.fixed;

  // Relative mode against the floor.
  Summary::Goal(s.Add("relative: trial period excess, median", Percentile(rel.periodExcess, 50),
                      "us", "floor per trial", floor),
                1.5);
  s.Add("relative: trial period excess, median, session record on",
        Percentile(rel.periodExcess, 50), "us", "the same run with --no-record",
        Percentile(r.relativeNoRecord.periodExcess, 50));
  s.Add("relative: pulse width error, median, session record on", Percentile(rel.pulseError, 50),
        "us", "the same run with --no-record", Percentile(r.relativeNoRecord.pulseError, 50));
  s.Add("relative: trial period excess, p99", Percentile(rel.periodExcess, 99), "us",
        "floor per trial", floor);
  s.Add("relative: pulse width error, median", Percentile(rel.pulseError, 50), "us",
        "floor per pulse", pulseFloor);
  s.Add("relative: pulse width error, p99", Percentile(rel.pulseError, 99), "us", "floor per pulse",
        pulseFloor);

  // The fixed schedule beside the relative run of the same setup.
  AtMost(s.Add("fixed: drift at trial 200", fix.driftUs / 1000, "ms",
               "relative: drift at trial 200", rel.driftUs / 1000),
         1, "ms");
  AtMost(s.Add("fixed: drift at trial 10,000 (1 ms trials)", r.longFixed.driftUs / 1000, "ms",
               "relative: drift at trial 10,000", r.longRelative.driftUs / 1000),
         2, "ms");
  Summary::Goal(s.Add("fixed: pulse width error, median", Percentile(fix.pulseError, 50), "us",
                      "relative: pulse width error, median", Percentile(rel.pulseError, 50)),
                0.5);
  Summary::Goal(s.Add("fixed: pulse width error, p99", Percentile(fix.pulseError, 99), "us",
                      "relative: pulse width error, p99", Percentile(rel.pulseError, 99)),
                0.5);
  s.Add("fixed: pulse width between the sends, median", Percentile(fix.sentPulseError, 50), "us",
        "relative: same", Percentile(rel.sentPulseError, 50));
  s.Add("fixed: pulse width between the sends, p99", Percentile(fix.sentPulseError, 99), "us",
        "relative: same", Percentile(rel.sentPulseError, 99));
  s.Add("fixed: trial period excess, median", Percentile(fix.periodExcess, 50), "us",
        "relative: trial period excess, median", Percentile(rel.periodExcess, 50));
  s.Add("fixed: trial period excess, p99", Percentile(fix.periodExcess, 99), "us",
        "relative: trial period excess, p99", Percentile(rel.periodExcess, 99));

  // The waits.
  s.Add("precise 5 ms wait (sleep, then spin): overshoot median", r.preciseWait.overshootP50, "us",
        "plain wait: overshoot median", r.plainWait.overshootP50);
  s.Add("precise 5 ms wait: overshoot p99", r.preciseWait.overshootP99, "us",
        "plain wait: overshoot p99", r.plainWait.overshootP99);
  s.Add("clock_nanosleep(TIMER_ABSTIME) 5 ms: overshoot median", r.nanosleepWait.overshootP50, "us",
        "plain wait: overshoot median", r.plainWait.overshootP50);
  s.Add("precise 5 ms wait: CPU time per wait", r.preciseWait.cpuPerWaitUs, "us",
        "plain wait: CPU time per wait", r.plainWait.cpuPerWaitUs);

  s.AddPlain("plain exchange with the simulator, back to back, median", r.exchangeHot, "us");
  s.AddPlain("plain exchange with the simulator after a 5 ms sleep, median", r.exchangeCold, "us");
  s.AddPlain("overshoot of a 5 ms wait, median", r.overshoot5, "us");
  s.AddPlain("overshoot of a 20 ms wait, median", r.overshoot20, "us");
  s.Note(
      "200 trials of 20 ms with 20 ms intervals, start and end events, 5 ms pulses at "
      "start and end: a nominal period of 50 ms, run once with --schedule relative and once "
      "with --schedule fixed. Times are the arrivals of the command frames in the "
      "simulator's transcript; drift is the last start event against its nominal time "
      "from the first. The 10,000-trial runs have 1 ms trials with a start event only. "
      "Pulse width error is read at the simulator (arrival to arrival) and, to separate "
      "orvanta-run's part, between the two sends in orvanta-run's timeline.");
  s.Note(
      "Floor per trial = 4 plain exchanges after a sleep + 4 back to back + 2 x 5 ms "
      "overshoot + 2 x 20 ms overshoot (a trial's 8 exchanges, 4 of them right after a wait, "
      "and its 4 waits); floor per pulse = the reply half of an exchange and the sending half "
      "of one after a sleep + a 5 ms overshoot. Exchanges and waits measured with a plain "
      "client on a thread scheduled as the worker asks (" +
      std::string(r.realtime ? "real-time priority granted" : "no real-time priority") +
      ", 1 ns timer slack).");
  s.Note("The precise wait sleeps on the stop signal until " +
         std::to_string(PreciseRunClock::kDefaultSpinMargin.count()) +
         " us before the deadline, then spins on the clock checking Stop; its CPU time per "
         "wait is what a run pays per wait (4 per trial here).");
}

}  // namespace
}  // namespace orvanta::bench

int main(int argc, char** argv) {
  return orvanta::bench::RunAndReport(argc, argv, "2. Run timing fidelity",
                                      orvanta::bench::Summarize);
}
