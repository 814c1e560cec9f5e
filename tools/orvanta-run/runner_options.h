// Command-line options of orvanta-run and their parser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trials/run_timing.h"
#include "trials/trial_trigger.h"

namespace orvanta::runner {

// Exit statuses of orvanta-run.
inline constexpr int kExitOk = 0;
// A setup file could not be opened, a command in it failed, or the setup
// could not be saved.
inline constexpr int kExitSetupFailed = 1;
// The connection to the acquisition server failed, or the server did not
// answer the connection check.
inline constexpr int kExitConnectFailed = 2;
// The run was stopped (SIGINT or SIGTERM) before it completed.
inline constexpr int kExitRunStopped = 3;
// --check found problems in the setup.
inline constexpr int kExitCheckFailed = 4;
// The trial worker could not be started.
inline constexpr int kExitRunFailed = 5;
// The run met trouble: the connection was lost during the run (it ended
// early), or commands failed (no reply within the bound) on a connection
// that held.
inline constexpr int kExitRunTrouble = 6;
// --strict-timing: the run completed, but its timing was outside the
// tolerance.
inline constexpr int kExitTimingOutside = 7;
inline constexpr int kExitUsage = 64;

// One --trigger or --no-trigger: sets or removes a type's start trigger.
struct TriggerChange {
  std::string typeName;
  bool remove = false;   // --no-trigger
  TrialTrigger trigger;  // --trigger: enabled, with the values given
};

struct RunnerOptions {
  std::vector<std::string> setupFiles;  // in the order given
  std::string logPath;                  // empty: OrvantaLogFile.txt in the current directory
  bool hasSeed = false;
  uint32_t seed = 0;
  bool shuffle = false;
  bool printOrder = false;
  std::string savePath;  // empty: do not save
  bool dryRun = false;
  bool quiet = false;

  // The run half.
  std::string serverName;  // empty: this computer's host name
  bool negotiate = true;
  int negotiationPort = 26200;
  int messagePort = 26100;
  std::string clientLogPath;  // empty: the client log stays closed
  int32_t startAt = 1;        // 1-based trial of the order the run begins at
  std::string timelinePath;   // empty: no timeline
  bool hasSchedule = false;   // --schedule given: it overrides the setup's timing mode
  TimingMode schedule = TimingMode::kRelative;
  int32_t replyTimeoutMs = 5000;  // bound of every reply wait; 0: wait for ever
  bool check = false;             // validate the setup instead of running it
  bool hasTolerance = false;      // --timing-tolerance given: it overrides the setup's
  int32_t toleranceMs = kDefaultTimingToleranceMs;
  bool strictTiming = false;  // exit 7 when the timing was outside the tolerance
  // --trigger and --no-trigger in the order given, applied after the setup
  // files (before --save).
  std::vector<TriggerChange> triggerChanges;
  // --objects: the server's objects, which --check compares trigger objects
  // with; empty: only names that cannot be sent are reported.
  std::vector<std::string> knownObjects;

  // The session record.
  std::string recordFolder = "OrvantaSessions";  // where record folders are made
  bool noRecord = false;
  std::string reportOf;    // --report: rebuild this record's report, run nothing
  std::string resumeFrom;  // --resume: the record whose run is continued
};

// kHelp wins over kVersion; either wins over a missing setup file, not over
// a bad option.
enum class ParseOutcome { kRun, kHelp, kVersion, kUsageError };

// Parses the arguments after the program name. --resume takes the place of
// the setup files (its record's setup.cfg is loaded); --report needs none. Options and setup files
// may be mixed; "--" ends the options. Options that take a value accept it as the next argument or
// after "=". On kUsageError `error` holds a one-line reason (without the program name).
ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options,
                                std::string& error);

// The --help text.
std::string RunnerUsage();

// The --version line: "orvanta-run VERSION\n".
std::string RunnerVersion();

}  // namespace orvanta::runner
