// The setup-file runner and writer. Loading runs a setup file: every command
// line the line reader hands out goes to the command interpreter, in file
// order, until the file ends or a command fails. Saving writes a setup file
// that, run again in a program without trial types, rebuilds the same setup:
// a fixed header of comment lines, then the lines of the application log, the
// trial list and the card deck.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace orvanta {

class CardDeck;
class CommandProcessor;
class LogFile;
class MessageBoxes;
class TrialContainer;

// How the last ProcessScript ended.
struct ScriptOutcome {
  enum Kind {
    kNotRun,         // no file processed yet
    kCompleted,      // the reader reached the end of the file
    kStoppedEarly,   // the reader stopped on an invalid, unreadable or overlong
                     // line or a failed macro line; it and the lines after it
                     // were not run (result -1, message box shown)
    kOpenFailed,     // the file could not be opened (result -1)
    kCommandFailed,  // a command failed (result -1, message box shown)
  };
  Kind kind = kNotRun;
  // kCommandFailed: the failing command's line; kStoppedEarly: the line the
  // reader stopped at. 0 otherwise.
  int32_t lineNumber = 0;
  // kCommandFailed: the command line as the reader prepared it;
  // kStoppedEarly: the line as it was read.
  std::string commandLine;
  // kCommandFailed, kStoppedEarly, kOpenFailed: why, as the ERROR entries of
  // this load tell it (one per line, without tag and time stamp).
  std::string reason;
};

// The outcome of a checked save.
struct SetupFileSaveResult {
  int status = -1;  // 0 when the file was written completely and is in place
  // Why the file was not saved (empty on success). The target is unchanged.
  std::string error;
  // Values that were saved but will not read back (see FindUnreadableValues).
  std::vector<std::string> warnings;
};

// Exactly one exists per program; used from the window thread only (both
// operations take no lock).
class ConfigFileProcessor {
 public:
  // None of the arguments is owned; all must outlive the processor.
  ConfigFileProcessor(LogFile& log, TrialContainer& trials, CardDeck& deck,
                      CommandProcessor& commands, MessageBoxes& boxes, const Clock& clock);
  ConfigFileProcessor(const ConfigFileProcessor&) = delete;
  ConfigFileProcessor& operator=(const ConfigFileProcessor&) = delete;
  virtual ~ConfigFileProcessor();

  // Runs the setup file at `path` with its own line reader (macros never
  // carry over between files) on top of the current setup. 0 when the file
  // was read to its end; -1 when it cannot be opened, a command failed or
  // the reader stopped at a line it could not read. A load that stopped
  // early is logged and shown in the "Configuration File Error" box, with
  // the line, the reason and what was kept: the commands before the line
  // keep their effect, the rest of the file is not run.
  int ProcessScript(const std::string& path);
  const ScriptOutcome& GetLastOutcome() const { return mLastOutcome; }

  // Writes the whole setup to `file`, which the caller has opened for
  // writing in binary mode and closes afterwards. Always 0: write errors are
  // left in the stream's error state (ferror) for the caller to check.
  int WriteSetupFile(std::FILE* file);

  // The exact bytes WriteSetupFile writes for a save at local time `now`.
  std::string GetSetupFileText(const LocalTime& now);

  // Saves the setup to `path` without ever leaving a partial file: the text
  // is written to a temporary file in the same folder, flushed to disk and
  // renamed over the target, so a failed or interrupted save leaves the
  // previous file as it was. A target that exists but is not a regular file
  // (a device such as /dev/null) is written in place. A file the user may
  // not write to is refused, not replaced; a replaced file keeps its
  // permissions (and its owner where allowed). Every failure (no folder, no
  // permission, a full disk, a short write) is reported in the result. On success, `warnings` lists
  // the values that will not read back.
  SetupFileSaveResult SaveSetupFile(const std::string& path);

  // The trial type names, strings and the log path that a setup file cannot
  // carry: values holding "#" or "//" (cut as comments on reading), a double
  // quote, a tab or a line break, empty subsystem names (written as "" which
  // does not split), and lines beyond the reader's 999 characters. One
  // readable sentence per problem; empty when the setup reads back whole.
  std::vector<std::string> FindUnreadableValues();

  // Starts afresh: removes every trial type (the window is told of each),
  // which empties the deck and the order, and sets the shuffle settings back
  // to those of a fresh start (Normal, at most 1 of a type in a row). The
  // log stays where it is. Logged at NOTICE. Always 0.
  int ClearSetup();

  // The command lines a save would write now (log, trial list, deck), without
  // the header and its date: equal texts mean equal setups.
  std::string GetSetupLines();

  const std::string& GetMessage() const { return mMessage; }

 private:
  // The box and the ERROR entry of a load that stopped before the end of
  // the file, from mLastOutcome.
  void ReportStoppedLoad(const std::string& path, const std::vector<std::string>& errors);

  LogFile& log_;
  TrialContainer& trials_;
  CardDeck& deck_;
  CommandProcessor& commands_;
  MessageBoxes& boxes_;
  const Clock& clock_;

  std::string mMessage;
  ScriptOutcome mLastOutcome;
};

}  // namespace orvanta
