#include "tools/quorvin-sim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/version.h"

namespace orvanta::sim {

std::vector<AcqObject> DefaultObjects() {
  return {
      {"SE1", "SEScAcqEnt"},          {"SE2", "SEScAcqEnt"}, {"ST1", "STScAcqEnt"},
      {"TT1", "TTScAcqEnt"},          {"CSC1", "CscAcqEnt"}, {"CSC2", "CscAcqEnt"},
      {"CSC Reference", "CscAcqEnt"}, {"VT1", "VTAcqEnt"},   {"Digital Events", "EventAcqEnt"},
  };
}

std::string HelpText() {
  return R"(Usage: quorvin-sim [OPTION]...
Simulates the Quorvin acquisition server on TCP, so that a protocol can be
rehearsed without a rig: it answers every command of the client, keeps the
state the trial commands drive (digital output ports, posted events, wav
buffers and playback), and sends data stream records.

Listeners:
  --negotiation-port N   port that hands out message ports (default 26200;
                         0 picks a free port)
  --message-port N       port for direct message connections (default 26100;
                         0 picks a free port)
  --no-negotiation       open no negotiation listener, so that clients fall
                         back to the message port
  --bind ADDR            IPv4 address to listen on (default 127.0.0.1; use
                         0.0.0.0 to accept clients that connect by host name)
  --port-file PATH       also write the start-up line to PATH (written whole,
                         once the listeners are open; removed at exit)

  -GetNextAvailablePortNumber asked on a negotiation connection opens a
  one-shot message port (closed again after one connection or after the
  handout timeout); asked on any other connection it names a port that is
  free for the client's own data stream socket, which the simulator then
  reaches with -CreateStream.

Output:
  --transcript PATH      write the transcript to PATH (truncated at start)
  --quiet                do not echo the transcript on stdout

Simulated server:
  --app-name NAME        name in the reply to -GetApplicationName
                         (default "Quorvin Simulator")
  --object NAME=TYPE     serve this acquisition object; repeat for more. The
                         first one replaces the default list (SE1, SE2 SEScAcqEnt;
                         ST1 STScAcqEnt; TT1 TTScAcqEnt; CSC1, CSC2,
                         "CSC Reference" CscAcqEnt; VT1 VTAcqEnt;
                         "Digital Events" EventAcqEnt)
  --record-rate HZ|max   stream records per second for each open object
                         (default 10; "max" sends as fast as the client reads)
  --check-wav-files      answer -SetDAWavFile with an error when the file
                         cannot be read on this computer
  --seed N               seed of the noise in the records (default 1)
  --handout-timeout MS   how long a handed-out message port waits for its
                         connection (default 30000)

Limits (a client that floods the simulator cannot bring it down):
  --max-connections N    client connections served at once (default 64);
                         further ones are closed at once and logged as errors
  --max-handouts N       message ports handed out and not yet connected
                         (default 64); further requests get "-1 Too many ..."
  --stream-to-any-address
                         let -CreateStream connect to any address; by default
                         it only connects back to the address its message
                         connection came from
  Frames over 64 KiB being read take at most 16 MiB over all connections; a
  frame beyond that closes its connection.

Fault injection (N counts the commands the simulator receives, from 1, over
all connections; with --fault-command only commands of that name count):
  --fault-command NAME   count only commands whose first word is NAME
  --reply-delay MS       wait MS milliseconds before every reply
  --late-reply N:MS      answer the Nth command MS milliseconds late; later
                         commands wait for it, as on a slow server
  --echo                 end each reply to a counted command with
                         " <- #N " and the command, to show which reply
                         answered which command
  --no-reply N           send no reply to the Nth command
  --close-after N        close the connection after replying to the Nth
                         command
  --bad-version N[:V]    reply to the Nth command with version V (default 2)
  --bad-validation N     reply to the Nth command with validation code
                         0x5A5A5A5A
  --absurd-size N[:SIZE] reply to the Nth command with payload size SIZE
                         (default 2147483647) and the real payload after it
  --replace-reply N:TEXT answer the Nth command with TEXT instead, without
                         carrying the command out (e.g. "1:-1" with
                         --fault-command -GetNextAvailablePortNumber)
  --extra-frame N[:TEXT] after the reply to the Nth command, send one more
                         frame that no command asked for (default text
                         "0 unsolicited")

  --version              show the version and exit
  --help                 show this text and exit

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
  kind      start, open, cmd, stream, close, error or stop
  text      the command as received, or what happened
  reply     the reply text; "<N bytes>" for binary replies; empty if none
  note      the state the command changed and any fault applied, else empty
  Backslash, tab, CR, LF and other control bytes in fields are written as
  \\, \t, \r, \n and \xHH. A command's line is written just after its
  reply has been sent, so a client holding the reply may have to wait a
  moment for the line, and lines of different connections can appear
  slightly out of time_us order.

Records carry the same clock in microseconds (uint64 at offset 0, except
video records: offset 8). Exit status: 0 after SIGINT or SIGTERM, 64 for a bad
command line, 69 when a listener cannot be opened, 73 when the transcript or
port file cannot be written.
)";
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

}  // namespace

ParseResult ParseOptions(const std::vector<std::string>& args) {
  ParseResult result;
  SimOptions& o = result.options;
  bool objects_given = false;

  auto fail = [&result](std::string message) {
    result.status = ParseStatus::kError;
    result.error = std::move(message);
    return result;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_inline_value = false;
    if (name.rfind("--", 0) != 0) return fail("unexpected argument '" + name + "'");
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_inline_value = true;
    }

    auto flag = [&]() { return !has_inline_value; };
    // Fetches the option's value; false when it is missing.
    auto take = [&]() {
      if (has_inline_value) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    auto needs_value = [&]() { return fail("option " + name + " needs a value"); };
    auto bad_value = [&](const std::string& what) {
      return fail("invalid value '" + value + "' for " + name + ": " + what);
    };

    if (name == "--help") {
      if (!flag()) return fail("option --help takes no value");
      result.status = ParseStatus::kHelp;
      return result;
    } else if (name == "--version") {
      if (!flag()) return fail("option --version takes no value");
      result.status = ParseStatus::kVersion;
      return result;
    } else if (name == "--quiet") {
      if (!flag()) return fail("option --quiet takes no value");
      o.quiet = true;
    } else if (name == "--no-negotiation") {
      if (!flag()) return fail("option --no-negotiation takes no value");
      o.negotiation_enabled = false;
    } else if (name == "--check-wav-files") {
      if (!flag()) return fail("option --check-wav-files takes no value");
      o.check_wav_files = true;
    } else if (name == "--negotiation-port") {
      if (!take()) return needs_value();
      if (!ParsePort(value, &o.negotiation_port))
        return bad_value("expected a port from 0 to 65535");
    } else if (name == "--message-port") {
      if (!take()) return needs_value();
      if (!ParsePort(value, &o.message_port)) return bad_value("expected a port from 0 to 65535");
    } else if (name == "--bind") {
      if (!take()) return needs_value();
      unsigned a, b, c, d;
      char tail;
      if (std::sscanf(value.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 ||
          b > 255 || c > 255 || d > 255) {
        return bad_value("expected a dotted IPv4 address");
      }
      o.bind_address = value;
    } else if (name == "--port-file") {
      if (!take()) return needs_value();
      if (value.empty()) return bad_value("expected a file name");
      o.port_file = value;
    } else if (name == "--transcript") {
      if (!take()) return needs_value();
      if (value.empty()) return bad_value("expected a file name");
      o.transcript_path = value;
    } else if (name == "--app-name") {
      if (!take()) return needs_value();
      if (value.find('\0') != std::string::npos) return bad_value("no NUL allowed");
      o.application_name = value;
    } else if (name == "--object") {
      if (!take()) return needs_value();
      const size_t sep = value.rfind('=');
      if (sep == std::string::npos) return bad_value("expected NAME=TYPE");
      AcqObject obj{value.substr(0, sep), value.substr(sep + 1)};
      if (!ValidName(obj.name))
        return bad_value("the name must be non-empty, without double quotes or control characters");
      if (!ValidName(obj.type) || obj.type.find(' ') != std::string::npos) {
        return bad_value("the type must be one word");
      }
      if (!objects_given) o.objects.clear();
      objects_given = true;
      for (const AcqObject& existing : o.objects) {
        if (existing.name == obj.name) return bad_value("object '" + obj.name + "' is given twice");
      }
      o.objects.push_back(obj);
    } else if (name == "--record-rate") {
      if (!take()) return needs_value();
      if (value == "max") {
        o.record_rate_hz = 0;
      } else {
        char* end = nullptr;
        errno = 0;
        const double hz = std::strtod(value.c_str(), &end);
        if (value.empty() || errno != 0 || *end != '\0' || !std::isfinite(hz) || hz <= 0 ||
            hz > 1e6) {
          return bad_value("expected a rate above 0 and up to 1000000, or max");
        }
        o.record_rate_hz = hz;
      }
    } else if (name == "--seed") {
      if (!take()) return needs_value();
      int64_t v = 0;
      if (!ParseInt64(value, &v) || v < 0 || v > 0xFFFFFFFFll)
        return bad_value("expected 0 to 4294967295");
      o.seed = static_cast<uint32_t>(v);
    } else if (name == "--max-connections" || name == "--max-handouts") {
      if (!take()) return needs_value();
      int64_t v = 0;
      if (!ParseCount(value, &v) || v > 100000) return bad_value("expected 1 to 100000");
      (name == "--max-connections" ? o.max_connections : o.max_handouts) = static_cast<int>(v);
    } else if (name == "--stream-to-any-address") {
      if (!flag()) return fail("option --stream-to-any-address takes no value");
      o.stream_any_address = true;
    } else if (name == "--handout-timeout") {
      if (!take()) return needs_value();
      int64_t v = 0;
      if (!ParseCount(value, &v) || v > 3600000)
        return bad_value("expected 1 to 3600000 milliseconds");
      o.handout_timeout_ms = static_cast<int>(v);
    } else if (name == "--fault-command") {
      if (!take()) return needs_value();
      if (value.empty() || value.find(' ') != std::string::npos)
        return bad_value("expected one command word");
      o.fault_command = value;
    } else if (name == "--reply-delay") {
      if (!take()) return needs_value();
      int64_t v = 0;
      if (!ParseInt64(value, &v) || v < 0 || v > 3600000)
        return bad_value("expected 0 to 3600000 milliseconds");
      o.reply_delay_ms = static_cast<int>(v);
    } else if (name == "--late-reply") {
      if (!take()) return needs_value();
      const size_t colon = value.find(':');
      int64_t ms = -1;
      if (colon == std::string::npos || !ParseCount(value.substr(0, colon), &o.late_reply.nth) ||
          !ParseInt64(value.substr(colon + 1), &ms) || ms < 0 || ms > 3600000) {
        return bad_value("expected N:MS, MS from 0 to 3600000");
      }
      o.late_reply.value = ms;
    } else if (name == "--echo") {
      if (!flag()) return fail("option --echo takes no value");
      o.echo = true;
    } else if (name == "--no-reply") {
      if (!take()) return needs_value();
      if (!ParseCount(value, &o.no_reply_nth)) return bad_value("expected a command count from 1");
    } else if (name == "--close-after") {
      if (!take()) return needs_value();
      if (!ParseCount(value, &o.close_after_n)) return bad_value("expected a command count from 1");
    } else if (name == "--bad-version") {
      if (!take()) return needs_value();
      if (!ParseFault(value, &o.bad_version)) return bad_value("expected N or N:VERSION");
      if (o.bad_version.value == 1) return bad_value("version 1 is the valid one");
    } else if (name == "--bad-validation") {
      if (!take()) return needs_value();
      if (!ParseCount(value, &o.bad_validation_nth))
        return bad_value("expected a command count from 1");
    } else if (name == "--absurd-size") {
      if (!take()) return needs_value();
      if (!ParseFault(value, &o.absurd_size)) return bad_value("expected N or N:SIZE");
    } else if (name == "--replace-reply") {
      if (!take()) return needs_value();
      const size_t colon = value.find(':');
      if (colon == std::string::npos || !ParseCount(value.substr(0, colon), &o.replace_reply_nth)) {
        return bad_value("expected N:TEXT");
      }
      o.replace_reply_text = value.substr(colon + 1);
      if (o.replace_reply_text.find('\0') != std::string::npos) return bad_value("no NUL allowed");
    } else if (name == "--extra-frame") {
      if (!take()) return needs_value();
      const size_t colon = value.find(':');
      if (!ParseCount(value.substr(0, colon), &o.extra_frame_nth))
        return bad_value("expected N or N:TEXT");
      if (colon != std::string::npos) o.extra_frame_text = value.substr(colon + 1);
      if (o.extra_frame_text.find('\0') != std::string::npos) return bad_value("no NUL allowed");
    } else {
      return fail("unknown option '" + name + "'");
    }
  }

  if (o.negotiation_enabled && o.negotiation_port != 0 && o.negotiation_port == o.message_port) {
    return fail("the negotiation and message ports must differ");
  }
  result.status = ParseStatus::kRun;
  return result;
}

}  // namespace orvanta::sim
