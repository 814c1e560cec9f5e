#include "tools/orvanta-run/runner_options.h"

#include <cstdint>

namespace orvanta::runner {

namespace {

// A whole decimal number from 0 to 4294967295, nothing else.
bool ParseSeed(const std::string& text, uint32_t& seed) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return false;
  seed = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options,
                                std::string& error) {
  options = RunnerOptions{};
  bool help = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      options.setupFiles.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }

    std::string name = argument;
    std::string value;
    bool hasValue = false;
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      hasValue = true;
    }
    const bool takesValue = name == "--log" || name == "--seed" || name == "--save";
    if (hasValue && !takesValue) {
      error = "option " + name + " takes no value";
      return ParseOutcome::kUsageError;
    }
    if (takesValue && !hasValue) {
      if (i + 1 >= arguments.size()) {
        error = "option " + name + " needs a value";
        return ParseOutcome::kUsageError;
      }
      value = arguments[++i];
    }

    if (name == "--log") {
      if (value.empty()) {
        error = "option --log needs a file name";
        return ParseOutcome::kUsageError;
      }
      options.logPath = value;
    } else if (name == "--seed") {
      if (!ParseSeed(value, options.seed)) {
        error = "option --seed needs a whole number from 0 to 4294967295, not '" + value + "'";
        return ParseOutcome::kUsageError;
      }
      options.hasSeed = true;
    } else if (name == "--save") {
      if (value.empty()) {
        error = "option --save needs a file name";
        return ParseOutcome::kUsageError;
      }
      options.savePath = value;
    } else if (name == "--shuffle") {
      options.shuffle = true;
    } else if (name == "--print-order") {
      options.printOrder = true;
    } else if (name == "--dry-run") {
      options.dryRun = true;
    } else if (name == "--quiet") {
      options.quiet = true;
    } else if (name == "--help" || name == "-h") {
      help = true;
    } else {
      error = "unknown option '" + argument + "'";
      return ParseOutcome::kUsageError;
    }
  }
  if (help) return ParseOutcome::kHelp;
  if (options.setupFiles.empty()) {
    error = "no setup file given";
    return ParseOutcome::kUsageError;
  }
  return ParseOutcome::kRun;
}

std::string RunnerUsage() {
  return "Usage: orvanta-run [options] SETUP.cfg...\n"
         "\n"
         "Loads the setup files in the order given, each as if opened one after\n"
         "another with Open Configuration File, then shuffles, prints and saves the\n"
         "run order as asked.\n"
         "\n"
         "Options:\n"
         "  --log PATH      write the application log to PATH (its extension is always\n"
         "                  .txt); default: OrvantaLogFile.txt in the current directory\n"
         "  --seed N        seed the card deck's random generator with N (0 to\n"
         "                  4294967295) before any shuffle; default: the generator's\n"
         "                  initial state, as in the window\n"
         "  --shuffle       shuffle the run order once after loading, as the Shuffle\n"
         "                  button does\n"
         "  --print-order   print the run order, one line per trial: \"1.  Name\"\n"
         "  --save PATH     save the setup (trial types, counts, shuffle settings and\n"
         "                  the exact run order) to PATH after loading and shuffling\n"
         "  --dry-run       stop after the steps above: do not connect or run trials\n"
         "                  (this build cannot run trials yet; use --dry-run)\n"
         "  --quiet         do not echo log entries to standard output\n"
         "  -h, --help      show this help and exit\n"
         "\n"
         "Exit status:\n"
         "  0   success\n"
         "  1   a setup file could not be opened, a command in it failed, or the\n"
         "      setup could not be saved\n"
         "  64  usage error\n"
         "  69  trials were to be run, but this build cannot run them\n";
}

}  // namespace orvanta::runner
