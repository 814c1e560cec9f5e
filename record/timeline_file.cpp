#include "record/timeline_file.h"

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

std::string FormatTimelineRow(const CommandRecord& record,
                              std::chrono::steady_clock::time_point start) {
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
  row += "\n";
  return row;
}

}  // namespace orvanta::record
