// The window's session records against the simulator: the record of a
// completed run and its report path in the completion box, View > Last
// Session Report, File > Resume Session... of a stopped run, the run's
// verdict in the end box and the status bar, and a records folder that
// cannot be written.
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

#include <filesystem>
#include <fstream>

#include "app/app_folders.h"
#include "app/run_status_bar.h"
#include "app/window_records.h"
#include "record/record_reader.h"
#include "sim_dialog_test.h"
#include "trials/trial.h"

namespace orvanta::testing {
namespace {

class SessionRecordsTest : public SimDialogTest {
 protected:
  void SetUp() override {
    // Settings of this test alone: away from the user's own, and from a test
    // running in parallel whose TearDown would remove the records folder.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.WithSeparator() + "settings"));
    SimDialogTest::SetUp();
    std::string error;
    ASSERT_TRUE(records.SetFolder(dir.WithSeparator() + "recs", error)) << error;
    records.SetClient(&client);
    window->SetSessionRecords(&records);
  }
  void TearDown() override {
    SimDialogTest::TearDown();
    OpenWindowSettings(dir.WithSeparator())->remove(QStringLiteral("SessionRecords"));
  }

  std::vector<std::string> Records() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir.WithSeparator() + "recs", ec)) {
      out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  record::LoadedRecord Load(const std::string& folder) const {
    record::LoadedRecord loaded;
    std::string error;
    EXPECT_TRUE(record::LoadRecord(folder, loaded, error)) << error;
    return loaded;
  }

  const std::string appDirectory = dir.WithSeparator();  // the records read it at each use
  WindowRecords records{trials, deck, config, log, clock, shell, appDirectory};
};

TEST_F(SessionRecordsTest, RunLeavesARecordWhoseReportTheWindowShowsAndOpens) {
  Menu("lastSessionReportAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text.rfind("No session report has been written yet.", 0), 0u);
  boxes.Clear();

  Click(Find<QPushButton>("addTypeButton"));
  Trial* trial = TrialNamed(window->currentTrialName());
  ASSERT_NE(trial, nullptr);
  trial->SetTrialDuration(30);
  trial->SetInterTrialInterval(0);
  trial->SetStartOfTrialGenerateEvent(true);
  ConnectThroughMenu();
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(RunUntil([&] { return !window->isRunning(); }));

  const auto made = Records();
  ASSERT_EQ(made.size(), 1u);
  const std::string report = (std::filesystem::path(made[0]) / "report.html").string();
  ASSERT_EQ(boxes.texts(), std::vector<std::string>{"Trials Completed Successfully\r\n\r\n"
                                                    "Session report: " +
                                                    report});
  EXPECT_TRUE(std::filesystem::is_regular_file(report));
  const record::LoadedRecord rec = Load(made[0]);
  EXPECT_EQ(rec.outcome, "completed");
  EXPECT_EQ(rec.session["program"].Str(), "Orvanta");
  EXPECT_EQ(rec.session["server"].Str(), "127.0.0.1");
  EXPECT_EQ(rec.session["negotiation_port"].Int(), sim->negotiation_port());
  ASSERT_EQ(rec.trials.size(), 1u);
  EXPECT_EQ(rec.timeline.size(), 1u);

  Menu("lastSessionReportAction");
  EXPECT_EQ(shell.opened(), std::vector<std::string>{report});
  EXPECT_EQ(boxes.boxes().size(), 1u);  // no error box
}

TEST_F(SessionRecordsTest, ResumeShowsWhatWillRunThenContinuesAStoppedRun) {
  Click(Find<QPushButton>("addTypeButton"));
  Trial* trial = TrialNamed(window->currentTrialName());
  ASSERT_NE(trial, nullptr);
  trial->SetTrialDuration(1500);
  trial->SetInterTrialInterval(0);
  trial->SetStartOfTrialGenerateEvent(true);
  EnterText(Edit("trialCountEdit"), QStringLiteral("3"));
  ConnectThroughMenu();
  Click(Find<QPushButton>("startButton"));
  // Stop once the server has trial 2's event: the label alone can show "2"
  // before the worker has sent it.
  const auto events = [&] {
    int n = 0;
    for (const std::string& command : CommandTexts()) n += command.rfind("-PostEvent", 0) == 0;
    return n;
  };
  ASSERT_TRUE(RunUntil(
      [&] { return Find<QLabel>("currentTrialNumberText")->text() == "2" && events() == 2; }));
  Click(Find<QPushButton>("stopButton"));
  // The window is idle before the worker has wound down; Resume waits for both.
  ASSERT_TRUE(RunUntil([&] { return !window->isRunning() && !trials.IsProcessing(); }));
  const auto first = Records();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(Load(first[0]).outcome, "stopped");

  boxes.Clear();
  files.QueueAnswer(first[0] + "/session.json");
  boxes.QueueAnswer(BoxResult::kYes);
  Menu("resumeSessionAction");
  ASSERT_TRUE(RunUntil([&] { return !window->isRunning() && Records().size() == 2; }));
  ASSERT_TRUE(RunUntil([&] { return !window->isRunning(); }));
  const auto shown = boxes.boxes();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Resume the session recorded in:\r\n\r\n" + first[0] +
                               "\r\n\r\nIts run ended stopped.  Its setup will replace the current "
                               "one, and trials 2 to 3 of 3 will run (2 trials: Trial Type 1 2).  "
                               "A new record will name this one.\r\n\r\nStart the run now?");
  EXPECT_EQ(shown[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(shown[1].text.rfind("Trials Completed Successfully", 0), 0u);

  const auto all = Records();
  const std::string next = all[0] == first[0] ? all[1] : all[0];
  const record::LoadedRecord continued = Load(next);
  EXPECT_EQ(continued.outcome, "completed");
  EXPECT_EQ(continued.session["resumes"].Str(), first[0]);
  EXPECT_EQ(continued.session["first_trial"].Int(), 2);
  ASSERT_EQ(continued.trials.size(), 2u);
  EXPECT_EQ(continued.trials[0].trial, 2);
  // Trials 1 and 2 in the first run, then 2 and 3 again.
  EXPECT_EQ(events(), 4);
}

// A run whose verdict is qualified never gets the plain success text: with a
// tolerance of 0 ms every trial's exchanges put it outside.
TEST_F(SessionRecordsTest, EndBoxAndStatusBarShowATimingOutsideTheTolerance) {
  Click(Find<QPushButton>("addTypeButton"));
  Trial* trial = TrialNamed(window->currentTrialName());
  ASSERT_NE(trial, nullptr);
  trial->SetTrialDuration(10);
  trial->SetInterTrialInterval(0);
  trial->SetStartOfTrialGenerateEvent(true);
  EnterText(Edit("timingToleranceEdit"), QStringLiteral("0"));
  EXPECT_EQ(trials.GetTimingTolerance(), 0);
  ConnectThroughMenu();
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(RunUntil([&] { return !window->isRunning(); }));
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text.rfind("Trials completed with timing outside the tolerance.\r\n"
                                        "\r\nThe timing was outside the tolerance: 1 of 1 step "
                                        "was more than 0 ms off their nominal periods",
                                        0),
            0u)
      << boxes.boxes()[0].text;
  EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::kWarning);
  EXPECT_EQ(window->runStatusBar()->stateText(), "Completed: timing outside tolerance");
  EXPECT_EQ(Load(Records()[0]).session["timing"]["verdict"].Str(), "out of tolerance");
}

TEST_F(SessionRecordsTest, UnwritableRecordsFolderIsRefusedAndAStartAsksFirst) {
  // Under a regular file: no folder can be made there, not even by root.
  std::ofstream(dir.WithSeparator() + "file") << "x";
  const std::string unwritable = dir.WithSeparator() + "file/records";
  files.QueueAnswer(unwritable);
  Menu("recordsFolderAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text.rfind("Session records cannot be written in:\r\n\r\n" +
                                            unwritable + "\r\n\r\ncannot create the folder",
                                        0),
            0u)
      << boxes.boxes()[0].text;
  EXPECT_EQ(records.folder(), dir.WithSeparator() + "recs");
  boxes.Clear();

  // A folder remembered from before that cannot be written any more.
  // (Where the window keeps it: an INI file beside the log on Windows.)
  OpenWindowSettings(dir.WithSeparator())
      ->setValue(QStringLiteral("SessionRecords/Folder"), QString::fromStdString(unwritable));
  Click(Find<QPushButton>("addTypeButton"));
  Trial* trial = TrialNamed(window->currentTrialName());
  ASSERT_NE(trial, nullptr);
  trial->SetTrialDuration(10);
  trial->SetInterTrialInterval(0);
  ConnectThroughMenu();
  boxes.QueueAnswer(BoxResult::kNo);
  Click(Find<QPushButton>("startButton"));
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(
      boxes.boxes()[0].text.rfind("No session record can be made in:\r\n\r\n" + unwritable, 0), 0u)
      << boxes.boxes()[0].text;
  EXPECT_EQ(boxes.boxes()[0].buttons, BoxButtons::kYesNo);
  EXPECT_FALSE(window->isRunning());
  EXPECT_FALSE(trials.IsProcessing());

  boxes.Clear();
  boxes.QueueAnswer(BoxResult::kYes);
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(RunUntil([&] { return boxes.boxes().size() == 2u && !window->isRunning(); }));
  EXPECT_EQ(boxes.boxes()[1].text,
            "Trials completed without a session record.\r\n\r\nNo session record was written.");
  EXPECT_EQ(window->runStatusBar()->stateText(), "Completed: no record");
}

}  // namespace
}  // namespace orvanta::testing
