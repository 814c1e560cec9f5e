#include "tools/quorvin-sim/transcript.h"

#include <cerrno>
#include <cstring>

#include "tools/quorvin-sim/command_text.h"

namespace orvanta::sim {

Transcript::~Transcript() { Close(); }

bool Transcript::Open(const TranscriptConfig& config, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  echo_ = config.echo;
  keep_lines_ = config.keep_lines;
  if (!config.path.empty()) {
    file_ = std::fopen(config.path.c_str(), "wb");
    if (file_ == nullptr) {
      if (error) *error = "cannot write transcript '" + config.path + "': " + std::strerror(errno);
      return false;
    }
  }
  const std::string header = std::string(kTranscriptHeader) + "\n";
  for (FILE* out : {file_, echo_}) {
    if (out == nullptr) continue;
    std::fwrite(header.data(), 1, header.size(), out);
    std::fflush(out);
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

  std::lock_guard<std::mutex> lock(mutex_);
  const std::string with_end = line + "\n";
  for (FILE* out : {file_, echo_}) {
    if (out == nullptr) continue;
    std::fwrite(with_end.data(), 1, with_end.size(), out);
    std::fflush(out);
  }
  if (keep_lines_) {
    lines_.push_back(std::move(line));
    line_added_.notify_all();
  }
}

void Transcript::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr) {
    std::fflush(file_);
    std::fclose(file_);
    file_ = nullptr;
  }
  if (echo_ != nullptr) std::fflush(echo_);
}

std::vector<std::string> Transcript::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::optional<std::string> Transcript::WaitForLine(const std::function<bool(const std::string&)>& match,
                                                   std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  size_t checked = 0;
  while (true) {
    for (; checked < lines_.size(); ++checked) {
      if (match(lines_[checked])) return lines_[checked];
    }
    if (line_added_.wait_until(lock, deadline) == std::cv_status::timeout) {
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
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

}  // namespace orvanta::sim
