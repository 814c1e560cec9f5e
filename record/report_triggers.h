// The session report's "Start triggers" section: the counts of the trigger
// waits, the latency from the deciding record to the first start command
// (median, 99th percentile, largest, and a table of fixed bins with a bar
// each), and one row per triggered trial.
#pragma once

#include <string>

#include "record/record_reader.h"

namespace orvanta::record {

// Appends the section to `h`; nothing for a record without triggers (no
// "triggers" in session.json and no triggers.tsv rows).
void AddStartTriggers(std::string& h, const LoadedRecord& rec);

}  // namespace orvanta::record
