// The report page built from a record in memory.
#include "record/session_report.h"

#include <gtest/gtest.h>

#include <string>

#include "record/record_reader.h"

namespace orvanta::testing {
namespace {

using record::Json;

// The report draws a command that was never sent at the time it failed, and
// a single latency gets an axis from 0 that ends on a round number.
TEST(ReportTest, UnsentFailureAtItsTimeAndHonestAxes) {
  record::LoadedRecord rec;
  rec.folder = "x";
  rec.session = Json::Object();
  rec.trials.push_back({1, "A", 0, 4000000, "failed"});
  record::TimelineRow replied;
  replied.trial = 1;
  replied.sentUs = 0;
  replied.repliedUs = 29;
  replied.status = "replied";
  rec.timeline.push_back(replied);
  rec.failures.push_back(
      {1, "end event", "-PostEvent \"x\" 0 0", -1, "not sent", "not connected", 2000000});
  const std::string html = record::BuildReportHtml(rec);
  // Halfway along the 860-pixel axis that starts at 50.
  EXPECT_NE(html.find("<line x1=\"480.00\" y1=\"150\""), std::string::npos) << html;
  EXPECT_NE(html.find(">0.00 ms</text>"), std::string::npos);
  EXPECT_NE(html.find(">0.03 ms</text>"), std::string::npos);
  EXPECT_EQ(html.find(">-0."), std::string::npos);
}

}  // namespace
}  // namespace orvanta::testing
