// The start triggers of a session record: triggers.tsv, one row per
// triggered trial,
//   trial  type  object  count  window_ms  timeout_ms  outcome  armed_us
//   decided_us  arrived_us  latency_ms
// (times in microseconds since the run start; arrived_us and latency_ms are
// n/a when no record decided the wait or no start command followed), and
// session.json's "triggers" summary:
//   waits, fired, timed_out, played_after_timeout, skipped, failure (null
//   or why the triggers could not be started), latency_p50_ms,
//   latency_p99_ms, latency_max_ms (null without latencies) and
//   latency_histogram_ms (the count in each of kLatencyBins, by name).
// Written only for runs whose setup has a start trigger.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "record/json.h"
#include "record/record_reader.h"
#include "trials/run_observer.h"

namespace orvanta::record {

inline constexpr char kTriggersFileName[] = "triggers.tsv";
inline constexpr char kTriggersHeader[] =
    "trial\ttype\tobject\tcount\twindow_ms\ttimeout_ms\toutcome\tarmed_us\tdecided_us\t"
    "arrived_us\tlatency_ms\n";

// A bin of the latency histogram: from `fromUs` up to, not including,
// `toUs` (-1: no upper end).
struct LatencyBin {
  const char* name;
  int64_t fromUs;
  int64_t toUs;
};
inline constexpr LatencyBin kLatencyBins[] = {
    {"0-0.25", 0, 250},  {"0.25-0.5", 250, 500}, {"0.5-1", 500, 1000}, {"1-2", 1000, 2000},
    {"2-5", 2000, 5000}, {"5-10", 5000, 10000},  {"10+", 10000, -1},
};

// `record` as a row, times counted from `start`.
TriggerRow TriggerRowOf(const TriggerRecord& record, std::chrono::steady_clock::time_point start);
// The triggers.tsv line of `row`.
std::string FormatTriggerRow(const TriggerRow& row);
// The row of triggers.tsv's `fields`; false when they are too few.
bool ParseTriggerRow(const std::vector<std::string>& fields, TriggerRow& row);

// The count of `rows`' latencies in each of kLatencyBins.
std::vector<int64_t> LatencyHistogram(const std::vector<TriggerRow>& rows);

// What the worker counted (RunSummary's trigger fields).
struct TriggerCounts {
  int32_t waits = 0;
  int32_t timeouts = 0;
  int32_t skipped = 0;
  std::string failure;
};

// session.json's "triggers" object for `rows`, with the worker's counts
// when given (otherwise counted from the rows).
Json TriggerSummaryJson(const std::vector<TriggerRow>& rows, const TriggerCounts* worker);

}  // namespace orvanta::record
