// The verdict of a run as orvanta-run reports it: an empty setup refused, a
// server whose slow replies put the run outside its timing tolerance
// (warning, verdict, --strict-timing, the record's timing), and the same
// run inside a wider tolerance. (The report page alone: tests/record.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "record/record_reader.h"
#include "tests/integration/run_env.h"
#include "tests/tools/orvanta-run/runner_child.h"
#include "tools/orvanta-run/runner_options.h"

namespace orvanta::testing {
namespace {

namespace fs = std::filesystem;
using record::Json;

// Two trials, each a 20 ms start pulse, 20 ms long, no interval.
const char kPulses[] =
    "-AddTrial \"P\"\n"
    "-SetTrialCount \"P\" 2\n"
    "-SetTrialDuration \"P\" 20\n"
    "-SetInterTrialInterval \"P\" 0\n"
    "-SetStartOfTrialGenerateTTLPulse \"P\" true\n"
    "-SetStartOfTrialTTLPulseBitNumber \"P\" 1\n"
    "-SetStartOfTrialTTLPulseDuration \"P\" 20\n";

class RunVerdictTest : public RunnerCliTest {
 protected:
  // Runs orvanta-run with `extra` on `setup` against the simulator; the
  // record goes to recs/.
  int Run(const std::vector<std::string>& extra, const std::string& setup) {
    Args args = ServerArgs();
    for (const char* a : {"--quiet", "--record", "recs", "--log", "run.log"}) args.push_back(a);
    for (const std::string& a : extra) args.push_back(a);
    args.push_back(setup);
    Child child(args, folder());
    const int status = child.Wait();
    err_ = child.err();
    return status;
  }
  record::LoadedRecord OnlyRecord() {
    std::vector<fs::path> made;
    for (const auto& e : fs::directory_iterator(folder() + "/recs")) made.push_back(e.path());
    record::LoadedRecord rec;
    std::string error;
    EXPECT_EQ(made.size(), 1u);
    if (!made.empty()) {
      EXPECT_TRUE(record::LoadRecord(made[0].string(), rec, error)) << error;
    }
    return rec;
  }
  std::string err_;
};

TEST_F(RunVerdictTest, EmptySetupIsRefusedBeforeAnythingIsConnected) {
  for (const char* text : {"# nothing here\n", "-AddTrial \"A\"\n-SetTrialCount \"A\" 0\n"}) {
    Child child({"--quiet", "--server", "127.0.0.1", "--no-negotiate", "--message-port",
                 std::to_string(ClosedPort()), WriteSetup("empty.cfg", text)},
                folder());
    EXPECT_EQ(child.Wait(), runner::kExitSetupFailed) << text;
    EXPECT_NE(child.err().find("orvanta-run: the run order is empty: there are no trials to run"),
              std::string::npos)
        << child.err();
    EXPECT_EQ(child.err().find("Trials Completed Successfully"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder() + "/OrvantaSessions"));
  }
}

TEST_F(RunVerdictTest, SlowRepliesPutTheRunOutsideTheTolerance) {
  simOptions.reply_delay_ms = 30;
  StartSim();
  const std::string setup = WriteSetup("pulses.cfg", kPulses);
  // Relative: every 20 ms pulse lasts its 30 ms set reply more, and each
  // trial three replies more than its 40 ms.
  ASSERT_EQ(Run({"--strict-timing"}, setup), runner::kExitTimingOutside) << err_;
  EXPECT_NE(err_.find("Trial Processing: Trials completed with timing outside the tolerance.\r\n"
                      "\r\nThe timing was outside the tolerance: 4 of 4 steps were more than 5 ms "
                      "off their nominal periods and widths, the worst by "),
            std::string::npos)
      << err_;
  EXPECT_NE(err_.find("orvanta-run: warning: the run's timing was outside the tolerance: 4 of 4 "
                      "steps were more than 5 ms off"),
            std::string::npos)
      << err_;
  EXPECT_NE(err_.find("orvanta-run: verdict: completed with timing outside tolerance\n"),
            std::string::npos);
  EXPECT_EQ(err_.find("Trials Completed Successfully"), std::string::npos);
  const record::LoadedRecord rec = OnlyRecord();
  EXPECT_EQ(rec.session["verdict"].Str(), "completed with timing outside tolerance");
  const Json& timing = rec.session["timing"];
  EXPECT_EQ(timing["verdict"].Str(), "out of tolerance");
  EXPECT_EQ(timing["mode"].Str(), "Relative");
  EXPECT_EQ(timing["tolerance_ms"].Int(), 5);
  EXPECT_EQ(timing["steps_out"].Int(), 4);
  EXPECT_GT(timing["worst_ms"].number(), 50.0);
  const std::string report = ReadFile(rec.folder + "/report.html");
  EXPECT_NE(report.find("<table id=\"steps-outside\">"), std::string::npos);
  EXPECT_NE(report.find("class=\"off\""), std::string::npos);

  // Fixed: the late steps reach the verdict; without --strict-timing the
  // exit status stays 0, and the last trial names no next trial.
  fs::remove_all(folder() + "/recs");
  ASSERT_EQ(Run({"--schedule", "fixed"}, setup), 0) << err_;
  EXPECT_NE(err_.find("orvanta-run: verdict: completed with timing outside tolerance\n"),
            std::string::npos)
      << err_;
  EXPECT_NE(err_.find("off their planned times"), std::string::npos) << err_;
  const auto log = LogFileTexts(folder() + "/run.txt");
  for (const std::string& line : log) {
    EXPECT_EQ(line.find("trial #2: the start of the next trial"), std::string::npos) << line;
  }
  EXPECT_EQ(OnlyRecord().session["timing"]["mode"].Str(), "Fixed");
}

TEST_F(RunVerdictTest, AWiderToleranceKeepsTheSameRunInside) {
  simOptions.reply_delay_ms = 30;
  StartSim();
  ASSERT_EQ(Run({"--strict-timing", "--timing-tolerance", "1000", "--save", "saved.cfg"},
                WriteSetup("pulses.cfg", kPulses)),
            0)
      << err_;
  EXPECT_NE(err_.find("Trial Processing: Trials Completed Successfully\n"), std::string::npos)
      << err_;
  EXPECT_NE(err_.find("orvanta-run: verdict: completed\n"), std::string::npos);
  EXPECT_EQ(err_.find("warning: the run's timing"), std::string::npos);
  const auto log = LogFileTexts(folder() + "/run.txt");
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "TrialContainer::ProcessTrials() - Trials completed successfully.  Trials "
                      "run: 1 to 2 of 2"),
            log.end());
  const Json timing = OnlyRecord().session["timing"];
  EXPECT_EQ(timing["verdict"].Str(), "within tolerance");
  EXPECT_EQ(timing["tolerance_ms"].Int(), 1000);
  EXPECT_EQ(timing["steps_out"].Int(), 0);
  // The setup keeps a tolerance that is not the default.
  EXPECT_NE(ReadFile(folder() + "/saved.cfg").find("\r\n-SetTimingTolerance 1000\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace orvanta::testing
