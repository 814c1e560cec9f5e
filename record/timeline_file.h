// The rows of a timeline: one CSV row per command exchange of a run,
//   trial,type,step,command,reply,sent_us,replied_us,status
// Times are microseconds since the run started on the steady clock;
// sent_us is empty for a command that was not sent, replied_us when no reply
// came; status is "replied", "no reply" or "not sent"; the reply is shown as
// in the log (escaped, cut after 1,000 characters). Fields holding a comma, a double
// quote or a line break are quoted, with quotes doubled. The session
// record's timeline.csv and orvanta-run's --timeline file share them.
//
// A run whose setup has start triggers has four more columns,
//   object,outcome,arrived_us,latency_ms
// empty in the command rows, and one row more per triggered trial, before
// the row of its first start command: step "trigger", the trigger's object
// and outcome ("fired", "timed out, played", "timed out, skipped"), when
// the deciding record arrived and the latency from then to the first start
// command handed over, in milliseconds to the microsecond (both empty when
// there is none); its command, reply, times and status are empty.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "trials/run_observer.h"

namespace orvanta::record {

inline constexpr char kTimelineHeader[] =
    "trial,type,step,command,reply,sent_us,replied_us,status\n";
// The header of a run with start triggers.
inline constexpr char kTimelineTriggerHeader[] =
    "trial,type,step,command,reply,sent_us,replied_us,status,object,outcome,arrived_us,"
    "latency_ms\n";
// The start of the header row that every version of this program wrote (the
// first had no status column): an existing timeline that starts with it is
// ours, and is moved aside rather than refused.
inline constexpr char kTimelineHeaderStem[] = "trial,type,step,command,reply,sent_us,replied_us";
// The step of a trigger row.
inline constexpr char kTriggerStep[] = "trigger";

// One row (with its line break) for `record`, times counted from `start`;
// with the trigger columns (empty) when `triggerColumns`.
std::string FormatTimelineRow(const CommandRecord& record,
                              std::chrono::steady_clock::time_point start,
                              bool triggerColumns = false);
// The trigger row of `record`.
std::string FormatTimelineTriggerRow(const TriggerRecord& record,
                                     std::chrono::steady_clock::time_point start);

// One field of a row, quoted when it needs to be.
std::string CsvField(const std::string& text);

// `us` microseconds as milliseconds with three decimals: "0.412".
std::string MillisText(int64_t us);
// Such a text (or any decimal number of milliseconds) as microseconds,
// rounded; -1 for an empty, "n/a", negative or malformed one.
int64_t MicrosOfMillisText(const std::string& text);

}  // namespace orvanta::record
