#include "tools/quorvin-sim/scheduled_records.h"

#include <algorithm>
#include <cstdlib>

namespace orvanta::sim {

namespace {

constexpr int64_t kMaxScheduleMs = 3600000;
constexpr int64_t kMaxBurstCount = 1000000;

// Digits only, from 0 to `max`.
bool ParseBounded(const std::string& text, int64_t max, int64_t* out) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *out = std::strtoll(text.c_str(), nullptr, 10);
  return *out <= max;
}

// "OBJECT@REST".
bool SplitObjectAt(const std::string& value, ScheduledRecords* out, std::string* rest) {
  const size_t at = value.rfind('@');
  if (at == std::string::npos || at == 0) return false;
  out->object = value.substr(0, at);
  *rest = value.substr(at + 1);
  return true;
}

}  // namespace

bool ParseEmitValue(const std::string& value, ScheduledRecords* out) {
  std::string times;
  if (!SplitObjectAt(value, out, &times)) return false;
  size_t start = 0;
  while (true) {
    const size_t comma = times.find(',', start);
    int64_t ms = 0;
    if (!ParseBounded(times.substr(start, comma - start), kMaxScheduleMs, &ms)) return false;
    out->atMs.push_back(ms);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool ParseBurstValue(const std::string& value, ScheduledRecords* out) {
  std::string shape;
  if (!SplitObjectAt(value, out, &shape)) return false;
  const size_t plus = shape.find('+');
  const size_t x = plus == std::string::npos ? plus : shape.find('x', plus);
  int64_t first = 0, gap = 0, count = 0;
  if (x == std::string::npos || !ParseBounded(shape.substr(0, plus), kMaxScheduleMs, &first) ||
      !ParseBounded(shape.substr(plus + 1, x - plus - 1), kMaxScheduleMs, &gap) ||
      !ParseBounded(shape.substr(x + 1), kMaxBurstCount, &count) || count < 1) {
    return false;
  }
  out->atMs.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) out->atMs.push_back(first + gap * i);
  return true;
}

RecordSchedules::RecordSchedules(const std::vector<ScheduledRecords>& given) {
  for (const ScheduledRecords& records : given) {
    std::vector<uint64_t>& times = times_[records.object];
    for (const int64_t ms : records.atMs) times.push_back(static_cast<uint64_t>(ms) * 1000);
  }
  for (auto& entry : times_) std::stable_sort(entry.second.begin(), entry.second.end());
}

const std::vector<uint64_t>* RecordSchedules::Find(std::string_view object) const {
  const auto it = times_.find(object);
  return it == times_.end() ? nullptr : &it->second;
}

void LastEmitted::Set(const EmittedRecord& record) {
  MutexLock lock(&mutex_);
  if (!last_ || last_->sentUs <= record.sentUs) last_ = record;
}

std::optional<EmittedRecord> LastEmitted::Get() const {
  MutexLock lock(&mutex_);
  return last_;
}

std::string AfterRecordNote(const EmittedRecord& last, uint64_t recv_us) {
  const uint64_t after = recv_us >= last.sentUs ? recv_us - last.sentUs : 0;
  return "after_record_us=" + std::to_string(after) + " seq=" + std::to_string(last.seq) +
         " object=" + last.object;
}

}  // namespace orvanta::sim
