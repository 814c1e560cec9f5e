#include "tools/quorvin-sim/transcript.h"

#include <cerrno>
#include <cstring>
#include <deque>

#include "tools/quorvin-sim/command_text.h"

namespace orvanta::sim {

namespace {
constexpr auto kEchoCloseWait = std::chrono::seconds(2);
}  // namespace

struct Transcript::Echo {
  Echo(FILE* out, size_t limit) : out(out), limit(limit) {}

  void Run() EXCLUDES(mutex) {
    while (true) {
      std::deque<std::string> lines;
      size_t lost = 0;
      {
        MutexLock lock(&mutex);
        while (queue.empty() && dropped == 0 && !closing) changed.Wait();
        if (queue.empty() && dropped == 0 && closing) break;
        lines.swap(queue);
        lost = dropped;
        dropped = 0;
      }
      // Lines are dropped only while the queue is full, that is after every
      // line of this batch was queued: the note goes after them.
      for (const std::string& line : lines) std::fwrite(line.data(), 1, line.size(), out);
      if (lost > 0) {
        const std::string note =
            "# " + std::to_string(lost) + " transcript lines not echoed: stdout was not read\n";
        std::fwrite(note.data(), 1, note.size(), out);
      }
      std::fflush(out);
    }
    MutexLock lock(&mutex);
    done = true;
    changed.SignalAll();
  }

  FILE* const out;
  const size_t limit;
  Mutex mutex;
  CondVar changed{&mutex};
  std::deque<std::string> queue GUARDED_BY(mutex);
  size_t dropped GUARDED_BY(mutex) = 0;
  bool closing GUARDED_BY(mutex) = false;
  bool done GUARDED_BY(mutex) = false;
};

Transcript::~Transcript() { Close(); }

bool Transcript::Open(const TranscriptConfig& config, std::string* error) {
  MutexLock lock(&mutex_);
  keep_lines_ = config.keep_lines;
  const std::string header = std::string(kTranscriptHeader) + "\n";
  if (!config.path.empty()) {
    file_ = std::fopen(config.path.c_str(), "wb");
    if (file_ == nullptr) {
      if (error) *error = "cannot write transcript '" + config.path + "': " + std::strerror(errno);
      return false;
    }
    std::fwrite(header.data(), 1, header.size(), file_);
    std::fflush(file_);
  }
  if (config.echo != nullptr) {
    echo_ = std::make_shared<Echo>(config.echo, config.echo_queue_limit);
    {
      MutexLock echo_lock(&echo_->mutex);
      echo_->queue.push_back(header);
    }
    echo_thread_ = std::thread([echo = echo_] { echo->Run(); });
  }
  return true;
}

void Transcript::Write(uint64_t time_us, std::optional<uint64_t> reply_us, std::string_view conn,
                       std::string_view kind, std::string_view text, std::string_view reply,
                       std::string_view note) {
  std::string line = std::to_string(time_us);
  line += '\t';
  line += reply_us ? std::to_string(*reply_us) : "-";
  line += '\t';
  line += EscapeField(conn);
  line += '\t';
  line += EscapeField(kind);
  line += '\t';
  line += EscapeField(text);
  line += '\t';
  line += EscapeField(reply);
  line += '\t';
  line += EscapeField(note);
  line += '\n';

  MutexLock lock(&mutex_);
  if (closed_) return;
  if (file_ != nullptr) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  }
  if (echo_) {
    MutexLock echo_lock(&echo_->mutex);
    if (echo_->queue.size() < echo_->limit) {
      echo_->queue.push_back(line);
    } else {
      ++echo_->dropped;
    }
    echo_->changed.Signal();
  }
  if (keep_lines_) {
    line.pop_back();
    lines_.push_back(std::move(line));
    line_added_.SignalAll();
  }
}

void Transcript::Close() {
  std::shared_ptr<Echo> echo;
  {
    MutexLock lock(&mutex_);
    if (closed_) return;
    closed_ = true;
    if (file_ != nullptr) {
      std::fflush(file_);
      std::fclose(file_);
      file_ = nullptr;
    }
    echo.swap(echo_);
  }
  if (!echo) return;
  bool finished;
  {
    const auto deadline = std::chrono::steady_clock::now() + kEchoCloseWait;
    MutexLock lock(&echo->mutex);
    echo->closing = true;
    echo->changed.SignalAll();
    while (!echo->done) {
      if (!echo->changed.WaitUntil(deadline)) break;
    }
    finished = echo->done;
  }
  if (finished) {
    echo_thread_.join();
  } else {
    // stdout is blocked for good; the thread holds its own share of the
    // queue and ends with the process.
    echo_thread_.detach();
  }
}

std::vector<std::string> Transcript::Lines() const {
  MutexLock lock(&mutex_);
  return lines_;
}

std::optional<std::string> Transcript::WaitForLine(
    const std::function<bool(const std::string&)>& match, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(&mutex_);
  size_t checked = 0;
  while (true) {
    for (; checked < lines_.size(); ++checked) {
      if (match(lines_[checked])) return lines_[checked];
    }
    if (!line_added_.WaitUntil(deadline)) {
      for (; checked < lines_.size(); ++checked) {
        if (match(lines_[checked])) return lines_[checked];
      }
      return std::nullopt;
    }
  }
}

std::vector<std::string> SplitTranscriptLine(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

}  // namespace orvanta::sim
