// The session record that orvanta-run writes, against the simulator: a
// completed run, a stopped one and a failed one; a run killed with SIGKILL,
// then rebuilt with --report and continued with --resume.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "record/json.h"
#include "record/record_reader.h"
#include "tests/tools/orvanta-run/runner_child.h"
#include "tools/orvanta-run/runner_options.h"

namespace orvanta::testing {
namespace {

namespace fs = std::filesystem;
using record::Json;
using record::LoadedRecord;

const char kRecSetup[] =
    "-AddTrial \"A\"\n"
    "-SetTrialCount \"A\" 2\n"
    "-SetTrialDuration \"A\" 20\n"
    "-SetInterTrialInterval \"A\" 20\n"
    "-SetStartOfTrialGenerateEvent \"A\" true\n"
    "-SetStartOfTrialEventTTLValue \"A\" 3\n"
    "-AddTrial \"B\"\n"
    "-SetTrialCount \"B\" 2\n"
    "-SetTrialDuration \"B\" 20\n"
    "-SetInterTrialInterval \"B\" 20\n"
    "-SetStartOfTrialGenerateTTLPulse \"B\" true\n"
    "-SetStartOfTrialTTLPulseBitNumber \"B\" 4\n"
    "-SetStartOfTrialTTLPulseDuration \"B\" 15\n"
    "-SetEndOfTrialGenerateEvent \"B\" true\n";

class SessionRecordTest : public RunnerCliTest {
 protected:
  // The record folders under `parent`, oldest name first.
  std::vector<std::string> Records(const std::string& parent = "recs") const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder() + "/" + parent, ec))
      out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  LoadedRecord Load(const std::string& folder) const {
    LoadedRecord loaded;
    std::string error;
    EXPECT_TRUE(record::LoadRecord(folder, loaded, error)) << error;
    return loaded;
  }
  // The simulator's address, a quiet run recorded under recs/, and a setup
  // file `file` of `count` trials of type `type` with a start event.
  Args RecordedRun(const std::string& file, const std::string& type, int count, int durationMs,
                   int intervalMs = -1) {
    Args args = ServerArgs();
    for (const char* a : {"--quiet", "--record", "recs"}) args.push_back(a);
    std::string setup = "-AddTrial \"" + type + "\"\n-SetTrialCount \"" + type + "\" " +
                        std::to_string(count) + "\n-SetTrialDuration \"" + type + "\" " +
                        std::to_string(durationMs) + "\n";
    if (intervalMs >= 0)
      setup += "-SetInterTrialInterval \"" + type + "\" " + std::to_string(intervalMs) + "\n";
    setup += "-SetStartOfTrialGenerateEvent \"" + type + "\" true\n";
    args.push_back(WriteSetup(file, setup));
    return args;
  }
  int RunToEnd(Args args, const std::string& setup) {
    args.push_back(setup);
    Child child(args, folder());
    const int status = child.Wait();
    err_ = child.err();
    return status;
  }
  std::string err_;
};

// Plain TSV: rows split at line breaks, fields at tabs, nothing quoted.
std::vector<std::vector<std::string>> PlainTsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : SplitLines(text)) {
    std::vector<std::string> fields(1);
    for (char c : line) {
      if (c == '\t')
        fields.emplace_back();
      else
        fields.back() += c;
    }
    rows.push_back(fields);
  }
  return rows;
}

std::string Seconds(long long us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", static_cast<double>(us) / 1e6);
  return text;
}

TEST_F(SessionRecordTest, CompletedRunLeavesAWholeConsistentRecord) {
  // The first run's four events are answered; the second run's first is not.
  simOptions.fault_command = "-PostEvent";
  simOptions.no_reply_nth = 5;
  StartSim();
  Args args = ServerArgs();
  for (const char* a : {"--quiet", "--seed", "7", "--record", "recs"}) args.push_back(a);
  ASSERT_EQ(RunToEnd(args, WriteSetup("rec.cfg", kRecSetup)), 0) << err_;
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const std::string& folder = records[0];
  EXPECT_TRUE(std::regex_match(fs::path(folder).filename().string(),
                               std::regex(R"(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_rec)")))
      << folder;
  for (const char* name : {"setup.cfg", "session.json", "timeline.csv", "trials.tsv", "events.tsv",
                           "events.json", "report.html"}) {
    EXPECT_TRUE(fs::is_regular_file(folder + "/" + name)) << name;
  }
  EXPECT_FALSE(fs::exists(folder + "/session.lock"));
  EXPECT_NE(err_.find("orvanta-run: session report: recs/" + fs::path(folder).filename().string() +
                      "/report.html\n"),
            std::string::npos)
      << err_;

  const LoadedRecord rec = Load(folder);
  const Json& s = rec.session;
  EXPECT_EQ(rec.outcome, "completed");
  EXPECT_EQ(s["program"].Str(), "orvanta-run");
  EXPECT_EQ(s["seed"].Int(-1), 7);
  EXPECT_EQ(s["first_trial"].Int(), 1);
  EXPECT_EQ(s["number_of_trials"].Int(), 4);
  EXPECT_EQ(s["failed_commands"].Int(-1), 0);
  EXPECT_EQ(s["message_port"].Int(), server->message_port());
  EXPECT_TRUE(std::regex_match(s["end_time"].Str(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << s["end_time"].Str();
  // setup.cfg carries the exact order: four order lines.
  const std::string setup = ReadFile(folder + "/setup.cfg");
  size_t orders = 0;
  for (size_t at = 0; (at = setup.find("-SetTrialOrder ", at)) != std::string::npos; ++at) ++orders;
  EXPECT_EQ(orders, 4u);

  // The timeline is what the server saw, every command replied.
  std::vector<std::string> commands;
  for (const auto& row : rec.timeline) {
    commands.push_back(row.command);
    EXPECT_EQ(row.status, "replied");
  }
  EXPECT_EQ(commands, TrialCommands());

  ASSERT_EQ(rec.trials.size(), 4u);
  for (size_t i = 0; i < rec.trials.size(); ++i) {
    EXPECT_EQ(rec.trials[i].trial, static_cast<int32_t>(i + 1));
    EXPECT_EQ(rec.trials[i].outcome, "completed");
    EXPECT_LT(rec.trials[i].startUs, rec.trials[i].endUs);
    if (i > 0) {
      EXPECT_EQ(rec.trials[i].startUs, rec.trials[i - 1].endUs);
    }
  }

  // events.tsv read as plain TSV: its onsets are the timeline's send times.
  const auto tsv = PlainTsv(ReadFile(folder + "/events.tsv"));
  ASSERT_FALSE(tsv.empty());
  const std::vector<std::string> header{"onset", "duration", "trial_type",
                                        "value", "trial",    "acknowledged"};
  EXPECT_EQ(tsv[0], header);
  std::vector<std::string> expected, onsets;
  for (const auto& row : rec.timeline) {
    const bool set = row.command.rfind("-SetDIOPortOutput", 0) == 0 &&
                     row.command.substr(row.command.size() - 2) != " 0";
    if (row.command.rfind("-PostEvent", 0) == 0 || set) expected.push_back(Seconds(row.sentUs));
  }
  for (size_t i = 1; i < tsv.size(); ++i) {
    ASSERT_EQ(tsv[i].size(), 6u);
    onsets.push_back(tsv[i][0]);
    EXPECT_EQ(tsv[i][5], "yes");
    if (tsv[i][2] == "start_pulse") {
      EXPECT_EQ(tsv[i][3], "16");
      EXPECT_GE(std::stod(tsv[i][1]), 0.015);
    }
    if (tsv[i][2] == "start_event") {
      EXPECT_EQ(tsv[i][3], "3");
    }
  }
  EXPECT_EQ(onsets, expected);
  Json sidecar;
  std::string error;
  ASSERT_TRUE(Json::Parse(ReadFile(folder + "/events.json"), sidecar, error)) << error;
  for (const auto& column : header) EXPECT_FALSE(sidecar[column]["Description"].IsNull()) << column;

  // The report stands alone: inline SVG, no scripts, nothing fetched.
  const std::string report = ReadFile(folder + "/report.html");
  EXPECT_NE(report.find("<svg"), std::string::npos);
  EXPECT_NE(report.find("id=\"timeline-plot\""), std::string::npos);
  for (const char* banned : {"<script", "src=", "href=", "@import", "url("}) {
    EXPECT_EQ(report.find(banned), std::string::npos) << banned;
  }

  // Nothing is left to resume; a second run never reuses the folder, and its
  // one missing reply makes it a failed record (the commands after it wait
  // for that reply in vain and are not sent).
  Child resume({"--resume", folder}, ProgramEnv::folder());
  EXPECT_EQ(resume.Wait(), 0);
  EXPECT_NE(resume.err().find("nothing to resume"), std::string::npos) << resume.err();
  for (const char* a : {"--reply-timeout", "300"}) args.push_back(a);
  ASSERT_EQ(RunToEnd(args, WriteSetup("rec.cfg", kRecSetup)), runner::kExitRunTrouble) << err_;
  ASSERT_EQ(Records().size(), 2u);
  const LoadedRecord second = Load(Records()[1]);
  EXPECT_EQ(second.outcome, "failed");
  EXPECT_EQ(second.session["reply_timeout_ms"].Int(), 300);
  EXPECT_EQ(std::count_if(second.timeline.begin(), second.timeline.end(),
                          [](const auto& row) { return row.status == "no reply"; }),
            1);
  const auto notSent = std::count_if(second.timeline.begin(), second.timeline.end(),
                                     [](const auto& row) { return row.status == "not sent"; });
  EXPECT_GE(notSent, 1);
  EXPECT_EQ(second.session["failed_commands"].Int(-1), 1 + notSent);
  ASSERT_EQ(second.failures.size(), static_cast<size_t>(1 + notSent));
  EXPECT_EQ(second.failures[0].reason, "no reply within 300 ms");
  EXPECT_EQ(second.failures[1].reason, "the server has not answered an earlier command");
}

TEST_F(SessionRecordTest, StoppedRunIsRecordedAsStopped) {
  StartSim();
  const Args args = RecordedRun("long.cfg", "L", 3, 20000);
  Child child(args, folder());
  ASSERT_TRUE(WaitUntil([&] { return TrialCommands().size() == 1; }, 10000ms));
  child.Signal(SIGINT);
  EXPECT_EQ(child.Wait(), runner::kExitRunStopped);
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const LoadedRecord rec = Load(records[0]);
  EXPECT_EQ(rec.outcome, "stopped");
  EXPECT_EQ(rec.session["failed_commands"].Int(-1), 0);
  ASSERT_EQ(rec.trials.size(), 1u);
  EXPECT_EQ(rec.trials[0].outcome, "stopped");
  EXPECT_TRUE(fs::is_regular_file(records[0] + "/report.html"));
  LoadedRecord copy = rec;
  EXPECT_EQ(record::ResumeTrial(copy), 1);
}

TEST_F(SessionRecordTest, LostServerMakesAFailedRecordWithItsFailures) {
  simOptions.fault_command = "-PostEvent";
  simOptions.close_after_n = 2;
  StartSim();
  const Args args = RecordedRun("ev.cfg", "E", 3, 10, 10);
  Child child(args, folder());
  EXPECT_EQ(child.Wait(), runner::kExitRunTrouble);
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const LoadedRecord rec = Load(records[0]);
  EXPECT_EQ(rec.outcome, "failed");
  ASSERT_GE(rec.session["failed_commands"].Int(), 1);
  size_t failed = 0;
  for (const auto& row : rec.timeline) failed += row.status != "replied" ? 1 : 0;
  EXPECT_EQ(static_cast<int64_t>(failed), rec.session["failed_commands"].Int());
  // The trial that lost the connection is the last one recorded, and failed.
  ASSERT_FALSE(rec.trials.empty());
  EXPECT_EQ(rec.trials.back().outcome, "failed");
  EXPECT_EQ(rec.failures.size(), failed);
  const std::string report = ReadFile(records[0] + "/report.html");
  EXPECT_NE(report.find("<h2>Failures</h2>\n<table>"), std::string::npos);
}

TEST_F(SessionRecordTest, KilledRunReadsInterruptedAndCanBeReportedAndResumed) {
  StartSim();
  const Args args = RecordedRun("slow.cfg", "S", 4, 400, 10);
  {
    Child child(args, folder());
    ASSERT_TRUE(WaitUntil([&] { return TrialCommands().size() == 2; }, 10000ms));
    // The record's writer thread has the row within moments of the reply.
    ASSERT_TRUE(WaitUntil(
        [&] {
          const auto r = Records();
          return r.size() == 1 && SplitLines(ReadFile(r[0] + "/timeline.csv")).size() == 3;
        },
        5000ms));
    child.Signal(SIGKILL);
    child.Wait();
  }
  auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  const std::string killed = records[0];
  EXPECT_NE(ReadFile(killed + "/session.json").find("\"outcome\": \"running\""), std::string::npos);
  const LoadedRecord rec = Load(killed);
  EXPECT_EQ(rec.outcome, "interrupted");
  ASSERT_EQ(rec.trials.size(), 1u);  // trial 2 was under way
  EXPECT_EQ(rec.timeline.size(), 2u);
  EXPECT_EQ(record::ResumeTrial(rec), 2);

  Child report({"--report", killed}, folder());
  EXPECT_EQ(report.Wait(), 0) << report.err();
  EXPECT_NE(ReadFile(killed + "/report.html").find(">interrupted<"), std::string::npos);

  Args resume = ServerArgs();
  for (const char* a : {"--quiet", "--record", "recs", "--resume"}) resume.push_back(a);
  resume.push_back(killed);
  Child again(resume, folder());
  ASSERT_EQ(again.Wait(), 0) << again.err();
  EXPECT_NE(again.err().find("resuming " + killed + " (interrupted) at trial 2 of 4"),
            std::string::npos)
      << again.err();
  EXPECT_EQ(TrialCommands().size(), 2u + 3u);
  records = Records();
  ASSERT_EQ(records.size(), 2u);
  const std::string next = records[0] == killed ? records[1] : records[0];
  const LoadedRecord continued = Load(next);
  EXPECT_EQ(continued.outcome, "completed");
  EXPECT_EQ(continued.session["resumes"].Str(), killed);
  // Named after the setup it continues, never after the old record's folder.
  EXPECT_TRUE(std::regex_match(fs::path(next).filename().string(),
                               std::regex(R"(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_slow_resumed)")))
      << next;
  ASSERT_EQ(continued.session["setup_source"].items().size(), 1u);
  EXPECT_EQ(fs::path(continued.session["setup_source"].items()[0].Str()).filename(), "slow.cfg");
  EXPECT_EQ(continued.session["first_trial"].Int(), 2);
  ASSERT_EQ(continued.trials.size(), 3u);
  EXPECT_EQ(continued.trials[0].trial, 2);
}

}  // namespace
}  // namespace orvanta::testing
