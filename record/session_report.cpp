#include "record/session_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "record/record_io.h"
#include "record/report_html.h"
#include "record/report_triggers.h"

namespace orvanta::record {

namespace {

constexpr int kPlotWidth = 960;
constexpr int kMargin = 50;
const char* const kPalette[] = {"#4e79a7", "#f28e2b", "#59a14f", "#b07aa1", "#76b7b2",
                                "#edc948", "#9c755f", "#bab0ac", "#ff9da7", "#86bcb6"};
const char kFailRed[] = "#d62728";

struct Stats {
  std::size_t count = 0;
  double mean = 0, min = 0, max = 0, median = 0, p95 = 0;
};

Stats StatsOf(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.count = v.size();
  s.min = v.front();
  s.max = v.back();
  double sum = 0;
  for (double x : v) sum += x;
  s.mean = sum / static_cast<double>(v.size());
  s.median = v[v.size() / 2];
  s.p95 = v[std::min(
      v.size() - 1, static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(v.size()))) - 1)];
  return s;
}

std::string StatsLine(const Stats& s, const char* unit) {
  if (s.count == 0) return "<p>No values.</p>\n";
  return "<p>" + std::to_string(s.count) + " values; median " + Num(s.median) + " " + unit +
         ", mean " + Num(s.mean) + " " + unit + ", 95th percentile " + Num(s.p95) + " " + unit +
         ", min " + Num(s.min) + " " + unit + ", max " + Num(s.max) + " " + unit + ".</p>\n";
}

// 1, 2, 2.5 or 5 times a power of ten: the smallest at or above `raw`.
double NiceStep(double raw) {
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0}) {
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  }
  return 10.0 * power;
}

// A histogram of `values` as inline SVG, with its x axis in `unit`.
std::string Histogram(const std::vector<double>& values, const std::string& unit,
                      const char* colour) {
  if (values.empty()) return std::string();
  const int bins = 40, height = 180, plotH = 130;
  // The axis takes in 0 and ends on round numbers, so that a single value,
  // or values all close together, still read at their size.
  double lo = std::min(0.0, *std::min_element(values.begin(), values.end()));
  double hi = std::max(0.0, *std::max_element(values.begin(), values.end()));
  if (hi - lo < 1e-9) hi = lo + 1.0;
  const double step = NiceStep((hi - lo) / 4.0);
  lo = std::floor(lo / step + 1e-9) * step;
  hi = std::ceil(hi / step - 1e-9) * step;
  const int ticks = static_cast<int>(std::lround((hi - lo) / step));
  int decimals = 0;  // as many as the step needs
  while (decimals < 6 && std::fabs(std::round(step * std::pow(10.0, decimals)) -
                                   step * std::pow(10.0, decimals)) > 1e-6) {
    ++decimals;
  }
  std::vector<int> counts(bins, 0);
  for (double v : values) {
    int b = static_cast<int>((v - lo) / (hi - lo) * bins);
    counts[static_cast<std::size_t>(std::clamp(b, 0, bins - 1))]++;
  }
  const int most = *std::max_element(counts.begin(), counts.end());
  const double barW = static_cast<double>(kPlotWidth - 2 * kMargin) / bins;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kPlotWidth) + "\" height=\"" + std::to_string(height) +
                    "\" role=\"img\">\n";
  const int base = 20 + plotH;
  svg += "<line x1=\"" + std::to_string(kMargin) + "\" y1=\"" + std::to_string(base) + "\" x2=\"" +
         std::to_string(kPlotWidth - kMargin) + "\" y2=\"" + std::to_string(base) +
         "\" stroke=\"#333\"/>\n";
  for (int b = 0; b < bins; ++b) {
    if (counts[static_cast<std::size_t>(b)] == 0) continue;
    const double h = static_cast<double>(plotH) * counts[static_cast<std::size_t>(b)] / most;
    svg += "<rect x=\"" + Num(kMargin + b * barW, 1) + "\" y=\"" + Num(base - h, 1) +
           "\" width=\"" + Num(std::max(1.0, barW - 1), 1) + "\" height=\"" + Num(h, 1) +
           "\" fill=\"" + colour + "\"><title>" +
           std::to_string(counts[static_cast<std::size_t>(b)]) + "</title></rect>\n";
  }
  for (int i = 0; i <= ticks; ++i) {
    const double x = kMargin + i * static_cast<double>(kPlotWidth - 2 * kMargin) / ticks;
    const double value = lo + step * i;
    svg += "<text x=\"" + Num(x, 1) + "\" y=\"" + std::to_string(base + 16) +
           "\" font-size=\"11\" text-anchor=\"middle\">" +
           Num(std::fabs(value) < step * 1e-6 ? 0.0 : value, decimals) + " " + Html(unit) +
           "</text>\n";
  }
  svg += "<text x=\"" + std::to_string(kMargin - 6) + "\" y=\"" +
         std::to_string(base - plotH + 10) + "\" font-size=\"11\" text-anchor=\"end\">" +
         std::to_string(most) + "</text>\n";
  svg += "</svg>\n";
  return svg;
}

struct TypeTiming {
  double periodMs = -1, startPulseMs = -1, endPulseMs = -1;
};

std::map<std::string, TypeTiming> TypeTimings(const Json& session) {
  std::map<std::string, TypeTiming> out;
  for (const Json& t : session["trial_types"].items()) {
    TypeTiming timing;
    timing.periodMs = t["period_ms"].kind() == Json::Kind::kNumber ? t["period_ms"].number() : -1;
    timing.startPulseMs =
        t["start_pulse_ms"].kind() == Json::Kind::kNumber ? t["start_pulse_ms"].number() : -1;
    timing.endPulseMs =
        t["end_pulse_ms"].kind() == Json::Kind::kNumber ? t["end_pulse_ms"].number() : -1;
    out[t["name"].Str()] = timing;
  }
  return out;
}

std::string TimelinePlot(const LoadedRecord& rec, const std::vector<std::string>& typeNames,
                         const std::set<int32_t>& offTrials) {
  double endUs = 1;
  for (const TrialRow& t : rec.trials) endUs = std::max(endUs, static_cast<double>(t.endUs));
  for (const TimelineRow& r : rec.timeline) {
    endUs = std::max(endUs, static_cast<double>(std::max(r.sentUs, r.repliedUs)));
  }
  for (const FailureRow& r : rec.failures) endUs = std::max(endUs, static_cast<double>(r.failedUs));
  const double span = kPlotWidth - 2 * kMargin;
  const auto X = [&](double us) { return kMargin + span * std::clamp(us / endUs, 0.0, 1.0); };
  const int height = 210;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kPlotWidth) + "\" height=\"" + std::to_string(height) +
                    "\" role=\"img\" id=\"timeline-plot\">\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(kPlotWidth) + "\" height=\"" +
         std::to_string(height) + "\" fill=\"#fafafa\"/>\n";
  const char* lanes[] = {"trials", "events", "pulses", "wav", "failed"};
  for (int i = 0; i < 5; ++i) {
    svg += "<text x=\"" + std::to_string(kMargin - 6) + "\" y=\"" + std::to_string(38 + i * 32) +
           "\" font-size=\"11\" text-anchor=\"end\">" + lanes[i] + "</text>\n";
  }
  for (const TrialRow& t : rec.trials) {
    const auto it = std::find(typeNames.begin(), typeNames.end(), t.type);
    const std::size_t index =
        it == typeNames.end() ? 0 : static_cast<std::size_t>(it - typeNames.begin());
    const char* fill = t.outcome == "failed" ? kFailRed : kPalette[index % std::size(kPalette)];
    const double x0 = X(static_cast<double>(t.startUs)), x1 = X(static_cast<double>(t.endUs));
    svg += "<rect x=\"" + Num(x0, 2) + "\" y=\"22\" width=\"" +
           Num(std::max(0.8, x1 - x0 - 0.4), 2) + "\" height=\"24\" fill=\"" + fill +
           (offTrials.count(t.trial) != 0
                ? "\" stroke=\"" + std::string(kFailRed) + "\" stroke-width=\"2\" class=\"off\""
                : std::string("\"")) +
           "><title>trial " + std::to_string(t.trial) + " " + Html(t.type) + " (" +
           Html(t.outcome) +
           (offTrials.count(t.trial) != 0 ? ", timing outside the tolerance" : "") +
           ")</title></rect>\n";
  }
  for (const EventRow& e : rec.events) {
    const double x = X(e.onset * 1e6);
    const char* colour = e.acknowledged ? "#222" : kFailRed;
    if (e.trialType == "start_event" || e.trialType == "end_event") {
      svg += "<path d=\"M" + Num(x, 2) + " 56 l4 16 l-8 0 z\" fill=\"" + colour + "\"/>\n";
    } else if (e.trialType == "wav") {
      svg += "<circle cx=\"" + Num(x, 2) + "\" cy=\"128\" r=\"4\" fill=\"" +
             (e.acknowledged ? std::string("#2ca02c") : std::string(kFailRed)) + "\"/>\n";
    } else {
      const double w = e.duration > 0 ? X((e.onset + e.duration) * 1e6) - x : 1;
      svg += "<rect x=\"" + Num(x, 2) + "\" y=\"88\" width=\"" + Num(std::max(1.0, w), 2) +
             "\" height=\"16\" fill=\"" +
             (e.acknowledged ? std::string("#9467bd") : std::string(kFailRed)) + "\"/>\n";
    }
  }
  for (const FailureRow& r : rec.failures) {
    // A command that was never sent is drawn when it failed; a record
    // without that time places it at the start of its trial.
    int64_t at = r.sentUs >= 0 ? r.sentUs : r.failedUs;
    if (at < 0) {
      for (const TrialRow& t : rec.trials) {
        if (t.trial == r.trial) at = t.startUs;
      }
    }
    if (at < 0) continue;  // nothing tells when
    const double x = X(static_cast<double>(at));
    svg += "<line x1=\"" + Num(x, 2) + "\" y1=\"150\" x2=\"" + Num(x, 2) +
           "\" y2=\"172\" stroke=\"" + kFailRed + "\" stroke-width=\"2\"><title>" +
           Html(r.command) + (r.reason.empty() ? "" : ": " + Html(r.reason)) + "</title></line>\n";
  }
  svg += "<line x1=\"" + std::to_string(kMargin) + "\" y1=\"180\" x2=\"" +
         std::to_string(kPlotWidth - kMargin) + "\" y2=\"180\" stroke=\"#333\"/>\n";
  for (int i = 0; i <= 8; ++i) {
    const double x = kMargin + span * i / 8.0;
    svg += "<text x=\"" + Num(x, 1) + "\" y=\"196\" font-size=\"11\" text-anchor=\"middle\">" +
           Num(endUs / 1e6 * i / 8.0, 2) + " s</text>\n";
  }
  svg += "</svg>\n";
  // The legend: one swatch per trial type.
  std::string legend = "<p class=\"legend\">";
  for (std::size_t i = 0; i < typeNames.size(); ++i) {
    legend += "<span style=\"background:" + std::string(kPalette[i % std::size(kPalette)]) +
              "\">&nbsp;&nbsp;&nbsp;</span> " + Html(typeNames[i]) + " &nbsp; ";
  }
  legend += "<span style=\"background:" + std::string(kFailRed) +
            "\">&nbsp;&nbsp;&nbsp;</span> failed</p>\n";
  return svg + legend;
}

// A trial period or pulse width further from its nominal value than the
// tolerance.
struct OffStep {
  int32_t trial = 0;
  std::string type, what;
  double measuredMs = 0, nominalMs = 0;
};

std::vector<OffStep> StepsOutside(const LoadedRecord& rec,
                                  const std::map<std::string, TypeTiming>& timings,
                                  double toleranceMs) {
  std::vector<OffStep> out;
  std::map<int32_t, std::string> typeOfTrial;
  for (const TrialRow& t : rec.trials) {
    typeOfTrial[t.trial] = t.type;
    const auto it = timings.find(t.type);
    if (t.outcome != "completed" || it == timings.end() || it->second.periodMs < 0) continue;
    const double period = static_cast<double>(t.endUs - t.startUs) / 1000.0;
    if (std::fabs(period - it->second.periodMs) > toleranceMs) {
      out.push_back({t.trial, t.type, "period", period, it->second.periodMs});
    }
  }
  for (const EventRow& e : rec.events) {
    if ((e.trialType != "start_pulse" && e.trialType != "end_pulse") || e.duration < 0) continue;
    const std::string type = typeOfTrial[e.trial];
    const auto it = timings.find(type);
    if (it == timings.end()) continue;
    const bool start = e.trialType == "start_pulse";
    const double nominal = start ? it->second.startPulseMs : it->second.endPulseMs;
    if (nominal >= 0 && std::fabs(e.duration * 1000.0 - nominal) > toleranceMs) {
      out.push_back({e.trial, type, start ? "start pulse width" : "end pulse width",
                     e.duration * 1000.0, nominal});
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const OffStep& a, const OffStep& b) { return a.trial < b.trial; });
  return out;
}

// How the run was to be timed: its mode and tolerance, and (once ended) the
// worker's check. Records written before the tolerance existed hold the mode
// alone.
struct ReportTiming {
  const Json& json;
  bool isObject = false;
  std::string mode;
  double toleranceMs = 5.0;
};

ReportTiming TimingOf(const Json& session) {
  const Json& timing = session["timing"];
  const bool timingObject = timing.kind() == Json::Kind::kObject;
  return {timing, timingObject, timingObject ? timing["mode"].Str() : timing.Str(),
          timingObject ? static_cast<double>(timing["tolerance_ms"].Int(5)) : 5.0};
}

// The page's head and style.
std::string HtmlHead(const std::string& name) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Session "
         "report " +
         Html(name) +
         "</title>\n<style>\n"
         "body{font-family:sans-serif;margin:24px;color:#222;background:#fff}\n"
         "table{border-collapse:collapse;margin:8px 0}\n"
         "td,th{border:1px solid #ccc;padding:3px 8px;text-align:left;font-size:13px}\n"
         "th{background:#f0f0f0}\n.bad{color:" +
         std::string(kFailRed) +
         ";font-weight:bold}\n"
         ".legend span{display:inline-block}\n</style>\n</head>\n<body>\n";
}

// The summary table's rows.
void AddSummary(std::string& h, const LoadedRecord& rec, const ReportTiming& timingOf) {
  const Json& s = rec.session;
  const Json& timing = timingOf.json;
  const bool timingObject = timingOf.isObject;
  const std::string& mode = timingOf.mode;
  const double toleranceMs = timingOf.toleranceMs;
  const std::size_t failedCommands = rec.failures.size();
  std::map<std::string, int> outcomes;
  for (const TrialRow& t : rec.trials) outcomes[t.outcome]++;
  const auto row = [&h](const std::string& key, const std::string& value, bool bad = false) {
    h += "<tr><th>" + Html(key) + "</th><td" + (bad ? " class=\"bad\"" : "") + ">" + Html(value) +
         "</td></tr>\n";
  };
  row("Outcome", rec.outcome, rec.outcome != "completed");
  if (!s["verdict"].IsNull()) {
    row("Verdict", s["verdict"].Str(), s["verdict"].Str() != "completed");
  }
  row("Program", s["program"].Str() + " " + s["version"].Str());
  row("Host", s["host"].Str() + " (process " + std::to_string(s["pid"].Int()) + ")");
  row("Server", s["server"].Str() + ", " +
                    (s["negotiate"].boolean()
                         ? "negotiation port " + std::to_string(s["negotiation_port"].Int()) + ", "
                         : std::string()) +
                    "message port " + std::to_string(s["message_port"].Int()));
  std::string sources;
  for (const Json& src : s["setup_source"].items())
    sources += (sources.empty() ? "" : ", ") + src.Str();
  row("Setup source", sources.empty() ? "(the setup in the window)" : sources);
  if (!s["seed"].IsNull()) row("Seed", std::to_string(s["seed"].Int()));
  row("Start", s["start_time"].Str());
  row("End", s["end_time"].Str("(not recorded)"));
  row("Trials", "from " + std::to_string(s["first_trial"].Int(1)) + " of " +
                    std::to_string(s["number_of_trials"].Int()));
  std::string recorded;
  for (const auto& [outcome, count] : outcomes) {
    recorded += (recorded.empty() ? "" : ", ") + std::to_string(count) + " " + outcome;
  }
  row("Trials recorded", recorded.empty() ? "none" : recorded);
  row("Commands", std::to_string(rec.timeline.size()));
  row("Failed commands", std::to_string(failedCommands), failedCommands > 0);
  if (!mode.empty()) row("Timing", mode);
  if (timingObject) {
    const std::string verdict = timing["verdict"].Str();
    std::string text = "tolerance " + Num(toleranceMs, 0) + " ms";
    if (!verdict.empty()) {
      text += ": " + verdict + ", " + std::to_string(timing["steps_out"].Int()) + " of " +
              std::to_string(timing["steps_checked"].Int()) + " steps outside it, the worst " +
              Num(timing["worst_ms"].number()) + " ms off";
    }
    row("Timing check", text, verdict == "out of tolerance");
  }
  const int64_t bound = s["reply_timeout_ms"].Int(0);
  row("Reply bound", bound > 0 ? std::to_string(bound) + " ms" : "none (replies awaited for ever)");
  if (!s["resumes"].IsNull()) row("Continues", s["resumes"].Str());
}

// The steps outside the tolerance, or the sentence that there are none.
void AddStepsOutside(std::string& h, const std::vector<OffStep>& offSteps, double toleranceMs) {
  h += "<h2>Steps outside the tolerance</h2>\n";
  if (offSteps.empty()) {
    h += "<p>Every trial period and pulse width recorded was within " + Num(toleranceMs, 0) +
         " ms of its nominal value.</p>\n";
  } else {
    h += "<table id=\"steps-outside\">\n<tr><th>Trial</th><th>Type</th><th>Step</th>"
         "<th>Measured (ms)</th><th>Nominal (ms)</th><th>Off by (ms)</th></tr>\n";
    for (const OffStep& o : offSteps) {
      h += "<tr class=\"bad\"><td>" + std::to_string(o.trial) + "</td><td>" + Html(o.type) +
           "</td><td>" + Html(o.what) + "</td><td>" + Num(o.measuredMs) + "</td><td>" +
           Num(o.nominalMs, 0) + "</td><td>" + Num(o.measuredMs - o.nominalMs) + "</td></tr>\n";
    }
    h += "</table>\n";
  }
}

// The exchange latency and the trial period error, each as a line of
// statistics and a histogram.
void AddLatencyAndPeriods(std::string& h, const LoadedRecord& rec,
                          const std::map<std::string, TypeTiming>& timings) {
  std::vector<double> latency;
  for (const TimelineRow& r : rec.timeline) {
    if (r.status == "replied" && r.sentUs >= 0 && r.repliedUs >= r.sentUs) {
      latency.push_back(static_cast<double>(r.repliedUs - r.sentUs) / 1000.0);
    }
  }
  h += "<h2>Exchange latency</h2>\n" + StatsLine(StatsOf(latency), "ms") +
       Histogram(latency, "ms", "#4e79a7");

  std::vector<double> periodError;
  for (const TrialRow& t : rec.trials) {
    const auto it = timings.find(t.type);
    if (t.outcome != "completed" || it == timings.end() || it->second.periodMs < 0) continue;
    periodError.push_back(static_cast<double>(t.endUs - t.startUs) / 1000.0 - it->second.periodMs);
  }
  h += "<h2>Trial period error</h2>\n<p>Each completed trial's period (its start to the next "
       "trial's start) minus its nominal period (duration, interval and pulse widths).</p>\n" +
       StatsLine(StatsOf(periodError), "ms") + Histogram(periodError, "ms", "#f28e2b");
}

// Pulse widths: set sent to clear sent, by trial type and pulse.
void AddPulseWidths(std::string& h, const LoadedRecord& rec,
                    const std::map<std::string, TypeTiming>& timings) {
  std::map<int32_t, std::string> typeOfTrial;
  for (const TrialRow& t : rec.trials) typeOfTrial[t.trial] = t.type;
  for (const TimelineRow& r : rec.timeline) typeOfTrial.emplace(r.trial, r.type);
  std::map<std::pair<std::string, std::string>, std::vector<double>> widths;
  for (const EventRow& e : rec.events) {
    if ((e.trialType == "start_pulse" || e.trialType == "end_pulse") && e.duration >= 0) {
      widths[{typeOfTrial[e.trial], e.trialType}].push_back(e.duration * 1000.0);
    }
  }
  h += "<h2>Pulse widths</h2>\n";
  if (widths.empty()) {
    h += "<p>No pulses.</p>\n";
  } else {
    h += "<table>\n<tr><th>Trial type</th><th>Pulse</th><th>Nominal (ms)</th><th>Count</th>"
         "<th>Mean (ms)</th><th>Min (ms)</th><th>Max (ms)</th><th>Mean error (ms)</th></tr>\n";
    std::vector<double> errors;
    for (const auto& [key, values] : widths) {
      const auto it = timings.find(key.first);
      double nominal = -1;
      if (it != timings.end()) {
        nominal = key.second == "start_pulse" ? it->second.startPulseMs : it->second.endPulseMs;
      }
      const Stats st = StatsOf(values);
      if (nominal >= 0) {
        for (double v : values) errors.push_back(v - nominal);
      }
      h += "<tr><td>" + Html(key.first) + "</td><td>" +
           (key.second == "start_pulse" ? "start" : "end") + "</td><td>" +
           (nominal >= 0 ? Num(nominal, 0) : "?") + "</td><td>" + std::to_string(st.count) +
           "</td><td>" + Num(st.mean) + "</td><td>" + Num(st.min) + "</td><td>" + Num(st.max) +
           "</td><td>" + (nominal >= 0 ? Num(st.mean - nominal) : "?") + "</td></tr>\n";
    }
    h += "</table>\n<p>Width error of every pulse (measured minus nominal):</p>\n" +
         Histogram(errors, "ms", "#9467bd");
  }
}

void AddFailures(std::string& h, const LoadedRecord& rec) {
  const std::size_t failedCommands = rec.failures.size();
  h += "<h2>Failures</h2>\n";
  if (failedCommands == 0) {
    h += "<p>Every command was replied to.</p>\n";
  } else {
    h += "<table>\n<tr><th>Trial</th><th>Step</th><th>Command</th><th>Status</th>"
         "<th>Reason</th><th>Sent (s)</th></tr>\n";
    for (const FailureRow& r : rec.failures) {
      h += "<tr class=\"bad\"><td>" + std::to_string(r.trial) + "</td><td>" + Html(r.step) +
           "</td><td>" + Html(r.command) + "</td><td>" + Html(r.status) + "</td><td>" +
           Html(r.reason) + "</td><td>" +
           (r.sentUs >= 0 ? Num(static_cast<double>(r.sentUs) / 1e6, 6) : "not sent") +
           "</td></tr>\n";
    }
    h += "</table>\n";
  }
}

}  // namespace

std::string BuildReportHtml(const LoadedRecord& rec) {
  const Json& s = rec.session;
  const auto timings = TypeTimings(s);
  std::vector<std::string> typeNames;
  for (const Json& t : s["trial_types"].items()) typeNames.push_back(t["name"].Str());
  for (const TrialRow& t : rec.trials) {
    if (!t.type.empty() &&
        std::find(typeNames.begin(), typeNames.end(), t.type) == typeNames.end()) {
      typeNames.push_back(t.type);
    }
  }

  const ReportTiming timing = TimingOf(s);
  const std::vector<OffStep> offSteps = StepsOutside(rec, timings, timing.toleranceMs);
  std::set<int32_t> offTrials;
  for (const OffStep& o : offSteps) offTrials.insert(o.trial);

  const std::string name = std::filesystem::path(rec.folder).filename().string();
  std::string h = HtmlHead(name);
  h += "<h1>Session report: " + Html(name) + "</h1>\n<h2>Summary</h2>\n<table>\n";
  AddSummary(h, rec, timing);
  h += "</table>\n";

  h += "<h2>Timeline</h2>\n" + TimelinePlot(rec, typeNames, offTrials);
  if (!offTrials.empty()) {
    h += "<p>Trials outlined in red have a step outside the timing tolerance.</p>\n";
  }
  AddStepsOutside(h, offSteps, timing.toleranceMs);
  AddLatencyAndPeriods(h, rec, timings);
  AddStartTriggers(h, rec);
  AddPulseWidths(h, rec, timings);
  AddFailures(h, rec);
  h += "</body>\n</html>\n";
  return h;
}

bool WriteReport(const std::string& folder, std::string& path, std::string& error) {
  LoadedRecord rec;
  if (!LoadRecord(folder, rec, error)) return false;
  const std::string target = (std::filesystem::path(folder) / kReportFileName).string();
  if (!ReplaceFileAtomically(target, BuildReportHtml(rec), error)) return false;
  path = target;
  return true;
}

}  // namespace orvanta::record
