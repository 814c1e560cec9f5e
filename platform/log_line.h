// The line writer both logs share (the application log, log/log_file.h, and
// the client log, client/client_log_file.h): entries
// "<tag><time stamp> - <text>", the "Time Opened" line, and lines written
// with CR LF and flushed one by one.
//
// Each log keeps its own level tags and hands them in as a function; the
// levels themselves are one set for both.
#pragma once

#include <cstdio>
#include <string>

#include "platform/clock.h"

namespace orvanta {

// Log levels, passed as plain integers. The client log has no DEBUG level.
enum LogLevel : int {
  kLogFatal = 0,
  kLogError = 1,
  kLogWarning = 2,
  kLogNotice = 3,
  kLogData = 4,
  kLogDebug = 5,
};

class LogLineWriter {
 public:
  // A log's own tag of a level.
  using TagOf = std::string (*)(int level);

  // The clock is not owned and must outlive the writer. Thread-safe (it
  // keeps no state of its own).
  LogLineWriter(const Clock& clock, TagOf tagOf) : clock_(clock), tagOf_(tagOf) {}

  // "<tag><time stamp> - <text>".
  std::string Entry(int level, const std::string& text) const;
  // " HH:MM:SS.mmm" (leading space) at the clock's current time.
  std::string TimeStamp() const;
  // "Time Opened: (m/d/y)  M/D/YYYY at time H:M:S.ms" at the clock's
  // current time (no zero padding).
  std::string OpenedLine() const;

  // Writes `text` and CR LF and flushes. False when the write failed; the
  // stream's error state is cleared, so that a full disk that gets room
  // again takes the next line.
  static bool WriteLine(std::FILE* stream, const std::string& text);

 private:
  const Clock& clock_;
  const TagOf tagOf_;
};

}  // namespace orvanta
