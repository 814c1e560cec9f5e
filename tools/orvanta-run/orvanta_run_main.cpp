// orvanta-run: runs a recording session headless, straight from setup files.
//
//   orvanta-run [options] SETUP.cfg...
//
// The setup half loads the files, shuffles, prints and saves the run order;
// the run half connects to the acquisition server, runs the order, waits for
// its end and disconnects (see --help).
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/console_stop.h"
#include "record/record_reader.h"
#include "record/session_report.h"
#include "tools/orvanta-run/runner_options.h"
#include "tools/orvanta-run/runner_run.h"
#include "tools/orvanta-run/runner_setup.h"

namespace {

using namespace orvanta::runner;

// --report: rebuilds the report of a record, which may be interrupted.
int RebuildReport(const std::string& folder) {
  std::string path, error;
  if (!orvanta::record::WriteReport(folder, path, error)) {
    std::fprintf(stderr, "orvanta-run: cannot write the report: %s\n", error.c_str());
    return kExitSetupFailed;
  }
  std::fprintf(stderr, "orvanta-run: session report: %s\n", path.c_str());
  return kExitOk;
}

// --resume: turns the record into the setup file and the trial to start at.
// Returns -1 to go on, else the exit status.
int PrepareResume(RunnerOptions& options) {
  orvanta::record::LoadedRecord loaded;
  std::string error;
  if (!orvanta::record::LoadRecord(options.resumeFrom, loaded, error)) {
    std::fprintf(stderr, "orvanta-run: cannot resume: %s\n", error.c_str());
    return kExitSetupFailed;
  }
  if (loaded.outcome == "running") {
    std::fprintf(stderr, "orvanta-run: cannot resume %s: its run is still going\n",
                 options.resumeFrom.c_str());
    return kExitSetupFailed;
  }
  const int32_t first = orvanta::record::ResumeTrial(loaded);
  const int64_t count = loaded.session["number_of_trials"].Int(0);
  if (first == 0) {
    std::fprintf(stderr, "orvanta-run: every trial of %s completed; nothing to resume\n",
                 options.resumeFrom.c_str());
    return kExitOk;
  }
  options.setupFiles = {options.resumeFrom + "/setup.cfg"};
  options.startAt = first;
  std::fprintf(stderr, "orvanta-run: resuming %s (%s) at trial %d of %lld\n",
               options.resumeFrom.c_str(), loaded.outcome.c_str(), static_cast<int>(first),
               static_cast<long long>(count));
  return -1;
}

// The console's stop requests (SIGINT and SIGTERM; Ctrl+C and closing the
// console on Windows): the first one stops the run as the Stop button does,
// a second one ends the program at once.
void OnConsoleStop(int count, StopRequest& stop, RunnerProgram& program) {
  if (count == 1) {
    stop.Request();
    program.trials.StopProcessingTrials();
  } else {
    // Past stdio, whose lock a blocked writer may hold.
    static const char kText[] = "orvanta-run: stopped at once\n";
    (void)!::write(STDERR_FILENO, kText, sizeof kText - 1);
    ::_exit(kExitRunStopped);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts. A closed output pipe does not end a session
  // either; writes just fail.
  orvanta::PrepareConsoleStops();

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  RunnerOptions options;
  std::string error;
  switch (ParseRunnerOptions(arguments, options, error)) {
    case ParseOutcome::kHelp:
      std::fputs(RunnerUsage().c_str(), stdout);
      return kExitOk;
    case ParseOutcome::kVersion:
      std::fputs(RunnerVersion().c_str(), stdout);
      return kExitOk;
    case ParseOutcome::kUsageError:
      std::fprintf(stderr, "orvanta-run: %s (see orvanta-run --help)\n", error.c_str());
      return kExitUsage;
    case ParseOutcome::kRun:
      break;
  }
  if (!options.reportOf.empty()) return RebuildReport(options.reportOf);
  if (!options.resumeFrom.empty()) {
    const int status = PrepareResume(options);
    if (status >= 0) return status;
  }

  RunnerProgram program;
  const std::string clash = CheckOutputPaths(program, options);
  if (!clash.empty()) {
    std::fprintf(stderr, "orvanta-run: %s (see orvanta-run --help)\n", clash.c_str());
    return kExitUsage;
  }
  StreamLogEcho echo(stdout);
  if (!options.quiet) {
    program.window.Register(&echo);
    program.boxes.SetEcho(&echo);
  }
  int status = kExitOk;
  {
    StopRequest stop;
    orvanta::ConsoleStopWatcher stopWatcher(
        [&stop, &program](int count) { OnConsoleStop(count, stop, program); });

    std::vector<std::string> problems;
    status = RunSetup(program, options, stdout, stderr, options.quiet ? nullptr : &echo, problems);
    if (status == kExitOk && stop.IsRequested()) {
      echo.Flush();
      std::fputs("orvanta-run: stopped\n", stderr);
      status = kExitRunStopped;
    } else if (status == kExitOk && options.check) {
      for (std::string& problem : CheckSetup(program, options)) {
        problems.push_back(std::move(problem));
      }
      echo.Flush();
      for (const std::string& problem : problems) std::printf("problem: %s\n", problem.c_str());
      std::fflush(stdout);
      if (problems.empty()) {
        std::fputs("orvanta-run: check: no problems found\n", stderr);
      } else {
        std::fprintf(stderr, "orvanta-run: check: %zu problem%s found\n", problems.size(),
                     problems.size() == 1 ? "" : "s");
        status = kExitCheckFailed;
      }
    } else if (status == kExitOk && !options.dryRun) {
      const bool progress = orvanta::StandardOutputIsTerminal();
      status = RunSession(program, options, echo, progress, stop, stderr);
    }
    // The run has ended; nothing of it is left when the stop watcher goes.
    program.trials.StopProcessingTrials();
    program.trials.JoinWorkers();
  }

  // No entry reaches the echo after this; its destructor prints the rest.
  program.window.Unregister();
  program.boxes.SetEcho(nullptr);
  echo.Flush();
  std::fflush(stdout);
  std::fflush(stderr);
  return status;
}
