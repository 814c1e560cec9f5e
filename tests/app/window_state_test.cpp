// What the window tells the user about the state it is in: questions before
// work is lost (Exit, close, Open over a setup), a status bar that belongs to
// the current run and setup, no false errors in the log, and the newest log
// entry in view with its colour.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

#include <fstream>

#include "app/message_log_list.h"
#include "app/run_status_bar.h"
#include "app_test_support.h"
#include "log/log_capture.h"
#include "log/log_file.h"
#include "trials/trial_container.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

class WindowStateTest : public DialogTest {
 protected:
  QString StatusText(const char* section) { return Find<QLabel>(section)->text(); }
  std::string WriteSetup(const std::string& name, const std::string& text) {
    std::string path = dir.WithSeparator() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

// Exit, Ctrl+Q and the close button ask before unsaved changes are lost;
// No keeps the window and the setup.
TEST_F(WindowStateTest, ExitAndCloseAskAboutUnsavedChanges) {
  Click(Find<QPushButton>("addTypeButton"));
  boxes.QueueAnswer(BoxResult::kNo);
  Menu("exitAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "The current setup has changes that have not been saved.  Its 1 trial type and the "
            "trial order will be lost.\r\n\r\nClose the window without saving?");
  EXPECT_TRUE(window->isVisible());

  boxes.QueueAnswer(BoxResult::kNo);
  QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
  Pump();
  EXPECT_EQ(boxes.boxes().size(), 2u);
  EXPECT_TRUE(window->isVisible());
  window->close();  // the close button, answered Yes
  EXPECT_EQ(boxes.boxes().size(), 3u);
  EXPECT_FALSE(window->isVisible());
}

// A run in progress asks whether to stop it, and No lets it go on; a saved
// setup is closed without the question about unsaved changes.
TEST_F(WindowStateTest, CloseDuringARunAsksWhetherToStopIt) {
  ASSERT_EQ(trials.AddTrial("Long"), 0);
  TrialNamed("Long")->SetTrialDuration(60000);
  Pump();
  files.QueueAnswer(dir.WithSeparator() + "saved.cfg");
  Menu("saveConfigurationFileAction");
  server.connected = true;
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(window->isRunning());
  ASSERT_TRUE(boxes.boxes().empty());

  boxes.QueueAnswer(BoxResult::kNo);
  window->close();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "Trials are being processed.  Closing the window stops the run.\r\n\r\nStop the run "
            "and close the window?");
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(trials.IsProcessing());

  window->close();  // answered Yes
  EXPECT_EQ(boxes.boxes().size(), 2u);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(trials.IsProcessing());
}

// New Setup removes every type without a false ERROR and forgets the last
// run's progress; Start shows no earlier failure, nor does a clean Stop.
TEST_F(WindowStateTest, StatusBarIsFreshAtStartStopNewSetupAndOpen) {
  RunStatusBar* bar = window->runStatusBar();
  Click(Find<QPushButton>("addTypeButton"));
  TrialNamed("Trial Type 1")->SetTrialDuration(60000);
  EnterText(Edit("trialCountEdit"), "9");
  server.connected = true;
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(window->isRunning());
  // The run fails (as a lost connection makes it): its reason shows.
  bar->RunEnded(RunEnd::kFailed, "connection closed");
  EXPECT_EQ(bar->currentMessage(), "Run failed: connection closed");
  Click(Find<QPushButton>("stopButton"));

  Click(Find<QPushButton>("startButton"));
  EXPECT_TRUE(bar->currentMessage().isEmpty()) << bar->currentMessage().toStdString();
  EXPECT_EQ(StatusText("statusTrial"), "Trial 1 of 9");
  bar->ShowNote(QStringLiteral("Run failed: earlier"), 15000);
  Click(Find<QPushButton>("stopButton"));
  EXPECT_EQ(StatusText("statusRunState"), "Stopped");
  EXPECT_TRUE(bar->currentMessage().isEmpty()) << bar->currentMessage().toStdString();

  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QPushButton>("addTypeButton"));
  {
    LogErrorCapture errors;
    boxes.QueueAnswer(BoxResult::kYes);
    Menu("newSetupAction");
    EXPECT_TRUE(errors.errors().empty()) << errors.errors()[0];
  }
  EXPECT_EQ(trials.GetNumTrials(), 0);
  EXPECT_TRUE(StatusText("statusTrial").isEmpty() && StatusText("statusRunState").isEmpty());

  // A run again, then Open: the old progress goes too.
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QPushButton>("startButton"));
  Click(Find<QPushButton>("stopButton"));
  ASSERT_FALSE(StatusText("statusTrial").isEmpty());
  files.QueueAnswer(WriteSetup("one.cfg", "-AddTrial \"X\"\r\n"));
  Menu("openConfigurationFileAction");
  EXPECT_TRUE(StatusText("statusTrial").isEmpty() && StatusText("statusRunState").isEmpty());
}

// Open over a setup asks Add / Replace / Cancel; the result that breaks the
// consecutive-type limit gets the shuffle warning. A Trial Count change that
// breaks it is logged as a WARNING and noted in the status bar.
TEST_F(WindowStateTest, OpenOverASetupAsksAddOrReplaceAndWarnsOfABrokenLimit) {
  const std::string file = WriteSetup("c.cfg", "-AddTrial \"C\"\r\n-SetTrialCount \"C\" 2\r\n");
  // Into an empty setup: no question, and C C breaks a limit of 1.
  files.QueueAnswer(file);
  Menu("openConfigurationFileAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "The trial order of the setup does not keep to the limit of 1 trial of one type in "
            "a row.\r\n\r\nIt breaks the rule at trial 2 of the Trial List: each makes a run of "
            "one type longer than the limit.\r\n\r\nShuffle, raise the Max Consecutive Type "
            "Count, or change the trial counts.");
  boxes.Clear();

  boxes.QueueAnswer(BoxResult::kCancel);
  files.QueueAnswer(file);
  Menu("openConfigurationFileAction");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].buttons, BoxButtons::kAddReplaceCancel);
  EXPECT_NE(boxes.boxes()[0].text.find("Add to the current setup, or replace it?"),
            std::string::npos)
      << boxes.boxes()[0].text;
  EXPECT_EQ(Entries(Find<QListWidget>("trialTypeList")), std::vector<std::string>{"C"});

  const std::string other = WriteSetup("d.cfg", "-AddTrial \"D\"\r\n");
  boxes.QueueAnswer(BoxResult::kAdd);
  files.QueueAnswer(other);
  Menu("openConfigurationFileAction");
  EXPECT_EQ(Entries(Find<QListWidget>("trialTypeList")), (std::vector<std::string>{"C", "D"}));

  boxes.Clear();
  boxes.QueueAnswer(BoxResult::kReplace);
  files.QueueAnswer(other);
  Menu("openConfigurationFileAction");
  EXPECT_EQ(Entries(Find<QListWidget>("trialTypeList")), std::vector<std::string>{"D"});
  EXPECT_EQ(boxes.boxes().size(), 1u);  // the question only: D alone keeps the rule

  // A count that makes the order break the limit does not pass silently.
  EnterText(Edit("trialCountEdit"), "3");
  EXPECT_EQ(window->runStatusBar()->currentMessage().toStdString(),
            "The trial order does not keep to the limit of 1 trial of one type in a row: it "
            "breaks the rule at trials 2 and 3.  Shuffle before the run.");
  const std::vector<std::string> lines = Entries(Find<QListWidget>("messageLog"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(0, 14), "-* WARNING *- ");
}

// The newest entry is selected, wholly above the horizontal scroll bar, and
// drawn in its own colour (red for an ERROR), not in the selection's.
TEST_F(WindowStateTest, NewestLogEntryIsWhollyInViewWithItsColour) {
  auto* list = Find<MessageLogList>("messageLog");
  window->resize(900, 600);
  Pump();
  for (int i = 0; i < 30; ++i) log.WriteLogEntry(kLogNotice, "entry " + std::to_string(i));
  Pump();
  log.WriteLogEntry(kLogError, "a failure " + std::string(400, 'x'));  // wider than the list
  Pump();
  ASSERT_TRUE(list->horizontalScrollBar()->isVisible());
  QListWidgetItem* newest = list->item(list->count() - 1);
  EXPECT_TRUE(newest->isSelected());
  const QRect shown = list->visualItemRect(newest);
  // Its whole height (its width runs on to the right).
  EXPECT_TRUE(shown.top() >= 0 && shown.bottom() <= list->viewport()->rect().bottom());

  // Red text pixels right of the mark.
  const QImage image = list->viewport()->grab().toImage();
  int red = 0;
  for (int y = std::max(0, shown.top()); y <= std::min(image.height() - 1, shown.bottom()); ++y) {
    for (int x = shown.left() + list->iconSize().width() + 12; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 120 && c.green() < 90 && c.blue() < 110) ++red;
    }
  }
  EXPECT_GT(red, 10) << "the selected ERROR entry lost its colour";
}

}  // namespace
}  // namespace orvanta::testing
