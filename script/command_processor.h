// The command interpreter: turns one setup-file command line into a call on
// the application log, the trial list, one trial type or the card deck. It
// owns the command syntax of setup files: how a line splits into arguments,
// which commands exist, how many arguments each takes, and how numbers and
// booleans are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

class CardDeck;
class LogFile;
class Trial;
class TrialContainer;
struct TrialField;

// Splits `line` into arguments by the setup-file rules:
//  - every tab, CR and LF becomes a space (inside double quotes too);
//  - while text remains: trim white space from both ends; an argument that
//    starts with a double quote runs to the next double quote, searched from
//    the second character after the opening quote (so "" never makes an empty
//    argument); any other argument runs to the next space;
//  - a line of blanks gives one empty argument.
// Returns true on success. On a missing closing quote returns false and sets
// `unmatched` to the remaining text after the dropped opening quote.
bool SplitCommandArguments(const std::string& line, std::vector<std::string>& arguments,
                           std::string& unmatched);

// The numeric-argument rule: not empty; decimal digits only, except that the
// first character may be "-" or "+" and one "." may stand anywhere.
bool IsNumericString(const std::string& text);

// The ascii-to-integer conversion of numeric arguments: optional leading
// white space, an optional sign and the digits up to the first other
// character; no digits gives 0 (so "2000.9" is 2000 and "-" is 0). Values
// beyond the signed 32-bit range saturate at -2147483648 and 2147483647.
int32_t AsciiToInt32(const std::string& text);

// ASCII letters compared without regard to case; other bytes exactly.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

// Exactly one interpreter exists per program. Not thread-safe and not
// re-entrant: used from the window thread (the script runner) only.
class CommandProcessor {
 public:
  using Handler = int (CommandProcessor::*)();
  struct CommandEntry {
    const char* name;  // with its leading "-"
    Handler handler;
    int argumentCount;                  // arguments after the command name
    const TrialField* field = nullptr;  // the trial type field a command sets
  };

  // None of the arguments is owned; all must outlive the interpreter. They
  // are only stored here, so they may be bound before they are constructed.
  CommandProcessor(LogFile& log, TrialContainer& trials, CardDeck& deck);
  CommandProcessor(const CommandProcessor&) = delete;
  CommandProcessor& operator=(const CommandProcessor&) = delete;
  virtual ~CommandProcessor();

  // Runs one command line. 0 when the command ran and succeeded; -1 when the
  // line is empty or cannot be split, the command is unknown or an argument
  // check failed (each logged at ERROR, except the empty line); otherwise the
  // failure result of the operation the command called (logged by it).
  // Nothing is logged on success.
  int ProcessCommandString(const std::string& commandLine);

  // Fills mArguments from `commandLine`; 0, or -1 on a missing closing quote
  // (logged at ERROR).
  int ParseCommandString(const std::string& commandLine);

  // The command table, in table order (31 entries).
  const std::vector<CommandEntry>& GetCommandTable() const { return mCommandTable; }
  // The arguments of the last line split; element 0 is the command name.
  const std::vector<std::string>& GetArguments() const { return mArguments; }
  // The text of the last error formatted here.
  const std::string& GetMessage() const { return mMessage; }

  // With switching off, "-SetLogFile" lines are checked but not carried out:
  // their paths are kept, in order, for TakeSkippedLogFiles(), and the log
  // stays where it is. For runs that must touch no file but their own (a
  // check, a dry run). On at construction.
  void SetLogFileSwitching(bool enabled) { mLogFileSwitching = enabled; }
  // The paths of the "-SetLogFile" lines skipped since the last call.
  std::vector<std::string> TakeSkippedLogFiles();

 private:
  // One handler per command, named like the command without its dash, except
  // the trial type fields: one handler per kind, run for the field of the
  // entry being run (mField).
  int SetLogFile();
  int AddTrial();
  int SetTrialCount();
  // -SetStartOfTrialTrigger "<type>" "<object>" <count> <window ms>
  // <timeout ms> Play|Skip
  int SetStartOfTrialTrigger();
  int SetTrialInteger();
  int SetTrialBoolean();
  int SetTrialText();
  int SetShuffleType();
  int SetShuffleMaxConsecutiveTypeCount();
  int SetTrialOrder();
  int SetTimingMode();
  int SetTimingTolerance();

  // Shared steps of the handlers. `handler` is the handler's name without
  // the class ("SetTrialDuration"); `command` the table name.
  bool CheckArgumentCount(const char* handler, const char* command, int expected);
  bool CheckNumeric(const char* handler, int argumentNumber);
  bool CheckBoolean(const char* handler, int argumentNumber, bool& value);
  // The steps shared by the trial type field handlers: count check and
  // look-up by name; null after a failure (logged).
  Trial* FieldTrial();
  int Fail(const std::string& message);

  LogFile& log_;
  TrialContainer& trials_;
  CardDeck& deck_;

  std::vector<CommandEntry> mCommandTable;
  const TrialField* mField = nullptr;  // the field of the command being run
  std::string mMessage;
  std::vector<std::string> mArguments;
  bool mLogFileSwitching = true;
  std::vector<std::string> mSkippedLogFiles;
};

}  // namespace orvanta
