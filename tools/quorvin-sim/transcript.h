// The simulator's transcript: one tab-separated line per happening (command
// received and answered, connection opened or closed, stream connected or
// ended), written to a file and echoed on stdout, flushed after every line so
// that a reader sees each line as soon as it happened. The format is printed
// by --help.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/mutex.h"

namespace orvanta::sim {

// Monotonic microseconds since the clock was made. Shared by the transcript
// and the records' time stamps. Thread-safe.
class SimClock {
 public:
  SimClock() : epoch_(std::chrono::steady_clock::now()) {}
  uint64_t NowUs() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - epoch_)
                                     .count());
  }
  // The steady clock's time point of `us` on this clock, for waits.
  std::chrono::steady_clock::time_point At(uint64_t us) const {
    return epoch_ + std::chrono::microseconds(us);
  }

 private:
  const std::chrono::steady_clock::time_point epoch_;
};

inline constexpr const char* kTranscriptHeader =
    "# time_us\treply_us\tconn\tkind\ttext\treply\tnote";

struct TranscriptConfig {
  std::string path;                 // empty: no file
  FILE* echo = nullptr;             // stdout for the executable; null: no echo
  bool keep_lines = false;          // keep every line in memory (tests)
  size_t echo_queue_limit = 20000;  // echo lines waiting beyond this are dropped
};

// Thread-safe: connection and stream threads write at once; each line is
// written whole under the lock. The file is written at once; the echo goes
// through a thread of its own, so that a stdout nobody reads (a full pipe, a
// paused pager) never holds up the server: when its queue is full, echo lines
// are dropped and a comment line says how many.
class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Opens the file (truncating it) and writes the header line. Returns false
  // with a one-line reason when the file cannot be opened. Call once, before
  // any Write.
  bool Open(const TranscriptConfig& config, std::string* error) EXCLUDES(mutex_);

  // Writes one line. The text fields are escaped here.
  void Write(uint64_t time_us, std::optional<uint64_t> reply_us, std::string_view conn,
             std::string_view kind, std::string_view text, std::string_view reply,
             std::string_view note) EXCLUDES(mutex_);

  // Flushes and closes the file and ends the echo after it has written what
  // is queued (waiting at most two seconds for a blocked stdout). Later writes
  // are dropped. Idempotent.
  void Close() EXCLUDES(mutex_);

  // The lines written so far (without the header), when keep_lines is set.
  std::vector<std::string> Lines() const EXCLUDES(mutex_);
  // Waits until a kept line satisfies `match` or `timeout` passes; returns
  // that line.
  std::optional<std::string> WaitForLine(const std::function<bool(const std::string&)>& match,
                                         std::chrono::milliseconds timeout) const EXCLUDES(mutex_);

 private:
  mutable Mutex mutex_;
  mutable CondVar line_added_{&mutex_};
  struct Echo;
  // Shared with the echo thread, which may outlive the transcript when
  // stdout stays blocked.
  std::shared_ptr<Echo> echo_;
  std::thread echo_thread_;

  FILE* file_ GUARDED_BY(mutex_) = nullptr;
  bool closed_ GUARDED_BY(mutex_) = false;
  bool keep_lines_ GUARDED_BY(mutex_) = false;
  std::vector<std::string> lines_ GUARDED_BY(mutex_);
};

// Splits a transcript line into its seven fields (escapes left as they are).
std::vector<std::string> SplitTranscriptLine(const std::string& line);

}  // namespace orvanta::sim
