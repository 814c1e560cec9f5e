// The rows of a timeline: one CSV row per command exchange of a run,
//   trial,type,step,command,reply,sent_us,replied_us,status
// Times are microseconds since the run started on the steady clock;
// sent_us is empty for a command that was not sent, replied_us when no reply
// came; status is "replied", "no reply" or "not sent"; the reply is shown as
// in the log (escaped, cut after 1,000 characters). Fields holding a comma, a double
// quote or a line break are quoted, with quotes doubled. The session
// record's timeline.csv and orvanta-run's --timeline file share them.
#pragma once

#include <chrono>
#include <string>

#include "trials/run_observer.h"

namespace orvanta::record {

inline constexpr char kTimelineHeader[] =
    "trial,type,step,command,reply,sent_us,replied_us,status\n";
// The start of the header row that every version of this program wrote (the
// first had no status column): an existing timeline that starts with it is
// ours, and is moved aside rather than refused.
inline constexpr char kTimelineHeaderStem[] = "trial,type,step,command,reply,sent_us,replied_us";

// One row (with its line break) for `record`, times counted from `start`.
std::string FormatTimelineRow(const CommandRecord& record,
                              std::chrono::steady_clock::time_point start);

// One field of a row, quoted when it needs to be.
std::string CsvField(const std::string& text);

}  // namespace orvanta::record
