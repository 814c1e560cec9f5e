// Command-line options of the acquisition-server simulator, their parser and
// the help text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::sim {

// One simulated acquisition object: its name and its data type, as the
// server lists them in its replies to "-RequestQuorvinObjects" and
// "-RequestQuorvinTypes".
struct AcqObject {
  std::string name;
  std::string type;
};

// The objects served when no --object option is given: one or more of each
// of the six data types, two of them with blanks in their names.
std::vector<AcqObject> DefaultObjects();

// Records of one object sent at set times after its stream is opened
// (--emit, --burst), in place of its continuous records.
struct ScheduledRecords {
  std::string object;
  std::vector<int64_t> atMs;  // milliseconds after the open, as given
};

// A fault that hits the reply to the Nth counted command (N from 1; 0 = off).
struct ReplyFault {
  int64_t nth = 0;
  int64_t value = 0;  // the bad version number, or the bad payload size
};

struct SimOptions {
  // Listeners. A port of 0 picks a free port; the chosen ports are printed on
  // start-up and written to the port file.
  std::string bind_address = "127.0.0.1";
  int negotiation_port = 26200;
  int message_port = 26100;
  bool negotiation_enabled = true;  // false: no negotiation listener at all

  // Output.
  std::string transcript_path;  // empty: no transcript file
  std::string port_file;        // empty: none
  bool quiet = false;           // true: no transcript echo on stdout

  // Simulated server.
  std::string application_name = "Quorvin Simulator";
  std::vector<AcqObject> objects = DefaultObjects();
  double record_rate_hz = 10.0;  // records per second per open object; 0 = as fast as possible
  bool check_wav_files = false;  // refuse wav files that cannot be read here
  // In the order given; the objects are checked against `objects`.
  std::vector<ScheduledRecords> schedules;
  uint32_t seed = 1;               // noise generator seed
  int handout_timeout_ms = 30000;  // how long a handed-out message port waits for its connection

  // Limits against a client that floods the simulator.
  int max_connections = 64;  // client connections served at once; more are refused
  int max_handouts = 64;     // handed-out message ports waiting for their connection
  // false: -CreateStream connects only to the address its message
  // connection came from; true: to any address it names.
  bool stream_any_address = false;

  // Fault injection. Every Nth counts commands received by the whole
  // simulator, from 1, over all connections; with fault_command set, only the
  // commands whose first word is that name are counted.
  int reply_delay_ms = 0;
  std::string fault_command;
  ReplyFault late_reply{0, 0};  // answer the Nth command `value` ms late, commands in order
  bool echo = false;            // end each reply to a counted command with " <- #N COMMAND"
  int64_t no_reply_nth = 0;
  int64_t close_after_n = 0;
  ReplyFault bad_version{0, 2};
  int64_t bad_validation_nth = 0;
  ReplyFault absurd_size{0, 0x7FFFFFFF};
  int64_t replace_reply_nth = 0;  // answer the Nth command with replace_reply_text instead
  std::string replace_reply_text;
  int64_t extra_frame_nth = 0;  // after the Nth command's reply, send one more frame unasked
  std::string extra_frame_text = "0 unsolicited";
};

enum class ParseStatus { kRun, kHelp, kVersion, kError };

struct ParseResult {
  ParseStatus status = ParseStatus::kError;
  SimOptions options;
  std::string error;  // one line, set when status is kError
};

// Parses the arguments after the program name. Accepts "--name value" and
// "--name=value".
ParseResult ParseOptions(const std::vector<std::string>& args);

// The text printed by --help.
std::string HelpText();

// The line printed by --version: "quorvin-sim VERSION\n".
std::string VersionText();

// Exit codes of the executable.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;        // bad command line
inline constexpr int kExitUnavailable = 69;  // a listener could not be opened
inline constexpr int kExitCantCreate = 73;   // the transcript or port file could not be written

}  // namespace orvanta::sim
