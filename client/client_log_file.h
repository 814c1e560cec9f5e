// The client library's own log: one tagged, timestamped line per entry,
// written to a text file (CR LF line ends, flushed per line). Nothing is
// written, and entries are dropped, until a file has been opened.
#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/log_line.h"
#include "platform/mutex.h"
#include "platform/output_file.h"
#include "platform/thread_annotations.h"

namespace orvanta {

// The levels the client library writes at: the levels of
// platform/log_line.h (the client log has no DEBUG level).
namespace client_log {
inline constexpr int kFatal = kLogFatal;
inline constexpr int kError = kLogError;
inline constexpr int kWarning = kLogWarning;
inline constexpr int kNotice = kLogNotice;
inline constexpr int kData = kLogData;
}  // namespace client_log

// The first line of every client log starts with this text; an existing file
// is only replaced (moved aside, never truncated) when it starts so.
inline constexpr char kClientLogFileHeader[] = "Vintra Log File Opened - File Name:  ";

class ClientLogFile {
 public:
  // The clock is not owned and must outlive the log.
  explicit ClientLogFile(const Clock& clock);
  ClientLogFile(const ClientLogFile&) = delete;
  ClientLogFile& operator=(const ClientLogFile&) = delete;
  // Closes the file without a closing line.
  virtual ~ClientLogFile();

  // Opens `name` exactly as given by the OutputFile rules (new, or an earlier
  // client log moved aside; never through a symbolic link, never a file of
  // other content or one another program holds), then closes an open file
  // (with its closing line) and writes the three header lines to the new one.
  // -1 when the file cannot be opened: the file that was open stays open and
  // GetLastOpenFailure() says why. Else 0. An earlier failed write does not
  // keep a file from being opened.
  int Open(const std::string& name) EXCLUDES(mLogLock);
  // Why the last Open failed; kind kNone after a successful one.
  OutputFileFailure GetLastOpenFailure() const EXCLUDES(mLogLock);

  // Writes the closing line and closes the file. -1 when nothing is open.
  int Close() EXCLUDES(mLogLock);

  // Writes "<tag><time stamp> - <text>". 0 when written, -1 when no file is
  // open or the write failed; a failed write does not keep later entries
  // from being written. Thread-safe: entries never interleave.
  int WriteLogEntry(int level, const std::string& text) EXCLUDES(mLogLock);

  // Writes `text` as one raw line. 0 when written, -1 when no file is open.
  int WriteLine(const std::string& text) EXCLUDES(mLogLock);

  std::string GetFileName() const EXCLUDES(mLogLock);
  bool IsOpen() const EXCLUDES(mLogLock);

  // The tag of a level: "-* ERROR *- " ...; "-* UNKNOWN *- " for any level
  // other than 0 to 4.
  static std::string GetLevelTag(int level);
  // " HH:MM:SS.mmm" (leading space) at the clock's current time.
  std::string GetTimeStamp() const;

 private:
  int CloseLocked() REQUIRES(mLogLock);
  int WriteLineLocked(const std::string& text) REQUIRES(mLogLock);

  const LogLineWriter writer_;
  std::string mFileName GUARDED_BY(mLogLock);
  std::unique_ptr<OutputFile> mLogStream GUARDED_BY(mLogLock);
  OutputFileFailure mLastOpenFailure GUARDED_BY(mLogLock);
  // Serialises entries, and opening and closing against entries written from
  // the stream threads at the same time.
  mutable Mutex mLogLock;
};

}  // namespace orvanta
