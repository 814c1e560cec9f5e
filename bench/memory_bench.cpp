// Memory: the resident set of orvanta-run over a run of 10,000 trials of
// 1 ms (each with a start event), against the simulator. The resident set
// is sampled when the simulator has received the start event of trial 1,000
// and of trial 10,000; the figure is their ratio (no growth: 1.0), beside
// the peak over the whole process life.

#include <benchmark/benchmark.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "bench/bench_env.h"
#include "bench/bench_report.h"
#include "bench/child_process.h"

namespace orvanta::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kTrials = 10000;

struct Results {
  bool done = false;
  MemoryUse atStart, at1000, at10000;
  long peakKiB = 0;
  double seconds = 0;
  std::string problem;
};
Results gResults;

void BM_RunnerMemory(benchmark::State& state) {
  for (auto _ : state) {
    TempDir dir;
    SimHarness sim({});
    const std::string setup = dir.path() + "/soak.cfg";
    std::ofstream(setup) << "-AddTrial \"Soak\"\n-SetTrialCount \"Soak\" " << kTrials
                         << "\n-SetTrialDuration \"Soak\" 1\n-SetInterTrialInterval \"Soak\" 0\n"
                            "-SetStartOfTrialGenerateEvent \"Soak\" true\n";
    ChildProcess run;
    const auto start = SteadyClock::now();
    if (!run.Start({ORVANTA_RUN_PATH, "--server", "127.0.0.1", "--no-negotiate", "--message-port",
                    std::to_string(sim.port()), "--log", dir.path() + "/log.txt", "--quiet", setup},
                   dir.path() + "/run.out")) {
      state.SkipWithError("cannot start orvanta-run");
      return;
    }
    // After the connect sequence every command is a trial's start event:
    // once the first event is in, the command count tells the trial.
    Results r;
    int64_t connectCommands = -1;
    const auto deadline = start + 120s;
    bool sampled1000 = false;
    while (SteadyClock::now() < deadline && run.running()) {
      if (connectCommands < 0) {
        const int64_t received = sim.server().commands_received();
        const size_t events = sim.server().model().Events().size();
        if (events > 0) {
          connectCommands = received - static_cast<int64_t>(events);
          if (auto m = ReadMemoryUse(run.pid())) r.atStart = *m;
        }
      }
      const int64_t received = sim.server().commands_received();
      if (connectCommands >= 0) {
        const int64_t trial = received - connectCommands;
        if (!sampled1000 && trial >= 1000) {
          if (auto m = ReadMemoryUse(run.pid())) r.at1000 = *m;
          sampled1000 = true;
        }
        if (trial >= kTrials) {
          if (auto m = ReadMemoryUse(run.pid())) r.at10000 = *m;
          break;
        }
      }
      if (run.Wait(std::chrono::milliseconds(0))) break;
      std::this_thread::sleep_for(200us);
    }
    // The peak just before the process ends: wait for the run to finish.
    for (int i = 0; i < 2000 && run.running(); ++i) {
      if (auto m = ReadMemoryUse(run.pid())) r.peakKiB = std::max(r.peakKiB, m->peakKiB);
      if (run.Wait(5ms)) break;
    }
    const auto status = run.Wait(30s);
    r.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    if (!status || *status != 0) {
      run.Stop(SIGINT, 2000ms);
      r.problem = "orvanta-run did not complete: " + ReadFile(dir.path() + "/run.out");
    } else if (r.at1000.rssKiB == 0 || r.at10000.rssKiB == 0) {
      r.problem = "the resident set could not be sampled at trials 1,000 and 10,000";
    }
    if (!r.problem.empty()) {
      state.SkipWithError(r.problem.c_str());
      return;
    }
    r.done = true;
    gResults = r;
  }
  state.counters["rss_1000_KiB"] = static_cast<double>(gResults.at1000.rssKiB);
  state.counters["rss_10000_KiB"] = static_cast<double>(gResults.at10000.rssKiB);
  state.counters["peak_KiB"] = static_cast<double>(gResults.peakKiB);
}
BENCHMARK(BM_RunnerMemory)->Iterations(1)->Unit(benchmark::kSecond);

void Summarize(Summary& s) {
  const Results& r = gResults;
  if (!r.done) {
    s.Note("The run did not complete; no figures.");
    return;
  }
  Summary::Goal(s.Add("resident set at trial 10,000", static_cast<double>(r.at10000.rssKiB), "KiB",
                      "resident set at trial 1,000", static_cast<double>(r.at1000.rssKiB)),
                1.01);
  s.Add("peak resident set (VmHWM)", static_cast<double>(r.peakKiB), "KiB",
        "resident set after connecting", static_cast<double>(r.atStart.rssKiB));
  s.AddPlain("growth from trial 1,000 to 10,000",
             static_cast<double>(r.at10000.rssKiB - r.at1000.rssKiB), "KiB");
  s.AddPlain("run time of 10,000 trials of 1 ms", r.seconds, "s");
  s.Note(
      "orvanta-run against the simulator (in the benchmark's process); each trial posts "
      "a start event, so the simulator's command count tells the trial. Goal: no growth "
      "(ratio at most 1.01).");
}

}  // namespace
}  // namespace orvanta::bench

int main(int argc, char** argv) {
  return orvanta::bench::RunAndReport(argc, argv, "5. Memory of orvanta-run",
                                      orvanta::bench::Summarize);
}
