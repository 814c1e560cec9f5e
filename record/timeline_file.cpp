#include "record/timeline_file.h"

namespace orvanta::record {

namespace {

int64_t MicrosBetween(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
}

}  // namespace

bool TimelineFile::Open(const std::string& path, bool replace, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_.Create(path, replace, error)) return false;
  file_.Append(kTimelineHeader);
  if (!file_.ok()) {
    error = file_.error();
    return false;
  }
  return true;
}

void TimelineFile::SetRunStart(std::chrono::steady_clock::time_point start) {
  std::lock_guard<std::mutex> lock(mutex_);
  start_ = start;
}

std::string TimelineFile::CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string TimelineFile::Row(const CommandRecord& record,
                              std::chrono::steady_clock::time_point start) {
  std::string row = std::to_string(record.trialNumber) + "," + CsvField(record.trialName) + "," +
                    RunStepName(record.step) + "," + CsvField(record.command) + "," +
                    CsvField(record.reply) + "," +
                    std::to_string(MicrosBetween(start, record.sentAt)) + ",";
  if (record.replied) row += std::to_string(MicrosBetween(start, record.repliedAt));
  row += "\n";
  return row;
}

void TimelineFile::Write(const CommandRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_.IsOpen()) file_.Append(Row(record, start_));
}

void TimelineFile::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.Close();
}

bool TimelineFile::ok() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_.ok();
}

}  // namespace orvanta::record
