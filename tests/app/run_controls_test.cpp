// The run controls and the trial order list, against the real trial worker,
// the real server client and the simulator.
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <chrono>
#include <fstream>
#include <sstream>

#include "sim_dialog_test.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

// Idle after a Stop or a completed run; `anyType` says whether the Trial Type
// List box has entries.
RunControlState Idle(bool anyType) {
  return {true, false, false, true, true, anyType, anyType, "Pause", true, true, true};
}
const RunControlState kRunning{false, true,    true, false, false, false,
                               false, "Pause", true, true,  true};

class RunControlsTest : public SimDialogTest {
 protected:
  // One trial type with `count` cards and the given timing, nothing switched
  // on, added through the window.
  Trial* AddType(int32_t count, int32_t duration, int32_t interval) {
    Click(Find<QPushButton>("addTypeButton"));
    Trial* trial = TrialNamed(window->currentTrialName());
    EXPECT_NE(trial, nullptr);
    if (trial == nullptr) return nullptr;
    trial->SetTrialDuration(duration);
    trial->SetInterTrialInterval(interval);
    EnterText(Edit("trialCountEdit"), QString::number(count));
    return trial;
  }

  std::string LogText() const {
    std::ifstream file(dir.WithSeparator() + "OrvantaLogFile.txt", std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }
};

TEST_F(RunControlsTest, StartWhileDisconnectedShowsItsBoxAndChangesNoControl) {
  AddType(2, 1000, 0);
  const RunControlState before = ReadRunControls(window.get());
  Click(Find<QPushButton>("startButton"));
  const std::vector<ShownBox> shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text,
            "Unable to process trials, a connection to Quorvin has not been established");
  EXPECT_EQ(shown[0].caption, "Trial Processing");
  EXPECT_EQ(shown[0].icon, BoxIcon::kError);
  EXPECT_EQ(shown[0].buttons, BoxButtons::kOk);
  EXPECT_EQ(ReadRunControls(window.get()), before);
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_FALSE(window->isRunning());
  EXPECT_TRUE(CommandTexts().empty());  // no connection, no traffic
}

// An empty order is refused: a run of nothing must not read as a success.
TEST_F(RunControlsTest, ConnectedStartWithNoTypesIsRefusedAndStaysIdle) {
  ConnectThroughMenu();
  ASSERT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
  Click(Find<QPushButton>("startButton"));
  const std::vector<ShownBox> shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, kEmptyRunMessage);
  EXPECT_EQ(shown[0].caption, "Trial Processing");
  EXPECT_EQ(shown[0].icon, BoxIcon::kError);
  EXPECT_FALSE(window->isRunning());
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_EQ(ReadRunControls(window.get()), Idle(false));
  EXPECT_EQ(Find<QLabel>("currentTrialNumberText")->text(), "0");
}

TEST_F(RunControlsTest, ThreeCardRunCountsAndHighlightsEachTrialThenKeepsTheLast) {
  Trial* trial = AddType(3, 150, 0);
  ASSERT_NE(trial, nullptr);
  trial->SetStartOfTrialGenerateEvent(true);
  trial->SetStartOfTrialEventString("go");
  ConnectThroughMenu();
  auto* number = Find<QLabel>("currentTrialNumberText");
  auto* order = Find<QListWidget>("trialList");
  ASSERT_EQ(Entries(order),
            (std::vector<std::string>{"1.  Trial Type 1", "2.  Trial Type 1", "3.  Trial Type 1"}));

  Click(Find<QPushButton>("startButton"));
  EXPECT_EQ(ReadRunControls(window.get()), kRunning);
  // Every number the window shows, with the line highlighted with it.
  std::vector<std::string> seen;
  std::vector<int> rows;
  ASSERT_TRUE(RunUntil([&] {
    const std::string shown = number->text().toStdString();
    if (shown != "0" && (seen.empty() || seen.back() != shown)) {
      seen.push_back(shown);
      const auto selected = order->selectedItems();
      rows.push_back(selected.size() == 1 ? order->row(selected.first()) : -1);
    }
    return !window->isRunning();
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(number->text(), "3");
  EXPECT_EQ(ReadRunControls(window.get()), Idle(true));
  ASSERT_EQ(boxes.texts(), std::vector<std::string>{"Trials Completed Successfully"});

  // One start event per trial reached the server.
  int events = 0;
  for (const std::string& command : CommandTexts()) {
    events += command.rfind("-PostEvent \"go\"", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(events, 3);
}

TEST_F(RunControlsTest, PauseResumeAndStopMidRun) {
  Trial* trial = AddType(2, 60000, 0);
  ASSERT_NE(trial, nullptr);
  ConnectThroughMenu();
  auto* pause = Find<QPushButton>("pauseButton");
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(RunUntil([&] { return Find<QLabel>("currentTrialNumberText")->text() == "1"; }));

  Click(pause);
  EXPECT_EQ(pause->text(), "Resume");
  EXPECT_TRUE(window->isPaused());
  EXPECT_TRUE(trials.IsPaused());
  Click(pause);
  EXPECT_EQ(pause->text(), "Pause");
  EXPECT_FALSE(trials.IsPaused());
  Click(pause);
  EXPECT_EQ(pause->text(), "Resume");

  // Editing a field of the running type stays allowed and reaches the model.
  EnterText(Edit("interTrialIntervalEdit"), "25");
  EXPECT_EQ(trial->GetInterTrialInterval(), 25);
  // A rebuild of the order during the run leaves the worker's deal position.
  const int32_t dealPosition = deck.GetNextCardIndex();
  EnterText(Edit("nameEdit"), "Renamed");
  EXPECT_EQ(Entries(Find<QListWidget>("trialList")),
            (std::vector<std::string>{"1.  Renamed", "2.  Renamed"}));
  EXPECT_EQ(deck.GetNextCardIndex(), dealPosition);

  Click(Find<QPushButton>("stopButton"));
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_EQ(ReadRunControls(window.get()), Idle(true));
  EXPECT_FALSE(window->isPaused());
  EXPECT_EQ(Find<QLabel>("currentTrialNumberText")->text(), "1");
  EXPECT_TRUE(trials.WaitForRunEnd(5s));
  const std::string logText = LogText();
  EXPECT_NE(logText.find("mTrialProcessingThread thread has been terminated successfully."),
            std::string::npos);
  EXPECT_EQ(logText.find("End Trial #1"), std::string::npos);
  EXPECT_TRUE(boxes.boxes().empty());  // no completion box after a Stop
}

TEST_F(RunControlsTest, ShuffleTypeChangeAndSetupFileDuringARunAreRefused) {
  AddType(3, 60000, 0);
  AddType(2, 60000, 0);
  Click(Find<QPushButton>("shuffleButton"));
  const std::vector<int32_t> order = deck.GetOrder();
  const std::vector<std::string> lines = Entries(Find<QListWidget>("trialList"));
  ConnectThroughMenu();
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(RunUntil([&] { return Find<QLabel>("currentTrialNumberText")->text() == "1"; }));

  auto* combo = Find<QComboBox>("shuffleTypeCombo");
  combo->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(combo, Qt::Key_Down);  // "Group"
  Pump();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, kShuffleTypeDuringRunMessage);
  EXPECT_EQ(boxes.boxes()[0].caption, "Trial Processing");
  EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::kError);
  EXPECT_EQ(window->lastMessage(), kShuffleTypeDuringRunMessage);
  EXPECT_EQ(combo->currentText(), "Normal");
  EXPECT_EQ(deck.GetShuffleType(), Normal);
  EXPECT_EQ(deck.GetOrder(), order);

  boxes.Clear();
  files.QueueAnswer(dir.WithSeparator() + "never.cfg");
  Menu("openConfigurationFileAction");
  ASSERT_EQ(boxes.texts(), std::vector<std::string>{kOpenDuringRunMessage});
  EXPECT_TRUE(files.asked().empty());  // refused before the file is chosen
  EXPECT_EQ(deck.GetOrder(), order);
  EXPECT_EQ(Entries(Find<QListWidget>("trialList")), lines);

  // After the run both work again.
  Click(Find<QPushButton>("stopButton"));
  boxes.Clear();
  QTest::keyClick(combo, Qt::Key_Down);
  Pump();
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(deck.GetShuffleType(), Group);
}

// ---------------------------------------------------------------------------
// The order list without a server

TEST_F(DialogTest, ThreeOfAAndTwoOfBGiveFiveLinesInDeckOrder) {
  ASSERT_EQ(trials.AddTrial("A"), 0);
  ASSERT_EQ(trials.AddTrial("B"), 0);
  ASSERT_EQ(deck.SetNumCardsInSuit(0, 3), 0);
  ASSERT_EQ(deck.SetNumCardsInSuit(1, 2), 0);
  Pump();
  window->UpdateTrialList();
  auto* order = Find<QListWidget>("trialList");
  EXPECT_EQ(Entries(order),
            (std::vector<std::string>{"1.  A", "2.  A", "3.  A", "4.  B", "5.  B"}));

  Click(Find<QPushButton>("shuffleButton"));
  std::vector<std::string> expected;
  const std::vector<int32_t> dealt = deck.GetOrder();
  for (size_t i = 0; i < dealt.size(); ++i) {
    expected.push_back(std::to_string(i + 1) + ".  " + (dealt[i] == 0 ? "A" : "B"));
  }
  EXPECT_EQ(Entries(order), expected);
}

}  // namespace
}  // namespace orvanta::testing
