#include "tools/quorvin-sim/sim_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/version.h"
#include "tools/quorvin-sim/command_text.h"
#include "tools/quorvin-sim/records.h"
#include "tools/quorvin-sim/scheduled_records.h"

namespace orvanta::sim {

std::vector<AcqObject> DefaultObjects() {
  return {
      {"SE1", "SEScAcqEnt"},          {"SE2", "SEScAcqEnt"}, {"ST1", "STScAcqEnt"},
      {"TT1", "TTScAcqEnt"},          {"CSC1", "CscAcqEnt"}, {"CSC2", "CscAcqEnt"},
      {"CSC Reference", "CscAcqEnt"}, {"VT1", "VTAcqEnt"},   {"Digital Events", "EventAcqEnt"},
  };
}

std::string VersionText() { return "quorvin-sim " ORVANTA_VERSION "\n"; }

namespace {

bool ParseInt64(const std::string& text, int64_t* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *out = v;
  return true;
}

bool ParsePort(const std::string& text, int* out) {
  int64_t v = 0;
  if (!ParseInt64(text, &v) || v < 0 || v > 65535) return false;
  *out = static_cast<int>(v);
  return true;
}

bool ParseCount(const std::string& text, int64_t* out) {
  return ParseInt64(text, out) && *out >= 1;
}

// "N" or "N:V".
bool ParseFault(const std::string& text, ReplyFault* fault) {
  const size_t colon = text.find(':');
  if (!ParseCount(text.substr(0, colon), &fault->nth)) return false;
  if (colon == std::string::npos) return true;
  int64_t v = 0;
  if (!ParseInt64(text.substr(colon + 1), &v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  fault->value = v;
  return true;
}

bool ValidName(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c == '"' || c == '\t' || c == '\r' || c == '\n' || c == '\0') return false;
  }
  return true;
}

// The parser's state: the result so far and the option at hand.
struct Parse {
  explicit Parse(ParseResult& r) : result(r), o(r.options) {}

  ParseResult& result;
  SimOptions& o;
  std::string name;   // the option as given, without its "=VALUE"
  std::string value;  // its value; empty for an option that takes none
  bool objects_given = false;
  bool done = false;  // the result is final: help or version
  // Each schedule's option and value, for the check against the object list
  // once every --object is known.
  std::vector<std::pair<std::string, std::string>> schedule_options;

  // Refuses the value: "invalid value 'VALUE' for NAME: WHAT".
  bool Refuse(const std::string& what) {
    result.error = "invalid value '" + value + "' for " + name + ": " + what;
    return false;
  }
  bool Set(bool& flag) {
    flag = true;
    return true;
  }
  bool Keep(std::string& field) {
    field = value;
    return true;
  }
  bool Stop(ParseStatus status) {
    result.status = status;
    done = true;
    return true;
  }
  bool NoNul(const std::string& text) {
    return text.find('\0') == std::string::npos || Refuse("no NUL allowed");
  }
  bool FileName(std::string& field) {
    return !value.empty() ? Keep(field) : Refuse("expected a file name");
  }
  bool Port(int& field) {
    return ParsePort(value, &field) || Refuse("expected a port from 0 to 65535");
  }
  bool Count(int64_t& field) {
    return ParseCount(value, &field) || Refuse("expected a command count from 1");
  }
  // --emit or --burst, as `parse` reads the value.
  bool Schedule(bool (*parse)(const std::string&, ScheduledRecords*), const char* usage) {
    ScheduledRecords records;
    if (!parse(value, &records)) return Refuse(usage);
    o.schedules.push_back(std::move(records));
    schedule_options.emplace_back(name, value);
    return true;
  }
  // Every scheduled object must be one the simulator serves, of a type a
  // data stream carries.
  bool CheckSchedules() {
    for (size_t i = 0; i < o.schedules.size(); ++i) {
      const std::string& object = o.schedules[i].object;
      name = schedule_options[i].first;
      value = schedule_options[i].second;
      const auto found = std::find_if(o.objects.begin(), o.objects.end(),
                                      [&object](const AcqObject& a) { return a.name == object; });
      if (found == o.objects.end()) {
        std::string known;
        for (const AcqObject& a : o.objects)
          known += (known.empty() ? "" : ", ") + QuoteToken(a.name);
        return Refuse("no object '" + object + "' in the simulator's object list: " + known);
      }
      if (!StreamKindForType(found->type)) {
        return Refuse("object '" + object + "' is of type " + found->type +
                      ", which no data stream carries");
      }
    }
    return true;
  }
  bool Limit(int& field) {
    int64_t v = 0;
    if (!ParseCount(value, &v) || v > 100000) return Refuse("expected 1 to 100000");
    field = static_cast<int>(v);
    return true;
  }
};

// One row per option: its place in the help and what it does. The help
// lists the rows in this order.
struct OptionRow {
  // Lines that open a part of the help, after a blank line ("Listeners:\n");
  // "" for the blank line alone.
  const char* heading = nullptr;
  const char* name = nullptr;   // "--bind"
  const char* value = nullptr;  // the value's name in the help; none: takes no value
  // Lines separated by '\n', from column 25; a name and value that reach it
  // stand on a line of their own.
  const char* help = nullptr;
  const char* note = nullptr;       // lines printed after the row
  bool (*apply)(Parse&) = nullptr;  // false with the error set: the value is refused
};

constexpr size_t kHelpColumn = 25;

// clang-format off
constexpr OptionRow kOptions[] = {
    {.heading = "Listeners:\n", .name = "--negotiation-port", .value = "N",
     .help = "port that hands out message ports (default 26200;\n"
             "0 picks a free port)",
     .apply = [](Parse& p) { return p.Port(p.o.negotiation_port); }},
    {.name = "--message-port", .value = "N",
     .help = "port for direct message connections (default 26100;\n"
             "0 picks a free port)",
     .apply = [](Parse& p) { return p.Port(p.o.message_port); }},
    {.name = "--no-negotiation",
     .help = "open no negotiation listener, so that clients fall\n"
             "back to the message port",
     .apply = [](Parse& p) {
       p.o.negotiation_enabled = false;
       return true;
     }},
    {.name = "--bind", .value = "ADDR",
     .help = "IPv4 address to listen on (default 127.0.0.1; use\n"
             "0.0.0.0 to accept clients that connect by host name)",
     .apply = [](Parse& p) {
       unsigned a, b, c, d;
       char tail;
       if (std::sscanf(p.value.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 ||
           b > 255 || c > 255 || d > 255) {
         return p.Refuse("expected a dotted IPv4 address");
       }
       p.o.bind_address = p.value;
       return true;
     }},
    {.name = "--port-file", .value = "PATH",
     .help = "also write the start-up line to PATH (written whole,\n"
             "once the listeners are open; removed at exit)",
     .note = "\n"
             "  -GetNextAvailablePortNumber asked on a negotiation connection opens a\n"
             "  one-shot message port (closed again after one connection or after the\n"
             "  handout timeout); asked on any other connection it names a port that is\n"
             "  free for the client's own data stream socket, which the simulator then\n"
             "  reaches with -CreateStream.\n",
     .apply = [](Parse& p) { return p.FileName(p.o.port_file); }},
    {.heading = "Output:\n", .name = "--transcript", .value = "PATH",
     .help = "write the transcript to PATH (truncated at start)",
     .apply = [](Parse& p) { return p.FileName(p.o.transcript_path); }},
    {.name = "--quiet",
     .help = "do not echo the transcript on stdout",
     .apply = [](Parse& p) { return p.Set(p.o.quiet); }},
    {.heading = "Simulated server:\n", .name = "--app-name", .value = "NAME",
     .help = "name in the reply to -GetApplicationName\n"
             "(default \"Quorvin Simulator\")",
     .apply = [](Parse& p) { return p.NoNul(p.value) && p.Keep(p.o.application_name); }},
    {.name = "--object", .value = "NAME=TYPE",
     .help = "serve this acquisition object; repeat for more. The\n"
             "first one replaces the default list (SE1, SE2 SEScAcqEnt;\n"
             "ST1 STScAcqEnt; TT1 TTScAcqEnt; CSC1, CSC2,\n"
             "\"CSC Reference\" CscAcqEnt; VT1 VTAcqEnt;\n"
             "\"Digital Events\" EventAcqEnt)",
     .apply = [](Parse& p) {
       const size_t sep = p.value.rfind('=');
       if (sep == std::string::npos) return p.Refuse("expected NAME=TYPE");
       AcqObject obj{p.value.substr(0, sep), p.value.substr(sep + 1)};
       if (!ValidName(obj.name))
         return p.Refuse("the name must be non-empty, without double quotes or control characters");
       if (!ValidName(obj.type) || obj.type.find(' ') != std::string::npos) {
         return p.Refuse("the type must be one word");
       }
       if (!p.objects_given) p.o.objects.clear();
       p.objects_given = true;
       for (const AcqObject& existing : p.o.objects) {
         if (existing.name == obj.name) return p.Refuse("object '" + obj.name + "' is given twice");
       }
       p.o.objects.push_back(obj);
       return true;
     }},
    {.name = "--record-rate", .value = "HZ|max",
     .help = "stream records per second for each open object\n"
             "(default 10; \"max\" sends as fast as the client reads)",
     .apply = [](Parse& p) {
       if (p.value == "max") {
         p.o.record_rate_hz = 0;
         return true;
       }
       char* end = nullptr;
       errno = 0;
       const double hz = std::strtod(p.value.c_str(), &end);
       if (p.value.empty() || errno != 0 || *end != '\0' || !std::isfinite(hz) || hz <= 0 ||
           hz > 1e6) {
         return p.Refuse("expected a rate above 0 and up to 1000000, or max");
       }
       p.o.record_rate_hz = hz;
       return true;
     }},
    {.name = "--emit", .value = "OBJECT@MS[,MS...]",
     .help = "send one record of OBJECT at each MS (0 to 3600000)\n"
             "milliseconds after -OpenStream opens it, on its\n"
             "stream, instead of its continuous records; repeat\n"
             "for more objects (e.g. SE1@500,520,540)",
     .apply = [](Parse& p) {
       return p.Schedule(ParseEmitValue, "expected OBJECT@MS[,MS...], MS from 0 to 3600000");
     }},
    {.name = "--burst", .value = "OBJECT@FIRST+GAPxCOUNT",
     .help = "send COUNT (1 to 1000000) records of OBJECT, GAP ms\n"
             "apart, the first FIRST ms after -OpenStream opens it,\n"
             "each on its own deadline (e.g. SE1@500+5x1000);\n"
             "added to the object's --emit times",
     .note = "  An object with --emit or --burst sends only its scheduled records; opened\n"
             "  again after -CloseStream, it starts its schedule again. Opened before its\n"
             "  stream exists, it starts when -CreateStream connects the stream.\n",
     .apply = [](Parse& p) {
       return p.Schedule(ParseBurstValue,
                         "expected OBJECT@FIRST+GAPxCOUNT, FIRST and GAP from 0 to 3600000 ms, "
                         "COUNT from 1 to 1000000");
     }},
    {.name = "--check-wav-files",
     .help = "answer -SetDAWavFile with an error when the file\n"
             "cannot be read on this computer",
     .apply = [](Parse& p) { return p.Set(p.o.check_wav_files); }},
    {.name = "--seed", .value = "N",
     .help = "seed of the noise in the records (default 1)",
     .apply = [](Parse& p) {
       int64_t v = 0;
       if (!ParseInt64(p.value, &v) || v < 0 || v > 0xFFFFFFFFll)
         return p.Refuse("expected 0 to 4294967295");
       p.o.seed = static_cast<uint32_t>(v);
       return true;
     }},
    {.name = "--handout-timeout", .value = "MS",
     .help = "how long a handed-out message port waits for its\n"
             "connection (default 30000)",
     .apply = [](Parse& p) {
       int64_t v = 0;
       if (!ParseCount(p.value, &v) || v > 3600000)
         return p.Refuse("expected 1 to 3600000 milliseconds");
       p.o.handout_timeout_ms = static_cast<int>(v);
       return true;
     }},
    {.heading = "Limits (a client that floods the simulator cannot bring it down):\n",
     .name = "--max-connections", .value = "N",
     .help = "client connections served at once (default 64);\n"
             "further ones are closed at once and logged as errors",
     .apply = [](Parse& p) { return p.Limit(p.o.max_connections); }},
    {.name = "--max-handouts", .value = "N",
     .help = "message ports handed out and not yet connected\n"
             "(default 64); further requests get \"-1 Too many ...\"",
     .apply = [](Parse& p) { return p.Limit(p.o.max_handouts); }},
    {.name = "--stream-to-any-address",
     .help = "let -CreateStream connect to any address; by default\n"
             "it only connects back to the address its message\n"
             "connection came from",
     .note = "  Frames over 64 KiB being read take at most 16 MiB over all connections; a\n"
             "  frame beyond that closes its connection.\n",
     .apply = [](Parse& p) { return p.Set(p.o.stream_any_address); }},
    {.heading = "Fault injection (N counts the commands the simulator receives, from 1, over\n"
                "all connections; with --fault-command only commands of that name count):\n",
     .name = "--fault-command", .value = "NAME",
     .help = "count only commands whose first word is NAME",
     .apply = [](Parse& p) {
       if (p.value.empty() || p.value.find(' ') != std::string::npos)
         return p.Refuse("expected one command word");
       return p.Keep(p.o.fault_command);
     }},
    {.name = "--reply-delay", .value = "MS",
     .help = "wait MS milliseconds before every reply",
     .apply = [](Parse& p) {
       int64_t v = 0;
       if (!ParseInt64(p.value, &v) || v < 0 || v > 3600000)
         return p.Refuse("expected 0 to 3600000 milliseconds");
       p.o.reply_delay_ms = static_cast<int>(v);
       return true;
     }},
    {.name = "--late-reply", .value = "N:MS",
     .help = "answer the Nth command MS milliseconds late; later\n"
             "commands wait for it, as on a slow server",
     .apply = [](Parse& p) {
       const size_t colon = p.value.find(':');
       int64_t ms = -1;
       if (colon == std::string::npos ||
           !ParseCount(p.value.substr(0, colon), &p.o.late_reply.nth) ||
           !ParseInt64(p.value.substr(colon + 1), &ms) || ms < 0 || ms > 3600000) {
         return p.Refuse("expected N:MS, MS from 0 to 3600000");
       }
       p.o.late_reply.value = ms;
       return true;
     }},
    {.name = "--echo",
     .help = "end each reply to a counted command with\n"
             "\" <- #N \" and the command, to show which reply\n"
             "answered which command",
     .apply = [](Parse& p) { return p.Set(p.o.echo); }},
    {.name = "--no-reply", .value = "N",
     .help = "send no reply to the Nth command",
     .apply = [](Parse& p) { return p.Count(p.o.no_reply_nth); }},
    {.name = "--close-after", .value = "N",
     .help = "close the connection after replying to the Nth\n"
             "command",
     .apply = [](Parse& p) { return p.Count(p.o.close_after_n); }},
    {.name = "--bad-version", .value = "N[:V]",
     .help = "reply to the Nth command with version V (default 2)",
     .apply = [](Parse& p) {
       if (!ParseFault(p.value, &p.o.bad_version)) return p.Refuse("expected N or N:VERSION");
       if (p.o.bad_version.value == 1) return p.Refuse("version 1 is the valid one");
       return true;
     }},
    {.name = "--bad-validation", .value = "N",
     .help = "reply to the Nth command with validation code\n"
             "0x5A5A5A5A",
     .apply = [](Parse& p) { return p.Count(p.o.bad_validation_nth); }},
    {.name = "--absurd-size", .value = "N[:SIZE]",
     .help = "reply to the Nth command with payload size SIZE\n"
             "(default 2147483647) and the real payload after it",
     .apply = [](Parse& p) {
       if (!ParseFault(p.value, &p.o.absurd_size)) return p.Refuse("expected N or N:SIZE");
       return true;
     }},
    {.name = "--replace-reply", .value = "N:TEXT",
     .help = "answer the Nth command with TEXT instead, without\n"
             "carrying the command out (e.g. \"1:-1\" with\n"
             "--fault-command -GetNextAvailablePortNumber)",
     .apply = [](Parse& p) {
       const size_t colon = p.value.find(':');
       if (colon == std::string::npos ||
           !ParseCount(p.value.substr(0, colon), &p.o.replace_reply_nth)) {
         return p.Refuse("expected N:TEXT");
       }
       p.o.replace_reply_text = p.value.substr(colon + 1);
       return p.NoNul(p.o.replace_reply_text);
     }},
    {.name = "--extra-frame", .value = "N[:TEXT]",
     .help = "after the reply to the Nth command, send one more\n"
             "frame that no command asked for (default text\n"
             "\"0 unsolicited\")",
     .apply = [](Parse& p) {
       const size_t colon = p.value.find(':');
       if (!ParseCount(p.value.substr(0, colon), &p.o.extra_frame_nth))
         return p.Refuse("expected N or N:TEXT");
       if (colon != std::string::npos) p.o.extra_frame_text = p.value.substr(colon + 1);
       return p.NoNul(p.o.extra_frame_text);
     }},
    {.heading = "", .name = "--version",
     .help = "show the version and exit",
     .apply = [](Parse& p) { return p.Stop(ParseStatus::kVersion); }},
    {.name = "--help",
     .help = "show this text and exit",
     .apply = [](Parse& p) { return p.Stop(ParseStatus::kHelp); }},
};
// clang-format on

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptions) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

// The row's lines of the help.
void AppendHelp(const OptionRow& row, std::string& text) {
  if (row.heading != nullptr) {
    text += "\n";
    text += row.heading;
  }
  std::string line = "  ";
  line += row.name;
  if (row.value != nullptr) {
    line += " ";
    line += row.value;
  }
  if (line.size() < kHelpColumn) {
    line.append(kHelpColumn - line.size(), ' ');
  } else {
    line += "\n";
    line.append(kHelpColumn, ' ');
  }
  for (const char* c = row.help; *c != '\0'; ++c) {
    line += *c;
    if (*c == '\n') line.append(kHelpColumn, ' ');
  }
  text += line;
  text += "\n";
  if (row.note != nullptr) text += row.note;
}

}  // namespace

std::string HelpText() {
  std::string text = R"(Usage: quorvin-sim [OPTION]...
Simulates the Quorvin acquisition server on TCP, so that a protocol can be
rehearsed without a rig: it answers every command of the client, keeps the
state the trial commands drive (digital output ports, posted events, wav
buffers and playback), and sends data stream records.
)";
  for (const OptionRow& row : kOptions) AppendHelp(row, text);
  return text + R"(
Replies: "0" (or "0 " and a value) on success; "-1 " and a reason on failure,
also for an unknown command ("-1 Unknown command: NAME"). -RequestRingBuffer
answers with the object's four latest records as raw bytes. A client frame
with a version other than 1, a wrong validation code or a payload size outside
1..1048576 is reported and its connection closed.

Start-up line (stdout, always, and the port file):
  quorvin-sim listening negotiation=PORT message=PORT
  (negotiation=off with --no-negotiation)

Transcript: one line per happening, seven tab-separated fields, flushed per
line; lines starting with '#' are comments:
  time_us  reply_us  conn  kind  text  reply  note
  time_us   microseconds on a monotonic clock since start-up; for commands,
            the time the command frame had fully arrived
  reply_us  for commands, the time the whole reply frame had been handed to
            the socket; "-" when no reply was sent and for other kinds
  conn      ID/LISTENER, LISTENER being negotiation, message or handout
            (a message port handed out on a negotiation connection); "-" for
            lines of the whole server
  kind      start, open, cmd, stream, record, close, error or stop
  text      the command as received, or what happened
  reply     the reply text; "<N bytes>" for binary replies; empty if none
  note      the state the command changed and any fault applied, else empty
  Backslash, tab, CR, LF and other control bytes in fields are written as
  \\, \t, \r, \n and \xHH. A command's line is written just after its
  reply has been sent, so a client holding the reply may have to wait a
  moment for the line, and lines of different connections can appear
  slightly out of time_us order.

A record sent on a schedule (--emit, --burst) has a line of its own:
  SENT_US  -  ID/LISTENER  record  OBJECT  (empty)  seq=N/M due_us=DUE
  SENT_US   the time the record's bytes had been handed to the socket
  conn      the message connection whose -CreateStream made the stream
  N/M       the record's place in the object's schedule of M records, from 1,
            counted again at each open; DUE the time it was due
Every later command line of that connection ends its note with
"after_record_us=US seq=N object=OBJECT" (after "; " when the note has more):
US microseconds from the last such record's send to the command's arrival,
that record being record N of OBJECT.

Records carry the same clock in microseconds (uint64 at offset 0, except
video records: offset 8). Exit status: 0 after SIGINT or SIGTERM, 64 for a bad
command line, 69 when a listener cannot be opened, 73 when the transcript or
port file cannot be written.
)";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
  ParseResult result;
  Parse p(result);

  auto fail = [&result](std::string message) {
    result.status = ParseStatus::kError;
    result.error = std::move(message);
    return result;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    p.name = args[i];
    p.value.clear();
    bool has_inline_value = false;
    if (p.name.rfind("--", 0) != 0) return fail("unexpected argument '" + p.name + "'");
    const size_t eq = p.name.find('=');
    if (eq != std::string::npos) {
      p.value = p.name.substr(eq + 1);
      p.name = p.name.substr(0, eq);
      has_inline_value = true;
    }
    const OptionRow* row = FindOption(p.name);
    if (row == nullptr) return fail("unknown option '" + p.name + "'");
    if (row->value == nullptr && has_inline_value) {
      return fail("option " + p.name + " takes no value");
    }
    if (row->value != nullptr && !has_inline_value) {
      if (i + 1 >= args.size()) return fail("option " + p.name + " needs a value");
      p.value = args[++i];
    }
    if (!row->apply(p)) {
      result.status = ParseStatus::kError;
      return result;
    }
    if (p.done) return result;
  }

  if (!p.CheckSchedules()) {
    result.status = ParseStatus::kError;
    return result;
  }
  const SimOptions& o = result.options;
  if (o.negotiation_enabled && o.negotiation_port != 0 && o.negotiation_port == o.message_port) {
    return fail("the negotiation and message ports must differ");
  }
  result.status = ParseStatus::kRun;
  return result;
}

}  // namespace orvanta::sim
