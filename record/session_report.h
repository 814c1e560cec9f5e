// report.html of a session record: one self-contained page (inline SVG, no
// scripts, nothing fetched) with a summary, a timeline plot, histograms of
// exchange latency and trial period error, the pulse widths against their
// nominal widths, and the table of failures.
#pragma once

#include <string>

#include "record/record_reader.h"

namespace orvanta::record {

inline constexpr char kReportFileName[] = "report.html";

std::string BuildReportHtml(const LoadedRecord& record);

// Reads the record in `folder` and writes its report.html atomically. True
// with its path in `path`; false with a reason in `error`.
bool WriteReport(const std::string& folder, std::string& path, std::string& error);

}  // namespace orvanta::record
