#include "record/trigger_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "record/timeline_file.h"

namespace orvanta::record {

namespace {

int64_t MicrosOf(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

std::string Field(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string MicrosField(int64_t us) { return us < 0 ? "n/a" : std::to_string(us); }

int64_t Integer(const std::string& text, int64_t fallback) {
  if (text.empty() || text == "n/a") return fallback;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0' ? v : fallback;
}

Json Millis(int64_t us) { return Json::Number(static_cast<double>(us) / 1000.0); }

}  // namespace

TriggerRow TriggerRowOf(const TriggerRecord& record, std::chrono::steady_clock::time_point start) {
  const bool fired = record.outcome == TriggerOutcome::kFired;
  TriggerRow row;
  row.trial = record.trialNumber;
  row.type = record.trialName;
  row.object = record.object;
  row.count = record.count;
  row.windowMs = record.windowMs;
  row.timeoutMs = record.timeoutMs;
  row.outcome = TriggerOutcomeName(record.outcome);
  row.armedUs = MicrosOf(record.armedAt - start);
  row.decidedUs = MicrosOf(record.decidedAt - start);
  row.arrivedUs = fired ? MicrosOf(record.arrivedAt - start) : -1;
  row.latencyUs = fired && record.hasLatency ? std::max<int64_t>(0, MicrosOf(record.latency)) : -1;
  return row;
}

std::string FormatTriggerRow(const TriggerRow& r) {
  return std::to_string(r.trial) + "\t" + Field(r.type) + "\t" + Field(r.object) + "\t" +
         std::to_string(r.count) + "\t" + std::to_string(r.windowMs) + "\t" +
         std::to_string(r.timeoutMs) + "\t" + r.outcome + "\t" + MicrosField(r.armedUs) + "\t" +
         MicrosField(r.decidedUs) + "\t" + MicrosField(r.arrivedUs) + "\t" +
         (r.latencyUs < 0 ? std::string("n/a") : MillisText(r.latencyUs)) + "\n";
}

bool ParseTriggerRow(const std::vector<std::string>& f, TriggerRow& row) {
  if (f.size() < 11) return false;
  row.trial = static_cast<int32_t>(Integer(f[0], 0));
  row.type = f[1];
  row.object = f[2];
  row.count = static_cast<int32_t>(Integer(f[3], 0));
  row.windowMs = static_cast<int32_t>(Integer(f[4], 0));
  row.timeoutMs = static_cast<int32_t>(Integer(f[5], 0));
  row.outcome = f[6];
  row.armedUs = Integer(f[7], -1);
  row.decidedUs = Integer(f[8], -1);
  row.arrivedUs = Integer(f[9], -1);
  row.latencyUs = MicrosOfMillisText(f[10]);
  return true;
}

std::vector<int64_t> LatencyHistogram(const std::vector<TriggerRow>& rows) {
  std::vector<int64_t> counts(std::size(kLatencyBins), 0);
  for (const TriggerRow& r : rows) {
    if (r.latencyUs < 0) continue;
    for (std::size_t b = 0; b < counts.size(); ++b) {
      if (r.latencyUs >= kLatencyBins[b].fromUs &&
          (kLatencyBins[b].toUs < 0 || r.latencyUs < kLatencyBins[b].toUs)) {
        ++counts[b];
        break;
      }
    }
  }
  return counts;
}

Json TriggerSummaryJson(const std::vector<TriggerRow>& rows, const TriggerCounts* worker) {
  const std::string fired = TriggerOutcomeName(TriggerOutcome::kFired);
  const std::string skipped = TriggerOutcomeName(TriggerOutcome::kTimedOutSkipped);
  int64_t firedCount = 0, timeouts = 0, skippedCount = 0;
  std::vector<int64_t> latencies;
  for (const TriggerRow& r : rows) {
    if (r.outcome == fired) {
      ++firedCount;
    } else {
      ++timeouts;
      if (r.outcome == skipped) ++skippedCount;
    }
    if (r.latencyUs >= 0) latencies.push_back(r.latencyUs);
  }
  int64_t waits = static_cast<int64_t>(rows.size());
  if (worker != nullptr) {
    waits = worker->waits;
    timeouts = worker->timeouts;
    skippedCount = worker->skipped;
  }
  Json out = Json::Object();
  out.Set("waits", Json::Number(static_cast<double>(waits)));
  out.Set("fired", Json::Number(static_cast<double>(firedCount)));
  out.Set("timed_out", Json::Number(static_cast<double>(timeouts)));
  out.Set("played_after_timeout", Json::Number(static_cast<double>(timeouts - skippedCount)));
  out.Set("skipped", Json::Number(static_cast<double>(skippedCount)));
  out.Set("failure",
          worker == nullptr || worker->failure.empty() ? Json() : Json::String(worker->failure));
  std::sort(latencies.begin(), latencies.end());
  // Nearest rank: the smallest latency at or above that share of them.
  const auto rank = [&latencies](double share) {
    const auto n = static_cast<double>(latencies.size());
    const auto at = static_cast<std::size_t>(std::max(1.0, std::ceil(share * n)));
    return Millis(latencies[std::min(at, latencies.size()) - 1]);
  };
  out.Set("latency_p50_ms", latencies.empty() ? Json() : rank(0.50));
  out.Set("latency_p99_ms", latencies.empty() ? Json() : rank(0.99));
  out.Set("latency_max_ms", latencies.empty() ? Json() : Millis(latencies.back()));
  Json histogram = Json::Object();
  const std::vector<int64_t> counts = LatencyHistogram(rows);
  for (std::size_t b = 0; b < counts.size(); ++b) {
    histogram.Set(kLatencyBins[b].name, Json::Number(static_cast<double>(counts[b])));
  }
  out.Set("latency_histogram_ms", std::move(histogram));
  return out;
}

}  // namespace orvanta::record
