#include "tools/orvanta-run/runner_options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include <cstdint>

#include "platform/version.h"

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

// A whole decimal number from `low` to `high`, nothing else.
bool ParseNumber(const std::string& text, int64_t low, int64_t high, int64_t& number) {
  if (text.empty() || text.size() > 10) return false;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  number = value;
  return true;
}

}  // namespace

ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options,
                                std::string& error) {
  options = RunnerOptions{};
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  bool recordGiven = false;
  bool startAtGiven = false;
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
    const bool takesValue = name == "--log" || name == "--seed" || name == "--save" ||
                            name == "--server" || name == "--negotiation-port" ||
                            name == "--message-port" || name == "--client-log" ||
                            name == "--start-at" || name == "--timeline" || name == "--schedule" ||
                            name == "--record" || name == "--report" || name == "--resume" ||
                            name == "--reply-timeout" || name == "--timing-tolerance";
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
    } else if (name == "--server") {
      if (value.empty()) {
        error = "option --server needs a server name or address";
        return ParseOutcome::kUsageError;
      }
      options.serverName = value;
    } else if (name == "--no-negotiate") {
      options.negotiate = false;
    } else if (name == "--negotiation-port" || name == "--message-port") {
      int64_t port = 0;
      if (!ParseNumber(value, 1, 65535, port)) {
        error = "option " + name + " needs a port number from 1 to 65535, not '" + value + "'";
        return ParseOutcome::kUsageError;
      }
      (name == "--message-port" ? options.messagePort : options.negotiationPort) =
          static_cast<int>(port);
    } else if (name == "--client-log") {
      if (value.empty()) {
        error = "option --client-log needs a file name";
        return ParseOutcome::kUsageError;
      }
      options.clientLogPath = value;
    } else if (name == "--start-at") {
      int64_t trial = 0;
      if (!ParseNumber(value, 1, INT32_MAX, trial)) {
        error = "option --start-at needs a trial number from 1, not '" + value + "'";
        return ParseOutcome::kUsageError;
      }
      options.startAt = static_cast<int32_t>(trial);
      startAtGiven = true;
    } else if (name == "--schedule") {
      if (!ParseTimingMode(value, options.schedule)) {
        error = "option --schedule needs fixed or relative, not '" + value + "'";
        return ParseOutcome::kUsageError;
      }
      options.hasSchedule = true;
    } else if (name == "--timeline") {
      if (value.empty()) {
        error = "option --timeline needs a file name";
        return ParseOutcome::kUsageError;
      }
      options.timelinePath = value;
    } else if (name == "--reply-timeout") {
      char* end = nullptr;
      errno = 0;
      const long long ms = std::strtoll(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno != 0 || ms < 0 || ms > 86400000 ||
          !std::isdigit(static_cast<unsigned char>(value[0]))) {
        error = "option --reply-timeout needs milliseconds from 0 to 86400000, not '" + value + "'";
        return ParseOutcome::kUsageError;
      }
      options.replyTimeoutMs = static_cast<int32_t>(ms);
    } else if (name == "--timing-tolerance") {
      int64_t ms = 0;
      if (!ParseNumber(value, 0, 86400000, ms)) {
        error =
            "option --timing-tolerance needs milliseconds from 0 to 86400000, not '" + value + "'";
        return ParseOutcome::kUsageError;
      }
      options.toleranceMs = static_cast<int32_t>(ms);
      options.hasTolerance = true;
    } else if (name == "--strict-timing") {
      options.strictTiming = true;
    } else if (name == "--record" || name == "--report" || name == "--resume") {
      if (value.empty()) {
        error = "option " + name + " needs a folder name";
        return ParseOutcome::kUsageError;
      }
      (name == "--record"   ? options.recordFolder
       : name == "--report" ? options.reportOf
                            : options.resumeFrom) = value;
      if (name == "--record") recordGiven = true;
    } else if (name == "--no-record") {
      options.noRecord = true;
    } else if (name == "--check") {
      options.check = true;
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
    } else if (name == "--version") {
      version = true;
    } else {
      error = "unknown option '" + argument + "'";
      return ParseOutcome::kUsageError;
    }
  }
  if (help) return ParseOutcome::kHelp;
  if (version) return ParseOutcome::kVersion;
  if (recordGiven && options.noRecord) {
    error = "--record and --no-record exclude each other";
    return ParseOutcome::kUsageError;
  }
  if (!options.reportOf.empty()) {
    if (!options.setupFiles.empty() || !options.resumeFrom.empty()) {
      error = "--report takes a record folder and nothing to run";
      return ParseOutcome::kUsageError;
    }
    return ParseOutcome::kRun;
  }
  if (!options.resumeFrom.empty()) {
    if (!options.setupFiles.empty()) {
      error = "--resume loads the record's own setup; give no setup file";
      return ParseOutcome::kUsageError;
    }
    if (startAtGiven || options.shuffle) {
      error = std::string("--resume picks the trial to start at and keeps the order; ") +
              (startAtGiven ? "--start-at" : "--shuffle") + " cannot be used with it";
      return ParseOutcome::kUsageError;
    }
    return ParseOutcome::kRun;
  }
  if (options.setupFiles.empty()) {
    error = "no setup file given";
    return ParseOutcome::kUsageError;
  }
  return ParseOutcome::kRun;
}

std::string RunnerUsage() {
  return "Usage: orvanta-run [options] SETUP.cfg...\n"
         "       orvanta-run [options] --resume RECORD_DIR\n"
         "       orvanta-run --report RECORD_DIR\n"
         "\n"
         "Loads the setup files in the order given, each as if opened one after\n"
         "another with Open Configuration File, then shuffles, prints and saves the\n"
         "run order as asked. Then it connects to the acquisition server, runs the\n"
         "trials in that order, waits for the end of the run and disconnects.\n"
         "\n"
         "Setup:\n"
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
         "                  (a -SetLogFile in a setup file is reported, not opened)\n"
         "  --check         stop after the steps above and check the setup instead:\n"
         "                  report each problem on its own line (pulse bits outside\n"
         "                  0..15, negative durations, empty subsystem names, wav\n"
         "                  playback without a file, types with no trials, values a\n"
         "                  saved setup file cannot carry, each -SetLogFile, which is\n"
         "                  not opened); nothing is connected\n"
         "\n"
         "Run:\n"
         "  --server NAME   the acquisition server's host name or address; default:\n"
         "                  this computer's host name\n"
         "  --no-negotiate  connect straight to the message port instead of asking\n"
         "                  the negotiation port for one\n"
         "  --negotiation-port N  the server's negotiation port (default 26200)\n"
         "  --message-port N      the server's message port (default 26100)\n"
         "  --client-log PATH     write the server client's own log to PATH\n"
         "  --start-at N    begin the run at trial N of the order, to resume an\n"
         "                  interrupted session; trials and log lines keep the numbers\n"
         "                  of the whole order\n"
         "  --schedule fixed|relative  the run's timing; default: the setup's\n"
         "                  (-SetTimingMode), else relative. relative: each wait counts\n"
         "                  from the return of the step before it; fixed: every step at\n"
         "                  its planned time from the run's start, late steps are\n"
         "                  logged at WARNING and the run does not drift\n"
         "  --timing-tolerance MS  how far a step may stray before the run's timing is\n"
         "                  outside the tolerance (default: the setup's\n"
         "                  -SetTimingTolerance, else 5): fixed, each step against its\n"
         "                  planned time; relative, each trial's period and each\n"
         "                  pulse's width against their nominal values. A run outside\n"
         "                  it gets a warning line; --save keeps it\n"
         "  --strict-timing exit with status 7 when a completed run's timing was\n"
         "                  outside the tolerance\n"
         "  --timeline PATH write a CSV file with one row per command of the run:\n"
         "                  trial, type, step, command, reply, sent_us, replied_us,\n"
         "                  status (times in microseconds since the run started;\n"
         "                  sent_us is empty when the command was not sent,\n"
         "                  replied_us when no reply came; status is replied, no\n"
         "                  reply or not sent); written row by row as the run goes\n"
         "  --reply-timeout MS  wait at most MS milliseconds for each reply of the\n"
         "                  server, and for the connect (default 5000; 0 waits for\n"
         "                  ever). A failed command is logged at ERROR; a lost\n"
         "                  connection ends the run at once (exit status 6)\n"
         "  --record DIR    make the session record in DIR (default: OrvantaSessions\n"
         "                  in the current directory): one new folder per run with\n"
         "                  setup.cfg, session.json, timeline.csv, trials.tsv,\n"
         "                  events.tsv, events.json and report.html\n"
         "  --no-record     write no session record\n"
         "  --resume DIR    load the setup.cfg of the record DIR and run from the\n"
         "                  first trial it did not complete; the new record names DIR\n"
         "  --report DIR    rebuild DIR/report.html from the record DIR and exit\n"
         "  --quiet         do not echo log entries to standard output\n"
         "  --version       show the version and exit\n"
         "  -h, --help      show this help and exit\n"
         "\n"
         "Outputs: the log, the client log and the timeline are created new; an\n"
         "earlier file of the same kind under that name is renamed aside to\n"
         "NAME.yyyymmdd-hhmmss.EXT, any other file or a symbolic link is refused, and\n"
         "a file another program has open is refused. --check and --dry-run write no\n"
         "file but their own log (and --save).\n"
         "\n"
         "On a terminal a progress line shows the trial, its type, the time elapsed\n"
         "and the time left by the nominal durations. SIGINT or SIGTERM (Ctrl-C)\n"
         "stops the run at once, as the Stop button does, and disconnects (during\n"
         "the connect it cancels the connect); a second one ends the program at\n"
         "once.\n"
         "\n"
         "Exit status:\n"
         "  0   success: the run completed (or --dry-run, or --check found nothing)\n"
         "  1   a setup file could not be opened, a command in it failed, the run\n"
         "      order is empty (no trial types, or no trials in the order), or the\n"
         "      setup, the timeline or the session record could not be written, an\n"
         "      output file is in use by another program, or --resume or --report\n"
         "      could not read the record\n"
         "  2   the connection to the acquisition server failed\n"
         "  3   the run was stopped before it completed\n"
         "  4   --check found problems\n"
         "  5   the trial worker could not be started\n"
         "  6   the run met trouble: the connection was lost (the run ended early),\n"
         "      or commands got no reply; stderr names the count and the first one\n"
         "  7   --strict-timing: the run completed, but its timing was outside the\n"
         "      tolerance\n"
         "  64  usage error (also: two of --log, --timeline, --client-log and --save\n"
         "      naming the same file)\n";
}

std::string RunnerVersion() { return "orvanta-run " ORVANTA_VERSION "\n"; }

}  // namespace orvanta::runner
