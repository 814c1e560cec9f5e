// The timeline: one CSV row per command exchange of a run, handed to the
// system row by row so that a crash loses nothing already sent:
//   trial,type,step,command,reply,sent_us,replied_us
// Times are microseconds since the run started on the steady clock;
// replied_us is empty when no reply came. Fields holding a comma, a double
// quote or a line break are quoted, with quotes doubled.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "platform/thread_annotations.h"
#include "record/record_io.h"
#include "trials/run_observer.h"

namespace orvanta::record {

inline constexpr char kTimelineHeader[] = "trial,type,step,command,reply,sent_us,replied_us\n";

// Thread-safe: the worker writes, any thread may ask ok().
class TimelineFile {
 public:
  TimelineFile() = default;
  TimelineFile(const TimelineFile&) = delete;
  TimelineFile& operator=(const TimelineFile&) = delete;

  // Creates the file and writes the header row. `replace` allows an existing
  // file to be overwritten (the --timeline option); otherwise the file must
  // be new. False with a reason when it cannot be written.
  bool Open(const std::string& path, bool replace, std::string& error) EXCLUDES(mutex_);
  void SetRunStart(std::chrono::steady_clock::time_point start) EXCLUDES(mutex_);
  void Write(const CommandRecord& record) EXCLUDES(mutex_);
  void Close() EXCLUDES(mutex_);
  // True while every row so far has been written whole.
  bool ok() const EXCLUDES(mutex_);

  // One row (with its line break) for `record`, times counted from `start`.
  static std::string Row(const CommandRecord& record, std::chrono::steady_clock::time_point start);
  // One field of a row, quoted when it needs to be.
  static std::string CsvField(const std::string& text);

 private:
  mutable std::mutex mutex_;
  RowFile file_ GUARDED_BY(mutex_);
  std::chrono::steady_clock::time_point start_ GUARDED_BY(mutex_);
};

}  // namespace orvanta::record
