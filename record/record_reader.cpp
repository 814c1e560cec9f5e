#include "record/record_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "record/record_io.h"
#include "record/timeline_file.h"
#include "record/trigger_summary.h"

namespace orvanta::record {

namespace {

std::string In(const std::string& folder, const char* name) {
  return (std::filesystem::path(folder) / name).string();
}

// A whole number, or `fallback` for an empty or malformed field.
int64_t Integer(const std::string& text, int64_t fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0' ? v : fallback;
}

double Decimal(const std::string& text, double fallback) {
  if (text.empty() || text == "n/a") return fallback;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0' ? v : fallback;
}

// Rows of a TSV or CSV file, without its header; a last row cut short by a
// crash (no line break) is dropped.
std::string WholeRows(const std::string& text) {
  const std::size_t last = text.rfind('\n');
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

}  // namespace

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
      continue;
    }
    any = true;
    if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
    } else if (c == '\n') {
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
      any = false;
    } else if (c != '\r') {
      field += c;
    }
  }
  if (any || !field.empty()) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::vector<std::string>> ParseTsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> row;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      row.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(std::move(row));
    pos = end + 1;
  }
  return rows;
}

bool LoadRecord(const std::string& folder, LoadedRecord& record, std::string& error) {
  record = LoadedRecord();
  record.folder = folder;
  std::string text;
  if (!ReadWholeFile(In(folder, "session.json"), text)) {
    error = "cannot read " + In(folder, "session.json");
    return false;
  }
  std::string why;
  if (!Json::Parse(text, record.session, why) || record.session.kind() != Json::Kind::kObject) {
    error = In(folder, "session.json") +
            " is not a session record: " + (why.empty() ? "not an object" : why);
    return false;
  }
  record.outcome = record.session["outcome"].Str("interrupted");
  if (record.outcome == "running" && !IsRunLockHeld(In(folder, "session.lock"))) {
    record.outcome = "interrupted";
  }

  if (ReadWholeFile(In(folder, "timeline.csv"), text)) {
    const auto rows = ParseCsv(WholeRows(text));
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& f = rows[i];
      // Trigger rows are not exchanges: triggers.tsv holds them.
      if (f.size() < 7 || f[2] == kTriggerStep) continue;
      TimelineRow r;
      r.trial = static_cast<int32_t>(Integer(f[0], 0));
      r.type = f[1];
      r.step = f[2];
      r.command = f[3];
      r.reply = f[4];
      r.sentUs = Integer(f[5], -1);
      r.repliedUs = Integer(f[6], -1);
      r.status = f.size() > 7 ? f[7] : (r.repliedUs >= 0 ? "replied" : "no reply");
      record.timeline.push_back(std::move(r));
    }
  }
  if (ReadWholeFile(In(folder, "trials.tsv"), text)) {
    const auto rows = ParseTsv(WholeRows(text));
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& f = rows[i];
      if (f.size() < 5) continue;
      TrialRow r;
      r.trial = static_cast<int32_t>(Integer(f[0], 0));
      r.type = f[1];
      r.startUs = Integer(f[2], 0);
      r.endUs = Integer(f[3], 0);
      r.outcome = f[4];
      if (f.size() > 6 && f[5] != "n/a") r.trigger = f[5];
      if (f.size() > 6 && f[6] != "n/a") r.triggerLatencyUs = MicrosOfMillisText(f[6]);
      record.trials.push_back(std::move(r));
    }
  }
  if (ReadWholeFile(In(folder, "events.tsv"), text)) {
    const auto rows = ParseTsv(WholeRows(text));
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& f = rows[i];
      if (f.size() < 6) continue;
      EventRow r;
      r.onset = Decimal(f[0], 0);
      r.duration = Decimal(f[1], -1);
      r.trialType = f[2];
      r.value = f[3];
      r.trial = static_cast<int32_t>(Integer(f[4], 0));
      r.acknowledged = f[5] == "yes";
      record.events.push_back(std::move(r));
    }
  }
  if (ReadWholeFile(In(folder, "failures.tsv"), text)) {
    const auto rows = ParseTsv(WholeRows(text));
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& f = rows[i];
      if (f.size() < 6) continue;
      record.failures.push_back({static_cast<int32_t>(Integer(f[0], 0)), f[1], f[2],
                                 Integer(f[3], -1), f[4], f[5],
                                 f.size() > 6 ? Integer(f[6], -1) : -1});
    }
  } else {
    for (const TimelineRow& r : record.timeline) {
      if (r.status != "replied")
        record.failures.push_back({r.trial, r.step, r.command, r.sentUs, r.status, "", -1});
    }
  }
  if (ReadWholeFile(In(folder, kTriggersFileName), text)) {
    const auto rows = ParseTsv(WholeRows(text));
    for (std::size_t i = 1; i < rows.size(); ++i) {
      TriggerRow r;
      if (ParseTriggerRow(rows[i], r)) record.triggers.push_back(std::move(r));
    }
  }
  return true;
}

int32_t ResumeTrial(const LoadedRecord& record) {
  const int64_t first = record.session["first_trial"].Int(1);
  // Trial numbers are int32_t; a damaged record may claim any count, so the
  // trials done are kept as a set of the rows' numbers, never one flag per
  // trial of the claimed count.
  const int64_t count = std::min<int64_t>(record.session["number_of_trials"].Int(0), INT32_MAX);
  if (count <= 0) return 0;
  std::set<int64_t> done;
  for (const TrialRow& row : record.trials) {
    if (row.trial >= 1 && row.trial <= count &&
        (row.outcome == "completed" || row.outcome == "skipped")) {
      done.insert(row.trial);
    }
  }
  // At most one more step than there are rows.
  for (int64_t t = first < 1 ? 1 : first; t <= count; ++t) {
    if (done.count(t) == 0) return static_cast<int32_t>(t);
  }
  return 0;
}

}  // namespace orvanta::record
