// The window on a lab machine: a setup file that stops early, New Setup, the
// shuffle warning, the status bar through a run, and Start at Trial.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <fstream>

#include "app/message_log_list.h"
#include "app/run_status_bar.h"
#include "app_test_support.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

class RigWindowTest : public DialogTest {
 protected:
  std::string WriteFile(const std::string& name, const std::string& text) {
    std::string path = dir.WithSeparator() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Types A (3 trials) and B (2), each trial `ms` long, through the model.
  void AddTwoTypes(int32_t ms) {
    trials.SetTimingTolerance(kWideTimingToleranceMs);
    for (const char* name : {"A", "B"}) {
      trials.AddTrial(name);
      TrialNamed(name)->SetTrialDuration(ms);
      TrialNamed(name)->SetInterTrialInterval(0);
    }
    deck.SetNumCardsInSuit(0, 3);
    deck.SetNumCardsInSuit(1, 2);
    Pump();
  }
  RunStatusBar& Status() { return *window->runStatusBar(); }
  bool LogHas(const std::string& piece) {
    for (const std::string& entry : Entries(Find<QListWidget>("messageLog"))) {
      if (entry.find(piece) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(RigWindowTest, AHalfLoadedFileGivesItsBoxAndTheListMarksTheError) {
  files.QueueAnswer(WriteFile("half.cfg", "-AddTrial \"A\"\n-AddTrial \"B\"\nAddTrial \"C\"\n"));
  Menu("openConfigurationFileAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].caption, "Configuration File Error");
  EXPECT_NE(boxes.boxes()[0].text.find("Line Number: 3\r\nLine: AddTrial \"C\"\r\nReason: "
                                       "FormatCmdLine::ProcessLine() - Error, Invalid Syntax"),
            std::string::npos);
  EXPECT_NE(boxes.boxes()[0].text.find("(2 trial types are now loaded)"), std::string::npos);
  EXPECT_EQ(Entries(Find<QListWidget>("trialTypeList")), (std::vector<std::string>{"A", "B"}));

  // The reader's per-line entries are details: hidden on request, still
  // in the list; the error entries stay, marked by more than colour.
  auto* list = static_cast<MessageLogList*>(Find<QListWidget>("messageLog"));
  const int count = list->count();
  int details = 0, errors = 0;
  for (int i = 0; i < count; ++i) {
    const LogLineKind kind = ClassifyLogLine(list->item(i)->text().toStdString());
    details += kind == LogLineKind::kDetail;
    if (kind == LogLineKind::kError) {
      ++errors;
      EXPECT_FALSE(list->item(i)->icon().isNull());
      EXPECT_EQ(list->item(i)->toolTip(), list->item(i)->text());
    }
  }
  EXPECT_EQ(errors, 2);
  EXPECT_GE(details, 6);
  Click(Find<QCheckBox>("showDetailsCheck"));
  EXPECT_EQ(list->count(), count);
  int hidden = 0;
  for (int i = 0; i < count; ++i) hidden += list->item(i)->isHidden();
  EXPECT_EQ(hidden, details);
  EXPECT_FALSE(list->currentItem()->isHidden());
}

TEST_F(RigWindowTest, NewSetupAsksBeforeLosingChangesThenClears) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QPushButton>("addTypeButton"));
  Find<QComboBox>("shuffleTypeCombo")->setCurrentIndex(1);
  deck.SetShuffleType(Group);
  boxes.QueueAnswer(BoxResult::kNo);
  Menu("newSetupAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "The current setup has changes that have not been saved.  Its 2 trial types and the "
            "trial order will be cleared.\r\n\r\nClear the setup and start a new one?");
  EXPECT_EQ(boxes.boxes()[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(trials.GetNumTrials(), 2);

  Menu("newSetupAction");  // answered Yes
  EXPECT_EQ(trials.GetNumTrials(), 0);
  EXPECT_EQ(deck.GetNumCards(), 0);
  EXPECT_EQ(Find<QListWidget>("trialTypeList")->count(), 0);
  EXPECT_EQ(Find<QListWidget>("trialList")->count(), 0);
  EXPECT_EQ(Find<QComboBox>("shuffleTypeCombo")->currentText(), "Normal");
  EXPECT_FALSE(Find<QPushButton>("removeTypeButton")->isEnabled());
  EXPECT_FALSE(Edit("nameEdit")->isEnabled());

  // A saved setup is not lost: no question. During a run: refused.
  Click(Find<QPushButton>("addTypeButton"));
  EnterText(Edit("trialDurationEdit"), "60000");
  files.QueueAnswer(dir.WithSeparator() + "saved.cfg");
  Menu("saveConfigurationFileAction");
  boxes.Clear();
  server.connected = true;
  Click(Find<QPushButton>("startButton"));
  Menu("newSetupAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].caption, "Trial Processing");
  Click(Find<QPushButton>("stopButton"));
  Menu("newSetupAction");
  EXPECT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(trials.GetNumTrials(), 0);
}

TEST_F(RigWindowTest, ShuffleWarningAndTheSameShuffleTypeKeepsTheOrder) {
  trials.AddTrial("X");
  trials.AddTrial("Y");
  deck.SetNumCardsInSuit(0, 5);
  Pump();
  Click(Find<QPushButton>("shuffleButton"));
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].caption, "Shuffle");
  EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::kWarning);
  EXPECT_EQ(boxes.boxes()[0].text,
            "The shuffle could not keep to the limit of 1 trial of one type in a row.\r\n\r\nThe "
            "order kept is the best one found.  It breaks the rule at trials 2, 3 and 6 of the "
            "Trial List: each makes a run of one type longer than the limit.\r\n\r\nShuffle "
            "again, raise the Max Consecutive Type Count, or change the trial counts.");
  const std::vector<std::string> shuffled = Entries(Find<QListWidget>("trialList"));
  EXPECT_EQ(shuffled[3], "4.  Y");

  // "Normal" chosen again, as the user does: nothing is rebuilt.
  auto* combo = Find<QComboBox>("shuffleTypeCombo");
  combo->setCurrentIndex(0);
  emit combo->activated(0);
  Pump();
  EXPECT_EQ(Entries(Find<QListWidget>("trialList")), shuffled);
}

TEST_F(RigWindowTest, StatusBarFollowsConnectionAndARun) {
  EXPECT_EQ(Status().connectionText(), "Not connected");
  AddTwoTypes(150);
  Menu("connectToServerAction");
  EXPECT_EQ(Status().connectionText(),
            QString::fromStdString("Connected to " + window->serverName()));
  EXPECT_TRUE(LogHas(kConnectedLogText + window->serverName()));

  Click(Find<QPushButton>("startButton"));
  EXPECT_EQ(Status().stateText(), "Running");
  EXPECT_EQ(Status().remainingText(), "Remaining 0:01");  // 750 ms by the nominal durations
  ASSERT_TRUE(RunUntil([&] { return Status().trialText() == "Trial 2 of 5"; }));
  Click(Find<QPushButton>("pauseButton"));
  Status().Refresh();
  EXPECT_EQ(Status().stateText(), "Paused");
  Click(Find<QPushButton>("pauseButton"));
  ASSERT_TRUE(RunUntil([&] { return !window->isRunning(); }));
  EXPECT_EQ(Status().stateText(), "Completed");
  EXPECT_EQ(Status().trialText(), "Trial 5 of 5");
  EXPECT_EQ(Status().remainingText(), "Remaining 0:00");
  EXPECT_TRUE(Status().elapsedText().startsWith("Elapsed 0:0"));
  ASSERT_TRUE(RunUntil([&] { return LogHas(std::string(kRunCompletedLogText) + "1 to 5 of 5"); }));

  TrialNamed("A")->SetTrialDuration(60000);
  Click(Find<QPushButton>("startButton"));
  Click(Find<QPushButton>("stopButton"));
  EXPECT_EQ(Status().stateText(), "Stopped");
  Menu("disconnectFromServerAction");
  EXPECT_EQ(Status().connectionText(), "Not connected");
}

TEST_F(RigWindowTest, StartAtTrialStartsThereWithTheRunnersLogLine) {
  AddTwoTypes(20);
  server.connected = true;
  WhenModalOpens([](QWidget* modal) {
    auto* spin = modal->findChild<QSpinBox*>("startAtTrialSpin");
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->maximum(), 5);
    spin->setValue(4);
    EXPECT_EQ(modal->findChild<QLabel*>("startAtTrialLine")->text(), "4.  B");
    static_cast<QDialog*>(modal)->accept();
  });
  Menu("startAtTrialAction");
  ASSERT_TRUE(RunUntil([&] { return !window->isRunning(); }));
  EXPECT_TRUE(
      LogHas("TrialContainer::ProcessTrials() - Starting at trial #4 of 5, the trials "
             "before it are skipped."));
  EXPECT_TRUE(LogHas("Start Trial #4"));
  EXPECT_FALSE(LogHas("Start Trial #3"));
  EXPECT_TRUE(LogHas(std::string(kRunCompletedLogText) + "4 to 5 of 5"));

  // Not connected: the Start button's box, no run.
  server.connected = false;
  boxes.Clear();
  WhenModalOpens([](QWidget* modal) { static_cast<QDialog*>(modal)->accept(); });
  Menu("startAtTrialAction");
  ASSERT_EQ(boxes.texts(), std::vector<std::string>{kNotConnectedMessage});
  EXPECT_FALSE(window->isRunning());
}

}  // namespace
}  // namespace orvanta::testing
