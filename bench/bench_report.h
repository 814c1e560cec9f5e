// What every benchmark program of this folder shares: the summary of its
// figures, each beside a baseline measured in the same run and their ratio,
// printed after Google Benchmark's own output and appended as a Markdown
// section to the report file named by --report=PATH.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::bench {

// One figure of the summary. `ratio` is value / baseline unless set
// otherwise; `met` is empty when the figure has no goal of its own.
struct Figure {
  std::string name;
  double value = 0;
  std::string unit;
  std::string text;          // shown instead of the value when set
  std::string baselineName;  // empty: no baseline
  double baseline = 0;
  std::optional<double> ratio;
  std::string goal;  // e.g. "<= 1.3"; empty: none
  std::optional<bool> met;
};

// Collects the figures of one program, in the order they are added.
class Summary {
 public:
  explicit Summary(std::string title) : title_(std::move(title)) {}

  // A figure compared with a baseline. The ratio is value / baseline (none
  // when the baseline is 0). The reference stays valid until the next Add.
  Figure& Add(const std::string& name, double value, const std::string& unit,
              const std::string& baselineName, double baseline);
  // A figure without a baseline.
  Figure& AddPlain(const std::string& name, double value, const std::string& unit);
  // A free line below the table (setup, method, caveats).
  void Note(const std::string& text) { notes_.push_back(text); }

  // Sets the goal of a figure: met when its ratio is at most (or, with
  // atLeast, at least) `limit`.
  static void Goal(Figure& figure, double limit, bool atLeast = false);

  std::string Text() const;      // the table for the terminal
  std::string Markdown() const;  // a "## title" section

  bool empty() const { return figures_.empty() && notes_.empty(); }

 private:
  std::string title_;
  std::vector<Figure> figures_;
  std::vector<std::string> notes_;
};

// Runs the benchmarks registered in this program, then lets `summarize`
// fill the summary from what they measured, prints it and appends its
// Markdown to the file named by --report=PATH (the option is taken out
// before Google Benchmark sees the arguments). Returns the exit status.
int RunAndReport(int argc, char** argv, const std::string& title,
                 const std::function<void(Summary&)>& summarize);

// The p-th percentile (0..100, nearest rank) of `samples`; 0 when empty.
double Percentile(std::vector<double> samples, double p);

// "1.23", "12.3", "123" and so on: three significant digits.
std::string FormatNumber(double value);

}  // namespace orvanta::bench
