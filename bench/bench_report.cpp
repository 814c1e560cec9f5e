#include "bench/bench_report.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace orvanta::bench {

Figure& Summary::Add(const std::string& name, double value, const std::string& unit,
                     const std::string& baselineName, double baseline) {
  Figure f;
  f.name = name;
  f.value = value;
  f.unit = unit;
  f.baselineName = baselineName;
  f.baseline = baseline;
  if (baseline != 0) f.ratio = value / baseline;
  figures_.push_back(f);
  return figures_.back();
}

Figure& Summary::AddPlain(const std::string& name, double value, const std::string& unit) {
  Figure f;
  f.name = name;
  f.value = value;
  f.unit = unit;
  figures_.push_back(f);
  return figures_.back();
}

void Summary::Goal(Figure& figure, double limit, bool atLeast) {
  figure.goal = std::string("ratio ") + (atLeast ? ">= " : "<= ") + FormatNumber(limit);
  if (figure.ratio) figure.met = atLeast ? *figure.ratio >= limit : *figure.ratio <= limit;
}

std::string FormatNumber(double value) {
  if (!std::isfinite(value)) return value > 0 ? "inf" : (value < 0 ? "-inf" : "nan");
  const double a = std::fabs(value);
  char buf[64];
  if (a == 0) {
    std::snprintf(buf, sizeof buf, "0");
  } else if (a >= 100) {
    std::snprintf(buf, sizeof buf, "%.0f", value);
  } else if (a >= 10) {
    std::snprintf(buf, sizeof buf, "%.1f", value);
  } else if (a >= 1) {
    std::snprintf(buf, sizeof buf, "%.2f", value);
  } else {
    std::snprintf(buf, sizeof buf, "%.3g", value);
  }
  return buf;
}

namespace {

std::string ValueText(double value, const std::string& unit) {
  return unit.empty() ? FormatNumber(value) : FormatNumber(value) + " " + unit;
}

std::string RatioText(const Figure& f) { return f.ratio ? FormatNumber(*f.ratio) + "x" : "-"; }

std::string MetText(const Figure& f) {
  if (!f.met) return f.goal.empty() ? "" : "n/a";
  return *f.met ? "met" : "NOT met";
}

}  // namespace

std::string Summary::Text() const {
  std::ostringstream out;
  out << "\n== " << title_ << " ==\n";
  for (const auto& f : figures_) {
    out << "  " << f.name << ": " << (f.text.empty() ? ValueText(f.value, f.unit) : f.text);
    if (!f.baselineName.empty()) {
      out << "   baseline (" << f.baselineName << "): " << ValueText(f.baseline, f.unit)
          << "   ratio " << RatioText(f);
    }
    if (!f.goal.empty()) out << "   goal " << f.goal << ": " << MetText(f);
    out << "\n";
  }
  for (const auto& n : notes_) out << "  * " << n << "\n";
  return out.str();
}

std::string Summary::Markdown() const {
  std::ostringstream out;
  out << "## " << title_ << "\n\n";
  if (!figures_.empty()) {
    out << "| Figure | Value | Baseline | Baseline value | Ratio | Goal | Result |\n";
    out << "|---|---:|---|---:|---:|---|---|\n";
    for (const auto& f : figures_) {
      out << "| " << f.name << " | " << (f.text.empty() ? ValueText(f.value, f.unit) : f.text)
          << " | " << (f.baselineName.empty() ? "-" : f.baselineName) << " | "
          << (f.baselineName.empty() ? "-" : ValueText(f.baseline, f.unit)) << " | " << RatioText(f)
          << " | " << (f.goal.empty() ? "-" : f.goal) << " | " << MetText(f) << " |\n";
    }
    out << "\n";
  }
  for (const auto& n : notes_) out << "- " << n << "\n";
  if (!notes_.empty()) out << "\n";
  return out.str();
}

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  index = std::min(index, samples.size() - 1);
  return samples[index];
}

int RunAndReport(int argc, char** argv, const std::string& title,
                 const std::function<void(Summary&)>& summarize) {
  std::string reportPath;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strncmp(argv[i], "--report=", 9) == 0) {
      reportPath = argv[i] + 9;
      continue;
    }
    args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  Summary summary(title);
  summarize(summary);
  std::cout << summary.Text() << std::flush;
  if (!reportPath.empty()) {
    std::ofstream out(reportPath, std::ios::app);
    out << summary.Markdown();
    if (!out) {
      std::cerr << "cannot write the report to " << reportPath << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace orvanta::bench
