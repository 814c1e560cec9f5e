// The application log: one timestamped, level-tagged line per entry, written
// to a text file (CR LF line ends, flushed per line) and echoed to the main
// window's message list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/log_line.h"
#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/output_file.h"
#include "platform/shell_open.h"
#include "platform/thread_annotations.h"
#include "platform/window_listener.h"

namespace orvanta {

// The log levels (LogLevel, kLogFatal ... kLogDebug) come with the line
// writer, platform/log_line.h.

// The first line of every application log starts with this text; an existing
// file is only replaced (moved aside, never truncated) when it starts so.
inline constexpr char kLogFileHeader[] = "Veltrix Base Log File Opened - File Name:  ";

// A log file that could not be opened, and why.
struct LogOpenFailure {
  std::string path;
  OutputFileFailure failure;
  std::string keptPath;  // the log that stayed open; empty when none was
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
  // Returns 0 when written (or a dropped DEBUG entry), -1 when no file is open
  // or the write failed; the echo happens in every case but the DEBUG one.
  // Thread-safe: entries from different threads never interleave and reach
  // the file and the window in the same order. The entry lock is held across
  // the echo; the window listener hands the line over without blocking, so a
  // writer never waits for the window's thread. A listener must not write to
  // the log from inside AddLogMessage.
  int WriteLogEntry(int level, const std::string& text) EXCLUDES(mLogLock);

  // Derives directory and name from `path` and opens that file, closing the
  // previous one with its closing line. Reopening the path that is already
  // open does nothing. The file is opened by the OutputFile rules: a new file,
  // or an earlier log of that name moved aside first (a NOTICE entry in the
  // new log names where); never through a symbolic link, never a file of
  // other content, never one that another program holds (the log keeps an
  // advisory lock on its file while it is open).
  //
  // A file that cannot be opened leaves the previous log open and in use
  // (GetFilePath() still names it): an ERROR entry with the reason goes to it,
  // the "Error openning filename" box is shown, the failure is kept for
  // TakeOpenFailures(), and the result is 0, so a setup file runs on. -1 for
  // an empty path, or for a file that opened but could not take its header
  // lines (a box says so; the log is then closed).
  //
  // Path rules: a leading drive letter and colon is the drive; the directory
  // runs to the last '\\' or '/'; the extension (dropped, ".txt" is always
  // used) is the last dot of the final component. The directory is kept when
  // the path has a drive and a directory, or when it is absolute on this
  // platform (leading '/'); otherwise the file lands in the current directory.
  // A path without a name part keeps the earlier name ("QuorvinLogFile.txt"
  // when none was set).
  //
  // Thread-safe: the switch takes the entry lock, so entries written at the
  // same time go wholly to the old or wholly to the new file. Message boxes
  // are shown after the lock is released.
  int SetLogFilename(const std::string& path) EXCLUDES(mLogLock);

  // Asks the desktop to open the log file. Always 0; failures are logged and
  // shown in a message box. Blocks while the shell runs; the lock is not held.
  int ViewLogFile() EXCLUDES(mLogLock);

  // The log's share of a saved setup file: -SetLogFile "<path>" and two empty
  // lines, CR LF.
  std::string GetSetupFileLines() const EXCLUDES(mLogLock);

  // The path last opened or tried (what ViewLogFile opens).
  std::string GetFilePath() const EXCLUDES(mLogLock);
  bool IsOpen() const EXCLUDES(mLogLock);
  // The file SetLogFilename(path) would open, by the path rules above, without
  // opening anything.
  std::string ResolveLogFilename(const std::string& path) const EXCLUDES(mLogLock);
  // The opens that failed since the last call, oldest first; clears them.
  std::vector<LogOpenFailure> TakeOpenFailures() EXCLUDES(mLogLock);

  // The 14-character tag of a level, "-* UNKNOWN *- " for unknown levels.
  static std::string GetLevelTag(int level);
  // " HH:MM:SS.mmm" (leading space) at the clock's current time.
  std::string GetTimeStamp() const;

 private:
  // Both append the texts of message boxes to `boxes`; the caller shows them
  // once the lock is released.
  int OpenLogFile(std::vector<std::string>& boxes) REQUIRES(mLogLock);
  int CloseLogFile(std::vector<std::string>& boxes) REQUIRES(mLogLock);
  // Writes `text` and CR LF and flushes. 0 when written; -1 when no file is
  // open or the write failed (which sets mStreamFailed).
  int WriteLine(const std::string& text) REQUIRES(mLogLock);
  // WriteLogEntry with the lock already held.
  int WriteEntryLocked(int level, const std::string& text) REQUIRES(mLogLock);
  // The path the current directory and name give.
  std::string CurrentPathLocked() const REQUIRES(mLogLock);
  void ShowBoxes(const std::vector<std::string>& boxes) EXCLUDES(mLogLock);

  const LogLineWriter writer_;
  MessageBoxes& boxes_;
  MainWindowRef& window_;
  ShellOpener& shell_;

  mutable Mutex mLogLock;  // serialises entries, switches and closes
  std::string mFileName GUARDED_BY(mLogLock);
  std::string mFilePath GUARDED_BY(mLogLock);
  std::string mDirectory GUARDED_BY(mLogLock);
  std::unique_ptr<OutputFile> mLogStream GUARDED_BY(mLogLock);
  std::vector<LogOpenFailure> mOpenFailures GUARDED_BY(mLogLock);
  // A write to the current file failed. Cleared by every open, so one bad
  // file never silences the files opened after it.
  bool mStreamFailed GUARDED_BY(mLogLock) = false;
  // DEBUG entries are dropped unless set; nothing in the program sets it.
  const bool mDebugEnabled = false;
};

}  // namespace orvanta
