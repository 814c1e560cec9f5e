#include "record/report_triggers.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "record/report_html.h"
#include "record/trigger_summary.h"

namespace orvanta::record {

namespace {

constexpr int kBarWidth = 300;
const char kBarColour[] = "#76b7b2";

std::string MillisOrNone(const Json& value) {
  return value.kind() == Json::Kind::kNumber ? Num(value.number()) + " ms" : "none";
}

void AddCounts(std::string& h, const Json& summary) {
  const auto row = [&h](const std::string& key, const std::string& value, bool bad) {
    h += "<tr><th>" + Html(key) + "</th><td" + (bad ? " class=\"bad\"" : "") + ">" + Html(value) +
         "</td></tr>\n";
  };
  h += "<table id=\"trigger-summary\">\n";
  row("Waits", std::to_string(summary["waits"].Int()), false);
  row("Fired", std::to_string(summary["fired"].Int()), false);
  row("Timed out, played", std::to_string(summary["played_after_timeout"].Int()),
      summary["played_after_timeout"].Int() > 0);
  row("Timed out, skipped", std::to_string(summary["skipped"].Int()), summary["skipped"].Int() > 0);
  if (!summary["failure"].IsNull()) row("Could not start", summary["failure"].Str(), true);
  row("Latency",
      "median " + MillisOrNone(summary["latency_p50_ms"]) + ", 99th percentile " +
          MillisOrNone(summary["latency_p99_ms"]) + ", max " +
          MillisOrNone(summary["latency_max_ms"]),
      false);
  h += "</table>\n";
}

void AddHistogram(std::string& h, const Json& histogram) {
  std::vector<int64_t> counts;
  for (const LatencyBin& bin : kLatencyBins) counts.push_back(histogram[bin.name].Int());
  const int64_t most = std::max<int64_t>(1, *std::max_element(counts.begin(), counts.end()));
  h += "<table id=\"trigger-latency-histogram\">\n<tr><th>Latency (ms)</th><th>Trials</th>"
       "<th></th></tr>\n";
  for (std::size_t b = 0; b < counts.size(); ++b) {
    // In doubles: a damaged summary may hold any count.
    const double share = static_cast<double>(counts[b]) / static_cast<double>(most);
    const int width = static_cast<int>(std::clamp(share, 0.0, 1.0) * kBarWidth);
    h += "<tr><td>" + std::string(kLatencyBins[b].name) + "</td><td>" + std::to_string(counts[b]) +
         "</td><td><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kBarWidth) +
         "\" height=\"12\"><rect width=\"" + std::to_string(width) + "\" height=\"12\" fill=\"" +
         kBarColour + "\"/></svg></td></tr>\n";
  }
  h += "</table>\n";
}

void AddTrials(std::string& h, const std::vector<TriggerRow>& rows) {
  if (rows.empty()) return;
  h += "<table id=\"trigger-trials\">\n<tr><th>Trial</th><th>Type</th><th>Object</th>"
       "<th>Outcome</th><th>Record arrived (s)</th><th>Latency (ms)</th></tr>\n";
  for (const TriggerRow& r : rows) {
    h += "<tr><td>" + std::to_string(r.trial) + "</td><td>" + Html(r.type) + "</td><td>" +
         Html(r.object) + "</td><td>" + Html(r.outcome) + "</td><td>" +
         (r.arrivedUs < 0 ? std::string() : Num(static_cast<double>(r.arrivedUs) / 1e6, 6)) +
         "</td><td>" +
         (r.latencyUs < 0 ? std::string() : Num(static_cast<double>(r.latencyUs) / 1e3)) +
         "</td></tr>\n";
  }
  h += "</table>\n";
}

}  // namespace

void AddStartTriggers(std::string& h, const LoadedRecord& rec) {
  const Json& recorded = rec.session["triggers"];
  const bool hasSummary = recorded.kind() == Json::Kind::kObject;
  if (!hasSummary && rec.triggers.empty()) return;
  // A record whose run did not end has rows but no summary yet.
  const Json summary = hasSummary ? recorded : TriggerSummaryJson(rec.triggers, nullptr);
  h += "<h2>Start triggers</h2>\n";
  AddCounts(h, summary);
  h += "<p>Latency: from the arrival of the record that decided the wait to the first start "
       "command handed to the connection.</p>\n";
  AddHistogram(h, summary["latency_histogram_ms"]);
  AddTrials(h, rec.triggers);
}

}  // namespace orvanta::record
