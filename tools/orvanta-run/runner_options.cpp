#include "tools/orvanta-run/runner_options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include <cstdint>
#include <utility>

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

// The parser's state: the options so far, what the rows set besides them,
// and the option at hand.
struct Parse {
  Parse(RunnerOptions& o, std::string& e) : options(o), error(e) {}

  RunnerOptions& options;
  std::string& error;
  std::string name;   // the option as given: "--log", "-h"
  std::string value;  // its value; empty for an option that takes none
  bool help = false;
  bool version = false;
  bool recordGiven = false;
  bool startAtGiven = false;

  // Refuses the value: "option NAME needs WHAT".
  bool Needs(const std::string& what) {
    error = "option " + name + " needs " + what;
    return false;
  }
  // Refuses the value, quoting it: "option NAME needs WHAT, not 'VALUE'".
  bool NeedsNot(const std::string& what) { return Needs(what + ", not '" + value + "'"); }
  // A value that must not be empty, `what` naming it.
  bool Text(std::string& field, const char* what) {
    if (value.empty()) return Needs(what);
    field = value;
    return true;
  }
  bool Set(bool& flag) {
    flag = true;
    return true;
  }
  bool Port(int& field) {
    int64_t port = 0;
    if (!ParseNumber(value, 1, 65535, port)) return NeedsNot("a port number from 1 to 65535");
    field = static_cast<int>(port);
    return true;
  }
};

// --trigger TYPE=OBJECT:COUNT:WINDOW:TIMEOUT:ACTION. The last four fields
// are split off at the last colons, the type from the object at the last
// '=': a type name may hold both, an object name may hold colons.
bool ParseTrigger(Parse& p) {
  const std::string& text = p.value;
  std::string fields[4];  // count, window, timeout, action
  size_t end = text.size();
  for (int i = 3; i >= 0; --i) {
    const size_t colon = end == 0 ? std::string::npos : text.rfind(':', end - 1);
    if (colon == std::string::npos) return p.NeedsNot("TYPE=OBJECT:COUNT:WINDOW:TIMEOUT:ACTION");
    fields[i] = text.substr(colon + 1, end - colon - 1);
    end = colon;
  }
  const size_t equals = text.rfind('=', end == 0 ? 0 : end - 1);
  if (end == 0 || equals == std::string::npos || equals == 0) {
    return p.NeedsNot("TYPE=OBJECT:COUNT:WINDOW:TIMEOUT:ACTION");
  }
  TriggerChange change;
  change.typeName = text.substr(0, equals);
  TrialTrigger& trigger = change.trigger;
  trigger.enabled = true;
  trigger.object = text.substr(equals + 1, end - equals - 1);
  if (trigger.object.empty() || trigger.object.find_first_of("\"\r\n") != std::string::npos) {
    return p.Needs("an object name without quotes or line breaks, not '" + trigger.object + "'");
  }
  int64_t number[3] = {0, 0, 0};
  const char* const what[3] = {"a count from 1", "a window from 0", "a timeout from 0"};
  for (int i = 0; i < 3; ++i) {
    if (!ParseNumber(fields[i], i == 0 ? 1 : 0, INT32_MAX, number[i])) {
      return p.Needs(std::string(what[i]) + " to 2147483647" + (i == 0 ? "" : " ms") + ", not '" +
                     fields[i] + "'");
    }
  }
  trigger.count = static_cast<int32_t>(number[0]);
  trigger.windowMs = static_cast<int32_t>(number[1]);
  trigger.timeoutMs = static_cast<int32_t>(number[2]);
  // In any letter case, as in a setup file.
  std::string action = fields[3];
  for (char& c : action) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (action == "skip") {
    trigger.onTimeout = TriggerTimeout::kSkip;
  } else if (action != "play") {
    return p.Needs("Play or Skip after the timeout, not '" + fields[3] + "'");
  }
  p.options.triggerChanges.push_back(std::move(change));
  return true;
}

// --objects NAME[,NAME...]: names between commas, none empty.
bool ParseObjects(Parse& p) {
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    const size_t comma = p.value.find(',', start);
    names.push_back(p.value.substr(start, comma - start));
    if (names.back().empty()) return p.NeedsNot("object names separated by commas");
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  p.options.knownObjects.insert(p.options.knownObjects.end(), names.begin(), names.end());
  return true;
}

// One row per option: its place in the help and what it does. The help
// lists the rows in this order.
struct OptionRow {
  const char* heading = nullptr;  // the part of the help this row opens ("Setup:")
  const char* name = nullptr;     // "--log"
  const char* alias = nullptr;    // a short name listed before it ("-h")
  const char* value = nullptr;    // the value's name in the help; none: takes no value
  // Where the help text starts on the first line: 0 is column 18, or two
  // blanks after a name and value that reach it.
  size_t column = 0;
  // Lines separated by '\n'; the ones after the first start at column 18.
  const char* help = nullptr;
  bool (*apply)(Parse&) = nullptr;  // false with Parse::error set: the value is refused
};

constexpr size_t kHelpColumn = 18;

// clang-format off
constexpr OptionRow kOptions[] = {
    {.heading = "Setup:", .name = "--log", .value = "PATH",
     .help = "write the application log to PATH (its extension is always\n"
             ".txt); default: OrvantaLogFile.txt in the current directory",
     .apply = [](Parse& p) { return p.Text(p.options.logPath, "a file name"); }},
    {.name = "--seed", .value = "N",
     .help = "seed the card deck's random generator with N (0 to\n"
             "4294967295) before any shuffle; default: the generator's\n"
             "initial state, as in the window",
     .apply = [](Parse& p) {
       if (!ParseSeed(p.value, p.options.seed))
         return p.NeedsNot("a whole number from 0 to 4294967295");
       p.options.hasSeed = true;
       return true;
     }},
    {.name = "--shuffle",
     .help = "shuffle the run order once after loading, as the Shuffle\n"
             "button does",
     .apply = [](Parse& p) { return p.Set(p.options.shuffle); }},
    {.name = "--print-order",
     .help = "print the run order, one line per trial: \"1.  Name\"",
     .apply = [](Parse& p) { return p.Set(p.options.printOrder); }},
    {.name = "--trigger", .value = "TYPE=OBJECT:COUNT:WINDOW:TIMEOUT:ACTION",
     .help = "start each\n"
             "trial of TYPE on COUNT records of the server's acquisition\n"
             "object OBJECT within WINDOW ms (COUNT 1: the next record);\n"
             "when TIMEOUT ms pass without them, ACTION (Play or Skip)\n"
             "plays the trial anyway or skips it. Repeatable; applied\n"
             "after the setup files, so --save keeps it",
     .apply = ParseTrigger},
    {.name = "--no-trigger", .value = "TYPE",
     .help = "remove the start trigger of TYPE: its trials start on\n"
             "the clock",
     .apply = [](Parse& p) {
       TriggerChange change;
       change.remove = true;
       if (!p.Text(change.typeName, "a trial type name")) return false;
       p.options.triggerChanges.push_back(std::move(change));
       return true;
     }},
    {.name = "--save", .value = "PATH",
     .help = "save the setup (trial types, counts, shuffle settings and\n"
             "the exact run order) to PATH after loading and shuffling",
     .apply = [](Parse& p) { return p.Text(p.options.savePath, "a file name"); }},
    {.name = "--dry-run",
     .help = "stop after the steps above: do not connect or run trials\n"
             "(a -SetLogFile in a setup file is reported, not opened)",
     .apply = [](Parse& p) { return p.Set(p.options.dryRun); }},
    {.name = "--check",
     .help = "stop after the steps above and check the setup instead:\n"
             "report each problem on its own line (pulse bits outside\n"
             "0..15, negative durations, empty subsystem names, wav\n"
             "playback without a file, types with no trials, start\n"
             "triggers on objects that cannot be sent or are not in\n"
             "--objects, with counts below 1, windows too short for\n"
             "their count or timeouts of 0, values a saved setup file\n"
             "cannot carry, each -SetLogFile, which is not opened);\n"
             "nothing is connected",
     .apply = [](Parse& p) { return p.Set(p.options.check); }},
    {.name = "--objects", .value = "NAME[,NAME...]",
     .help = "for --check: the acquisition\n"
             "server's object names, separated by commas (quote names\n"
             "with blanks); a start trigger on any other object is\n"
             "reported (without it, only names that cannot be sent)",
     .apply = ParseObjects},
    {.heading = "Run:", .name = "--server", .value = "NAME",
     .help = "the acquisition server's host name or address; default:\n"
             "this computer's host name",
     .apply = [](Parse& p) { return p.Text(p.options.serverName, "a server name or address"); }},
    {.name = "--no-negotiate",
     .help = "connect straight to the message port instead of asking\n"
             "the negotiation port for one",
     .apply = [](Parse& p) {
       p.options.negotiate = false;
       return true;
     }},
    {.name = "--negotiation-port", .value = "N", .column = 24,
     .help = "the server's negotiation port (default 26200)",
     .apply = [](Parse& p) { return p.Port(p.options.negotiationPort); }},
    {.name = "--message-port", .value = "N", .column = 24,
     .help = "the server's message port (default 26100)",
     .apply = [](Parse& p) { return p.Port(p.options.messagePort); }},
    {.name = "--client-log", .value = "PATH", .column = 24,
     .help = "write the server client's own log to PATH",
     .apply = [](Parse& p) { return p.Text(p.options.clientLogPath, "a file name"); }},
    {.name = "--start-at", .value = "N",
     .help = "begin the run at trial N of the order, to resume an\n"
             "interrupted session; trials and log lines keep the numbers\n"
             "of the whole order",
     .apply = [](Parse& p) {
       int64_t trial = 0;
       if (!ParseNumber(p.value, 1, INT32_MAX, trial)) return p.NeedsNot("a trial number from 1");
       p.options.startAt = static_cast<int32_t>(trial);
       return p.Set(p.startAtGiven);
     }},
    {.name = "--schedule", .value = "fixed|relative",
     .help = "the run's timing; default: the setup's\n"
             "(-SetTimingMode), else relative. relative: each wait counts\n"
             "from the return of the step before it; fixed: every step at\n"
             "its planned time from the run's start, late steps are\n"
             "logged at WARNING and the run does not drift",
     .apply = [](Parse& p) {
       if (!ParseTimingMode(p.value, p.options.schedule)) return p.NeedsNot("fixed or relative");
       return p.Set(p.options.hasSchedule);
     }},
    {.name = "--timing-tolerance", .value = "MS",
     .help = "how far a step may stray before the run's timing is\n"
             "outside the tolerance (default: the setup's\n"
             "-SetTimingTolerance, else 5): fixed, each step against its\n"
             "planned time; relative, each trial's period and each\n"
             "pulse's width against their nominal values. A run outside\n"
             "it gets a warning line; --save keeps it",
     .apply = [](Parse& p) {
       int64_t ms = 0;
       if (!ParseNumber(p.value, 0, 86400000, ms))
         return p.NeedsNot("milliseconds from 0 to 86400000");
       p.options.toleranceMs = static_cast<int32_t>(ms);
       return p.Set(p.options.hasTolerance);
     }},
    {.name = "--strict-timing",
     .help = "exit with status 7 when a completed run's timing was\n"
             "outside the tolerance",
     .apply = [](Parse& p) { return p.Set(p.options.strictTiming); }},
    {.name = "--timeline", .value = "PATH",
     .help = "write a CSV file with one row per command of the run:\n"
             "trial, type, step, command, reply, sent_us, replied_us,\n"
             "status (times in microseconds since the run started;\n"
             "sent_us is empty when the command was not sent,\n"
             "replied_us when no reply came; status is replied, no\n"
             "reply or not sent); written row by row as the run goes.\n"
             "A setup with start triggers adds the columns object,\n"
             "outcome, arrived_us and latency_ms, and a row of step\n"
             "trigger before each triggered trial's first start\n"
             "command: the trigger's object, its outcome (fired, timed\n"
             "out, played or timed out, skipped), when the deciding\n"
             "record arrived and the latency from then to that\n"
             "command in ms (both empty when there is none)",
     .apply = [](Parse& p) { return p.Text(p.options.timelinePath, "a file name"); }},
    {.name = "--reply-timeout", .value = "MS",
     .help = "wait at most MS milliseconds for each reply of the\n"
             "server, and for the connect (default 5000; 0 waits for\n"
             "ever). A failed command is logged at ERROR; a lost\n"
             "connection ends the run at once (exit status 6)",
     .apply = [](Parse& p) {
       char* end = nullptr;
       errno = 0;
       const long long ms = std::strtoll(p.value.c_str(), &end, 10);
       if (p.value.empty() || *end != '\0' || errno != 0 || ms < 0 || ms > 86400000 ||
           !std::isdigit(static_cast<unsigned char>(p.value[0]))) {
         return p.NeedsNot("milliseconds from 0 to 86400000");
       }
       p.options.replyTimeoutMs = static_cast<int32_t>(ms);
       return true;
     }},
    {.name = "--record", .value = "DIR",
     .help = "make the session record in DIR (default: OrvantaSessions\n"
             "in the current directory): one new folder per run with\n"
             "setup.cfg, session.json, timeline.csv, trials.tsv,\n"
             "events.tsv, events.json and report.html (and\n"
             "triggers.tsv when the setup has start triggers)",
     .apply = [](Parse& p) {
       return p.Text(p.options.recordFolder, "a folder name") && p.Set(p.recordGiven);
     }},
    {.name = "--no-record",
     .help = "write no session record",
     .apply = [](Parse& p) { return p.Set(p.options.noRecord); }},
    {.name = "--resume", .value = "DIR",
     .help = "load the setup.cfg of the record DIR and run from the\n"
             "first trial it did not complete; the new record names DIR",
     .apply = [](Parse& p) { return p.Text(p.options.resumeFrom, "a folder name"); }},
    {.name = "--report", .value = "DIR",
     .help = "rebuild DIR/report.html from the record DIR and exit",
     .apply = [](Parse& p) { return p.Text(p.options.reportOf, "a folder name"); }},
    {.name = "--quiet",
     .help = "do not echo log entries to standard output",
     .apply = [](Parse& p) { return p.Set(p.options.quiet); }},
    {.name = "--version",
     .help = "show the version and exit",
     .apply = [](Parse& p) { return p.Set(p.version); }},
    {.name = "--help", .alias = "-h",
     .help = "show this help and exit",
     .apply = [](Parse& p) { return p.Set(p.help); }},
};
// clang-format on

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptions) {
    if (name == row.name || (row.alias != nullptr && name == row.alias)) return &row;
  }
  return nullptr;
}

// The row's lines of the help.
void AppendHelp(const OptionRow& row, std::string& text) {
  if (row.heading != nullptr) {
    text += "\n";
    text += row.heading;
    text += "\n";
  }
  std::string line = "  ";
  if (row.alias != nullptr) {
    line += row.alias;
    line += ", ";
  }
  line += row.name;
  if (row.value != nullptr) {
    line += " ";
    line += row.value;
  }
  const size_t column = row.column != 0 ? row.column : kHelpColumn;
  line.append(line.size() < column ? column - line.size() : 2, ' ');
  for (const char* c = row.help; *c != '\0'; ++c) {
    line += *c;
    if (*c == '\n') line.append(kHelpColumn, ' ');
  }
  text += line;
  text += "\n";
}

}  // namespace

ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options,
                                std::string& error) {
  options = RunnerOptions{};
  Parse p{options, error};
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

    p.name = argument;
    p.value.clear();
    bool hasValue = false;
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      p.name = argument.substr(0, equals);
      p.value = argument.substr(equals + 1);
      hasValue = true;
    }
    const OptionRow* row = FindOption(p.name);
    const bool takesValue = row != nullptr && row->value != nullptr;
    if (hasValue && !takesValue) {
      error = "option " + p.name + " takes no value";
      return ParseOutcome::kUsageError;
    }
    if (takesValue && !hasValue) {
      if (i + 1 >= arguments.size()) {
        error = "option " + p.name + " needs a value";
        return ParseOutcome::kUsageError;
      }
      p.value = arguments[++i];
    }
    if (row == nullptr) {
      error = "unknown option '" + argument + "'";
      return ParseOutcome::kUsageError;
    }
    if (!row->apply(p)) return ParseOutcome::kUsageError;
  }
  if (p.help) return ParseOutcome::kHelp;
  if (p.version) return ParseOutcome::kVersion;
  if (!options.knownObjects.empty() && !options.check) {
    error = "--objects lists the server's objects for --check; it needs --check";
    return ParseOutcome::kUsageError;
  }
  if (p.recordGiven && options.noRecord) {
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
    if (p.startAtGiven || options.shuffle) {
      error = std::string("--resume picks the trial to start at and keeps the order; ") +
              (p.startAtGiven ? "--start-at" : "--shuffle") + " cannot be used with it";
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
  std::string text =
      "Usage: orvanta-run [options] SETUP.cfg...\n"
      "       orvanta-run [options] --resume RECORD_DIR\n"
      "       orvanta-run --report RECORD_DIR\n"
      "\n"
      "Loads the setup files in the order given, each as if opened one after\n"
      "another with Open Configuration File, then shuffles, prints and saves the\n"
      "run order as asked. Then it connects to the acquisition server, runs the\n"
      "trials in that order, waits for the end of the run and disconnects.\n";
  for (const OptionRow& row : kOptions) AppendHelp(row, text);
  return text +
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
         "      or commands got no reply; stderr names the count and the first one;\n"
         "      or the streams of the start triggers could not be opened\n"
         "  7   --strict-timing: the run completed, but its timing was outside the\n"
         "      tolerance\n"
         "  64  usage error (also: two of --log, --timeline, --client-log and --save\n"
         "      naming the same file, or --trigger or --no-trigger naming a type the\n"
         "      setup does not have)\n";
}

std::string RunnerVersion() { return "orvanta-run " ORVANTA_VERSION "\n"; }

}  // namespace orvanta::runner
