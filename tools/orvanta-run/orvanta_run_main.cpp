// orvanta-run: runs a recording session headless, straight from setup files.
//
//   orvanta-run [options] SETUP.cfg...
//
// The setup half loads the files, shuffles, prints and saves the run order;
// connecting to the acquisition server and running the trials follow it.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/orvanta-run/runner_options.h"
#include "tools/orvanta-run/runner_setup.h"

int main(int argc, char** argv) {
  using namespace orvanta::runner;

  // A closed output pipe must not end a session; writes just fail.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  RunnerOptions options;
  std::string error;
  switch (ParseRunnerOptions(arguments, options, error)) {
    case ParseOutcome::kHelp:
      std::fputs(RunnerUsage().c_str(), stdout);
      return kExitOk;
    case ParseOutcome::kUsageError:
      std::fprintf(stderr, "orvanta-run: %s (see orvanta-run --help)\n", error.c_str());
      return kExitUsage;
    case ParseOutcome::kRun:
      break;
  }

  RunnerProgram program;
  StreamLogEcho echo(stdout);
  if (!options.quiet) {
    program.window.Register(&echo);
    program.boxes.SetEcho(&echo);
  }

  int status = RunSetup(program, options, stdout, stderr, options.quiet ? nullptr : &echo);
  if (status == kExitOk && !options.dryRun) {
    echo.Flush();
    // The run step (connect, run the order, disconnect) comes with the trial
    // worker and the server client.
    std::fprintf(stderr,
                 "orvanta-run: this build cannot connect to the server or run trials yet; use "
                 "--dry-run\n");
    status = kExitRunUnavailable;
  }

  // No entry reaches the echo after this; its destructor prints the rest.
  program.window.Unregister();
  program.boxes.SetEcho(nullptr);
  echo.Flush();
  std::fflush(stdout);
  return status;
}
