// Reading a session record back: for the report, for resuming, and for
// anyone checking a record. Plain functions; no shared state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/json.h"

namespace orvanta::record {

struct TimelineRow {
  int32_t trial = 0;
  std::string type, step, command, reply;
  int64_t sentUs = -1;     // -1: not sent
  int64_t repliedUs = -1;  // -1: no reply
  std::string status;      // "replied", "no reply" or "not sent"
};

// One exchange the server failed, with the reason the client gave.
struct FailureRow {
  int32_t trial = 0;
  std::string step, command;
  int64_t sentUs = -1;    // -1: not sent
  std::string status;     // "no reply" or "not sent"
  std::string reason;     // "no reply within 5000 ms", "connection closed", ...
  int64_t failedUs = -1;  // when the exchange gave up; -1 when the record does not say
};

struct TrialRow {
  int32_t trial = 0;
  std::string type;
  int64_t startUs = 0, endUs = 0;
  std::string outcome;  // completed, stopped, failed, skipped
  // A run with start triggers: how the trial's wait ended (TriggerOutcomeName;
  // empty when its type has none) and the trigger's latency (-1: none).
  std::string trigger{};
  int64_t triggerLatencyUs = -1;
};

// One start trigger's wait, from triggers.tsv. Times in microseconds since
// the run start; -1 where there is none.
struct TriggerRow {
  int32_t trial = 0;
  std::string type, object;
  int32_t count = 1, windowMs = 0, timeoutMs = 0;
  std::string outcome;  // "fired", "timed out, played", "timed out, skipped"
  int64_t armedUs = -1, decidedUs = -1;
  int64_t arrivedUs = -1;  // when the deciding record arrived
  int64_t latencyUs = -1;  // from that arrival to the first start command sent
};

struct EventRow {
  double onset = 0;      // seconds from the run start
  double duration = -1;  // seconds; -1 for "n/a"
  std::string trialType;
  std::string value;
  int32_t trial = 0;
  bool acknowledged = false;
};

struct LoadedRecord {
  std::string folder;
  Json session;
  // session.json's outcome, except that "running" reads as "interrupted"
  // once no process holds the record's run lock.
  std::string outcome;
  std::vector<TimelineRow> timeline;
  std::vector<TrialRow> trials;
  std::vector<EventRow> events;
  // From failures.tsv. A record without that file gets one row, without a
  // reason, per timeline row that was not replied.
  std::vector<FailureRow> failures;
  // From triggers.tsv (a run with start triggers). The timeline's trigger
  // rows are not in `timeline`, which holds command exchanges only; the
  // summary is session["triggers"].
  std::vector<TriggerRow> triggers;
};

// Splits CSV text into rows of fields (quoted fields may hold commas,
// doubled quotes and line breaks).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);
// Splits TSV text into rows of fields (no quoting).
std::vector<std::vector<std::string>> ParseTsv(const std::string& text);

// Reads the record in `folder`. session.json must be readable; the row
// files may be missing or cut short (an interrupted run), and a last row
// without its line break is ignored. False with a reason otherwise.
bool LoadRecord(const std::string& folder, LoadedRecord& record, std::string& error);

// The first trial of the order at or after the record's first trial that
// did not complete (completed and skipped trials count as done); 0 when
// every trial of the order is done. A claimed number of trials beyond
// int32_t counts as the largest int32_t.
int32_t ResumeTrial(const LoadedRecord& record);

}  // namespace orvanta::record
