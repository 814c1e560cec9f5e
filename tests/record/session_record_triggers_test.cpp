// The session record fed by hand as the worker feeds it: a run with start
// triggers gets its trigger rows, columns, summary and report section; a run
// without them writes what it always wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "fakes/temp_folder.h"
#include "record/record_io.h"
#include "record/record_reader.h"
#include "record/session_record.h"
#include "record/session_report.h"
#include "record/trigger_summary.h"

namespace orvanta::testing {
namespace {

using std::chrono::microseconds;
using Clock = std::chrono::steady_clock;

struct ByHandRun {
  TempFolder parent{"orvanta-record-"};
  record::SessionRecord rec;
  std::string In(const char* name) const {
    std::string text;
    record::ReadWholeFile((std::filesystem::path(rec.folder()) / name).string(), text);
    return text;
  }
};

CommandRecord Command(int32_t trial, const char* name, Clock::time_point sent) {
  CommandRecord c;
  c.trialNumber = trial;
  c.trialName = name;
  c.step = RunStep::kStartEvent;
  c.command = "-PostEvent \"go\" 3 0";
  c.replied = true;
  c.reply = "0";
  c.sentAt = sent;
  c.repliedAt = sent + microseconds(88);
  return c;
}

// Trial 1 fires (412 us latency), trial 2 times out and is skipped, trial 3
// has no trigger.
void Play(ByHandRun& run, bool triggers) {
  record::SessionSetup setup;
  setup.types = {{"A", 10, -1, -1, triggers}, {"B", 10, -1, -1, false}};
  std::string error;
  ASSERT_TRUE(run.rec.Begin(run.parent.path(), setup, error)) << error;
  const Clock::time_point t0 = Clock::now();
  run.rec.OnRunStarted(1, 3, t0);
  run.rec.OnTrialStarted(1, "A", t0 + microseconds(1000));
  TriggerRecord fired{1, "A", "SE1", 3, 50, 10000, TriggerOutcome::kFired};
  fired.armedAt = t0 + microseconds(1000);
  fired.decidedAt = t0 + microseconds(1501);
  fired.arrivedAt = t0 + microseconds(1500);
  fired.hasLatency = true;
  fired.latency = microseconds(412);
  run.rec.OnTrigger(fired);
  run.rec.OnCommand(Command(1, "A", t0 + microseconds(1912)));
  run.rec.OnTrialStarted(2, "A", t0 + microseconds(5000));
  TriggerRecord skipped{2, "A", "SE1", 3, 50, 10000, TriggerOutcome::kTimedOutSkipped};
  skipped.armedAt = t0 + microseconds(5000);
  skipped.decidedAt = t0 + microseconds(15000);
  run.rec.OnTrigger(skipped);
  run.rec.OnTrialStarted(3, "B", t0 + microseconds(15000));
  run.rec.OnCommand(Command(3, "B", t0 + microseconds(15010)));
  RunSummary end;
  end.numTrials = 3;
  if (triggers) {  // a worker without triggers counts none
    end.triggerWaits = 2;
    end.triggerTimeouts = 1;
    end.triggerSkipped = 1;
  }
  run.rec.OnRunEnded(end);
}

TEST(SessionRecordTriggersTest, RowsColumnsSummaryAndReport) {
  ByHandRun run;
  Play(run, true);
  ASSERT_TRUE(run.rec.ok());
  EXPECT_EQ(run.In("triggers.tsv"),
            "trial\ttype\tobject\tcount\twindow_ms\ttimeout_ms\toutcome\tarmed_us\tdecided_us\t"
            "arrived_us\tlatency_ms\n"
            "1\tA\tSE1\t3\t50\t10000\tfired\t1000\t1501\t1500\t0.412\n"
            "2\tA\tSE1\t3\t50\t10000\ttimed out, skipped\t5000\t15000\tn/a\tn/a\n");
  EXPECT_EQ(run.In("timeline.csv"),
            "trial,type,step,command,reply,sent_us,replied_us,status,object,outcome,arrived_us,"
            "latency_ms\n"
            "1,A,trigger,,,,,,SE1,fired,1500,0.412\n"
            "1,A,start event,\"-PostEvent \"\"go\"\" 3 0\",0,1912,2000,replied,,,,\n"
            "2,A,trigger,,,,,,SE1,\"timed out, skipped\",,\n"
            "3,B,start event,\"-PostEvent \"\"go\"\" 3 0\",0,15010,15098,replied,,,,\n");
  const std::string trials = run.In("trials.tsv");
  EXPECT_EQ(trials.substr(0, trials.rfind("3\tB\t")),
            "trial\ttype\tstart_us\tend_us\toutcome\ttrigger\ttrigger_latency_ms\n"
            "1\tA\t1000\t5000\tcompleted\tfired\t0.412\n"
            "2\tA\t5000\t15000\tskipped\ttimed out, skipped\tn/a\n");
  EXPECT_EQ(trials.substr(trials.size() - 19), "\tcompleted\tn/a\tn/a\n");

  record::LoadedRecord loaded;
  std::string error;
  ASSERT_TRUE(record::LoadRecord(run.rec.folder(), loaded, error)) << error;
  EXPECT_EQ(loaded.session["triggers"].Dump(),
            "{\n  \"waits\": 2,\n  \"fired\": 1,\n  \"timed_out\": 1,\n"
            "  \"played_after_timeout\": 0,\n  \"skipped\": 1,\n  \"failure\": null,\n"
            "  \"latency_p50_ms\": 0.412,\n  \"latency_p99_ms\": 0.412,\n"
            "  \"latency_max_ms\": 0.412,\n  \"latency_histogram_ms\": {\n    \"0-0.25\": 0,\n"
            "    \"0.25-0.5\": 1,\n    \"0.5-1\": 0,\n    \"1-2\": 0,\n    \"2-5\": 0,\n"
            "    \"5-10\": 0,\n    \"10+\": 0\n  }\n}\n");
  // The reader keeps exchanges and trigger waits apart.
  ASSERT_EQ(loaded.timeline.size(), 2u);
  ASSERT_EQ(loaded.triggers.size(), 2u);
  EXPECT_EQ(loaded.triggers[0].latencyUs, 412);
  EXPECT_EQ(loaded.triggers[1].arrivedUs, -1);
  EXPECT_EQ(loaded.trials[0].trigger, "fired");
  EXPECT_EQ(loaded.trials[0].triggerLatencyUs, 412);
  EXPECT_TRUE(loaded.failures.empty());

  const std::string html = run.In("report.html");
  EXPECT_NE(html.find("<h2>Start triggers</h2>\n<table id=\"trigger-summary\">\n"
                      "<tr><th>Waits</th><td>2</td></tr>\n"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<tr><th>Timed out, skipped</th><td class=\"bad\">1</td></tr>\n"),
            std::string::npos);
  EXPECT_NE(html.find("<tr><td>0.25-0.5</td><td>1</td><td><svg xmlns=\"http://www.w3.org/2000/"
                      "svg\" width=\"300\" height=\"12\"><rect width=\"300\""),
            std::string::npos);
  EXPECT_NE(html.find("<tr><td>1</td><td>A</td><td>SE1</td><td>fired</td><td>0.001500</td>"
                      "<td>0.412</td></tr>"),
            std::string::npos);
}

TEST(SessionRecordTriggersTest, ARunWithoutTriggersWritesWhatItAlwaysWrote) {
  ByHandRun run;
  Play(run, false);  // the worker's trigger calls are ignored too
  ASSERT_TRUE(run.rec.ok());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(run.rec.folder()) / "triggers.tsv"));
  EXPECT_EQ(run.In("timeline.csv"),
            "trial,type,step,command,reply,sent_us,replied_us,status\n"
            "1,A,start event,\"-PostEvent \"\"go\"\" 3 0\",0,1912,2000,replied\n"
            "3,B,start event,\"-PostEvent \"\"go\"\" 3 0\",0,15010,15098,replied\n");
  const std::string trials = run.In("trials.tsv");
  EXPECT_EQ(trials.substr(0, trials.rfind("3\tB\t")),
            "trial\ttype\tstart_us\tend_us\toutcome\n1\tA\t1000\t5000\tcompleted\n"
            "2\tA\t5000\t15000\tcompleted\n");
  record::LoadedRecord loaded;
  std::string error;
  ASSERT_TRUE(record::LoadRecord(run.rec.folder(), loaded, error)) << error;
  const std::string json = run.In("session.json");
  EXPECT_EQ(json.find("trigger"), std::string::npos) << json;
  EXPECT_EQ(json.substr(json.rfind("\"trial_types\"")),
            "\"trial_types\": [\n    {\n      \"name\": \"A\",\n      \"period_ms\": 10,\n"
            "      \"start_pulse_ms\": null,\n      \"end_pulse_ms\": null\n    },\n    {\n"
            "      \"name\": \"B\",\n      \"period_ms\": 10,\n      \"start_pulse_ms\": null,\n"
            "      \"end_pulse_ms\": null\n    }\n  ]\n}\n");
  EXPECT_EQ(run.In("report.html").find("Start triggers"), std::string::npos);
}

// Bins take their lower edge and not their upper one; percentiles are
// nearest-rank; without a worker the rows are counted.
TEST(TriggerSummaryTest, BinEdgesAndPercentiles) {
  std::vector<record::TriggerRow> rows;
  for (int64_t us : {0, 249, 250, 999, 1000, 9999, 10000, 123456}) {
    rows.push_back({});
    rows.back().outcome = "fired";
    rows.back().latencyUs = us;
  }
  rows.push_back({});
  rows.back().outcome = "timed out, played";
  EXPECT_EQ(record::LatencyHistogram(rows), (std::vector<int64_t>{2, 1, 1, 1, 0, 1, 2}));
  const record::Json s = record::TriggerSummaryJson(rows, nullptr);
  EXPECT_EQ(s["waits"].Int(), 9);
  EXPECT_EQ(s["played_after_timeout"].Int(), 1);
  EXPECT_EQ(s["latency_p50_ms"].number(), 0.999);
  EXPECT_EQ(s["latency_p99_ms"].number(), 123.456);
  EXPECT_TRUE(s["failure"].IsNull());
}

}  // namespace
}  // namespace orvanta::testing
