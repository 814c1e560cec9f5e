#include "record/timeline_file.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "trials/reply_text.h"

namespace orvanta::record {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string MillisText(int64_t us) {
  char text[32];
  const uint64_t magnitude = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%03" PRIu64, us < 0 ? "-" : "", magnitude / 1000,
                magnitude % 1000);
  return text;
}

int64_t MicrosOfMillisText(const std::string& text) {
  if (text.empty() || text == "n/a") return -1;
  char* end = nullptr;
  const double ms = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !(ms >= 0) || ms > 9e12) return -1;
  return std::llround(ms * 1000.0);
}

std::string FormatTimelineRow(const CommandRecord& record,
                              std::chrono::steady_clock::time_point start, bool triggerColumns) {
  const auto micros = [start](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t - start).count();
  };
  std::string row = std::to_string(record.trialNumber) + "," + CsvField(record.trialName) + "," +
                    RunStepName(record.step) + "," + CsvField(record.command) + "," +
                    CsvField(ShownReply(record.reply)) + ",";
  // A command that was not sent has no send time.
  if (record.MaybeSent()) row += std::to_string(micros(record.sentAt));
  row += ",";
  if (record.replied) row += std::to_string(micros(record.repliedAt));
  row += ",";
  row += record.replied ? "replied" : record.MaybeSent() ? "no reply" : "not sent";
  row += triggerColumns ? ",,,,\n" : "\n";
  return row;
}

std::string FormatTimelineTriggerRow(const TriggerRecord& record,
                                     std::chrono::steady_clock::time_point start) {
  const bool fired = record.outcome == TriggerOutcome::kFired;
  std::string row = std::to_string(record.trialNumber) + "," + CsvField(record.trialName) + "," +
                    kTriggerStep + ",,,,,," + CsvField(record.object) + "," +
                    CsvField(TriggerOutcomeName(record.outcome)) + ",";
  if (fired) {
    row += std::to_string(
        std::chrono::duration_cast<std::chrono::microseconds>(record.arrivedAt - start).count());
  }
  row += ",";
  if (fired && record.hasLatency) {
    row +=
        MillisText(std::chrono::duration_cast<std::chrono::microseconds>(record.latency).count());
  }
  row += "\n";
  return row;
}

}  // namespace orvanta::record
