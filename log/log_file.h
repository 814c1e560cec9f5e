// The application log: one timestamped, level-tagged line per entry, written
// to a text file (CR LF line ends, flushed per line) and echoed to the main
// window's message list.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "platform/thread_annotations.h"
#include "platform/window_listener.h"

namespace orvanta {

// Log levels, passed as plain integers.
enum LogLevel : int {
  kLogFatal = 0,
  kLogError = 1,
  kLogWarning = 2,
  kLogNotice = 3,
  kLogData = 4,
  kLogDebug = 5,
};

// Exactly one LogFile exists per program; it outlives every object that
// writes to it. The seams are not owned and must outlive the log.
class LogFile {
 public:
  LogFile(const Clock& clock, MessageBoxes& boxes, MainWindowRef& window, ShellOpener& shell);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  // Closes the file without a closing line.
  virtual ~LogFile();

  // Writes one entry "<tag><time stamp> - <text>" and echoes it to the window.
  // Returns 0 when written (or a dropped DEBUG entry), -1 when no file is open.
  // Thread-safe: entries from different threads never interleave and reach
  // the file and the window in the same order. Never waits for the window.
  int WriteLogEntry(int level, const std::string& text);

  // Derives directory and name from `path` and opens that file (truncated),
  // closing the previous one with its closing line. -1 for an empty path or a
  // stream in its hard-error state, else 0 (also when the file did not open).
  int SetLogFilename(const std::string& path);

  // Asks the desktop to open the log file. Always 0; failures are logged and
  // shown in a message box.
  int ViewLogFile();

  // The log's share of a saved setup file: -SetLogFile "<path>" and two empty
  // lines, CR LF.
  std::string GetSetupFileLines() const;

  // The path last opened or tried (what ViewLogFile opens).
  std::string GetFilePath() const;
  bool IsOpen() const;

  // The 14-character tag of a level, "-* UNKNOWN *- " for unknown levels.
  static std::string GetLevelTag(int level);
  // " HH:MM:SS.mmm" (leading space) at the clock's current time.
  std::string GetTimeStamp() const;

 private:
  int OpenLogFile();
  int CloseLogFile();
  int WriteLine(const std::string& text) REQUIRES(mLogLock);

  const Clock& clock_;
  MessageBoxes& boxes_;
  MainWindowRef& window_;
  ShellOpener& shell_;

  std::string mFileName GUARDED_BY(mLogLock);
  std::string mFilePath GUARDED_BY(mLogLock);
  std::string mDirectory GUARDED_BY(mLogLock);
  std::FILE* mLogStream GUARDED_BY(mLogLock) = nullptr;
  bool mStreamFailed GUARDED_BY(mLogLock) = false;  // the stream's hard-error state
  mutable std::mutex mLogLock;  // serialises entries, switches and closes
  bool mDebugEnabled = false;
};

}  // namespace orvanta
