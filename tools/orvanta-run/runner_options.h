// Command-line options of orvanta-run and their parser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::runner {

// Exit statuses of orvanta-run.
inline constexpr int kExitOk = 0;
// A setup file could not be opened, a command in it failed, or the setup
// could not be saved.
inline constexpr int kExitSetupFailed = 1;
inline constexpr int kExitUsage = 64;
// Running trials was asked for, but this build cannot run them.
inline constexpr int kExitRunUnavailable = 69;

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
};

enum class ParseOutcome { kRun, kHelp, kUsageError };

// Parses the arguments after the program name. Options and setup files may
// be mixed; "--" ends the options. Options that take a value accept it as
// the next argument or after "=". On kUsageError `error` holds a one-line
// reason (without the program name).
ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options,
                                std::string& error);

// The --help text.
std::string RunnerUsage();

}  // namespace orvanta::runner
