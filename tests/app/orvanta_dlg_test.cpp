// The main window against the real model, on the offscreen platform.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>

#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "app/digits_line_edit.h"
#include "app/run_status_bar.h"
#include "app_test_support.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

const char* const kPropertyEdits[] = {"nameEdit",
                                      "trialCountEdit",
                                      "trialDurationEdit",
                                      "interTrialIntervalEdit",
                                      "wavFileNameEdit",
                                      "wavBufferNumberEdit",
                                      "wavBoardNumberEdit",
                                      "wavSubSystemNameEdit",
                                      "startEventStringEdit",
                                      "startTtlValueEdit",
                                      "startBitNumberEdit",
                                      "startPulseDurationEdit",
                                      "startBoardNumberEdit",
                                      "startSubSystemNameEdit",
                                      "endEventStringEdit",
                                      "endTtlValueEdit",
                                      "endBitNumberEdit",
                                      "endPulseDurationEdit",
                                      "endBoardNumberEdit",
                                      "endSubSystemNameEdit"};
const char* const kChecks[] = {"playWavFileCheck", "startGenerateEventCheck",
                               "startGenerateTtlPulseCheck", "endGenerateEventCheck",
                               "endGenerateTtlPulseCheck"};

std::string SelectedText(QListWidget* list) {
  const auto selected = list->selectedItems();
  return selected.isEmpty() ? std::string() : selected.first()->text().toStdString();
}

void ExpectEditorBox(const RecordingMessageBoxes& boxes, const std::string& text) {
  const std::vector<ShownBox> shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, text);
  EXPECT_EQ(shown[0].caption, "Trial Type Properties Error");
  EXPECT_EQ(shown[0].icon, BoxIcon::kError);
  EXPECT_EQ(shown[0].buttons, BoxButtons::kOk);
}

// ---------------------------------------------------------------------------
// Start-up state, layout and names

TEST_F(DialogTest, FreshStartState) {
  EXPECT_EQ(window->windowTitle().toStdString(), "Orvanta - Disconnected From Server");
  EXPECT_EQ(Find<QLabel>("currentTrialNumberText")->text(), "0");
  EXPECT_TRUE(Find<QPushButton>("startButton")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("pauseButton")->isEnabled());
  EXPECT_EQ(Find<QPushButton>("pauseButton")->text(), "Pause");
  EXPECT_FALSE(Find<QPushButton>("stopButton")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("addTypeButton")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("removeTypeButton")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("browseButton")->isEnabled());
  for (const char* name : kPropertyEdits) {
    QLineEdit* edit = Edit(name);
    EXPECT_TRUE(edit->text().isEmpty()) << name;
    EXPECT_FALSE(edit->isEnabled()) << name;
  }
  for (const char* name : kChecks) {
    EXPECT_FALSE(Find<QCheckBox>(name)->isChecked()) << name;
    EXPECT_FALSE(Find<QCheckBox>(name)->isEnabled()) << name;
  }
  EXPECT_FALSE(Find<QLabel>("trialDurationLabel")->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), Find<QPushButton>("addTypeButton"));

  auto* combo = Find<QComboBox>("shuffleTypeCombo");
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), "Normal");
  EXPECT_EQ(combo->itemText(1), "Group");
  EXPECT_EQ(combo->currentText(), "Normal");  // the deck's default replaces "Group"
  EXPECT_EQ(Edit("maxConsecutiveEdit")->text(), "1");
  EXPECT_TRUE(Edit("maxConsecutiveEdit")->isEnabled());
  EXPECT_EQ(Find<QListWidget>("trialTypeList")->count(), 0);
  EXPECT_EQ(Find<QListWidget>("trialList")->count(), 0);

  // The server name is the computer's own name once the window is up.
  EXPECT_FALSE(window->serverName().empty());
  EXPECT_EQ(window->nextTrialTypeNumber(), 1);
  EXPECT_TRUE(window->currentTrialName().empty());
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DialogTest, LogFileOpensInTheApplicationDirectoryAndEchoesToTheList) {
  EXPECT_TRUE(std::filesystem::exists(dir.WithSeparator() + "OrvantaLogFile.txt"));
  EXPECT_EQ(log.GetFilePath(), dir.WithSeparator() + "OrvantaLogFile.txt");
  log.WriteLogEntry(kLogNotice, "hello window");
  Pump();
  auto* list = Find<QListWidget>("messageLog");
  ASSERT_EQ(list->count(), 1);
  EXPECT_NE(list->item(0)->text().toStdString().find(" - hello window"), std::string::npos);
}

TEST_F(DialogTest, EveryControlHasItsNameAndTemplateNumber) {
  // Every template number from 1002 to 1060 exactly once, on a named control,
  // then the start trigger's 1061 to 1071.
  std::map<int, std::string> byId;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    const QVariant id = widget->property("controlId");
    if (!id.isValid()) continue;
    EXPECT_FALSE(widget->objectName().isEmpty()) << id.toInt();
    EXPECT_TRUE(byId.emplace(id.toInt(), widget->objectName().toStdString()).second)
        << "twice: " << id.toInt();
  }
  ASSERT_EQ(byId.size(), 70u);
  EXPECT_EQ(byId.begin()->first, 1002);
  EXPECT_EQ(byId.rbegin()->first, 1071);
  EXPECT_EQ(byId[1061], "startWaitForTriggerCheck");
  EXPECT_EQ(byId[1063], "startTriggerObjectCombo");
  EXPECT_EQ(byId[1071], "startTriggerOnTimeoutCombo");
  EXPECT_EQ(byId[1005], "maxConsecutiveEdit");
  EXPECT_EQ(byId[1011], "trialTypeList");
  EXPECT_EQ(byId[1042], "startBoardNumberEdit");
  EXPECT_EQ(byId[1043], "startBoardNumberLabel");
  EXPECT_EQ(byId[1060], "messageLog");

  // Labels and groups carry the texts of the window.
  EXPECT_EQ(Find<QLabel>("trialDurationLabel")->text(), "Trial Duration (ms)");
  EXPECT_EQ(Find<QLabel>("interTrialIntervalLabel")->text(), "Inter Trial Interval (ms)");
  EXPECT_EQ(Find<QLabel>("maxConsecutiveLabel")->text(), "Max Consecutive Type Count");
  EXPECT_EQ(Find<QLabel>("startBoardNumberLabel")->property("controlId").toInt(), 1043);
  EXPECT_EQ(Find<QGroupBox>("systemMessageLogGroup")->title(), "System Message Log");
  EXPECT_EQ(Find<QGroupBox>("trialListPropertiesGroup")->title(), "Trial List Properties");
  EXPECT_EQ(Find<QGroupBox>("startOfTrialGroup")->title(), "Start of Trial");
  EXPECT_EQ(Find<QGroupBox>("endOfTrialGroup")->title(), "End of Trial");
  EXPECT_EQ(Find<QGroupBox>("wavFilePropertiesGroup")->title(), "Wav File Properties");
  EXPECT_EQ(Find<QGroupBox>("trialTypeListGroup")->title(), "Trial Type List");
}

TEST_F(DialogTest, MenuBarHoldsEveryCommand) {
  auto* bar = Find<QMenuBar>("menuBar");
  ASSERT_NE(bar, nullptr);
  std::vector<std::string> titles;
  for (QAction* action : bar->actions()) titles.push_back(action->text().remove('&').toStdString());
  EXPECT_EQ(titles, (std::vector<std::string>{"File", "View", "Vintra", "Run", "Help"}));

  auto items = [&](const char* menuName) {
    std::vector<std::string> out;
    for (QAction* action : Find<QMenu>(menuName)->actions()) {
      out.push_back(action->isSeparator() ? "-" : action->text().toStdString());
      EXPECT_TRUE(action->isEnabled());
      EXPECT_FALSE(action->isCheckable());
    }
    return out;
  };
  EXPECT_EQ(
      items("fileMenu"),
      (std::vector<std::string>{"New Setup", "Open Configuration File", "Save Configuration File",
                                "-", "Resume Session...", "Session Records Folder...", "-",
                                "View Log File", "-", "Exit"}));
  EXPECT_EQ(items("viewMenu"), (std::vector<std::string>{"Last Session Report"}));
  std::vector<std::string> runItems;
  for (QAction* action : Find<QMenu>("runMenu")->actions()) {
    runItems.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  }
  EXPECT_EQ(runItems, (std::vector<std::string>{"Start at Trial...", "-", "Fixed Schedule"}));
  const std::pair<const char*, const char*> shortcuts[] = {
      {"newSetupAction", "Ctrl+N"},
      {"openConfigurationFileAction", "Ctrl+O"},
      {"saveConfigurationFileAction", "Ctrl+S"},
      {"exitAction", "Ctrl+Q"}};
  for (const auto& [name, keys] : shortcuts) {
    EXPECT_EQ(window->findChild<QAction*>(name)->shortcut(),
              QKeySequence(QString::fromLatin1(keys)))
        << name;
  }
  EXPECT_EQ(
      items("vintraMenu"),
      (std::vector<std::string>{"Connect To Server", "Disconnect From Server", "Set Server Name"}));
  EXPECT_EQ(items("helpMenu"), (std::vector<std::string>{"About Orvanta..."}));
  const std::pair<const char*, int> commands[] = {{"openConfigurationFileAction", 32773},
                                                  {"saveConfigurationFileAction", 32774},
                                                  {"viewLogFileAction", 32775},
                                                  {"connectToServerAction", 32776},
                                                  {"disconnectFromServerAction", 32777},
                                                  {"setServerNameAction", 32778},
                                                  {"aboutAction", 32779},
                                                  {"fixedScheduleAction", 32780},
                                                  {"resumeSessionAction", 32781},
                                                  {"recordsFolderAction", 32782},
                                                  {"lastSessionReportAction", 32783}};
  for (const auto& [name, id] : commands) {
    QAction* action = window->findChild<QAction*>(name);
    ASSERT_NE(action, nullptr) << name;
    EXPECT_EQ(action->property("commandId").toInt(), id) << name;
  }
}

TEST_F(DialogTest, ResizableLayoutFitsASmallScreenAndScreenshot) {
  // Fits a 1280 x 720 screen with room for a title bar and a panel, and
  // grows: the lists and the message log take the extra room.
  EXPECT_LE(window->minimumSizeHint().width(), 1260);
  EXPECT_LE(window->minimumSizeHint().height(), 650);
  EXPECT_GT(window->maximumSize().height(), 2000);
  window->resize(window->minimumSizeHint());
  Pump();
  const int trialList = Find<QWidget>("trialList")->height();
  const int messageLog = Find<QWidget>("messageLog")->height();
  window->resize(1366, 768);
  Pump();
  EXPECT_EQ(window->size(), QSize(1366, 768));
  EXPECT_GT(Find<QWidget>("trialList")->height(), trialList);
  EXPECT_GT(Find<QWidget>("messageLog")->height(), messageLog);
  // Left column left of the editor, the message log below both, the status
  // bar at the bottom.
  const QPoint listProperties =
      Find<QWidget>("trialListPropertiesGroup")->mapTo(window.get(), QPoint());
  const QPoint trialProperties =
      Find<QWidget>("trialPropertiesGroup")->mapTo(window.get(), QPoint());
  const QWidget* logGroup = Find<QWidget>("systemMessageLogGroup");
  EXPECT_LT(listProperties.x(), trialProperties.x());
  EXPECT_GT(logGroup->mapTo(window.get(), QPoint()).y(),
            Find<QWidget>("trialPropertiesGroup")->geometry().bottom());
  EXPECT_GE(logGroup->width(), window->width() * 9 / 10);
  EXPECT_GT(Find<QWidget>("runStatusBar")->geometry().top(), logGroup->geometry().bottom());
  const QPoint start = Find<QWidget>("startOfTrialGroup")->mapTo(window.get(), QPoint());
  const QPoint end = Find<QWidget>("endOfTrialGroup")->mapTo(window.get(), QPoint());
  EXPECT_EQ(start.y(), end.y());
  EXPECT_LT(start.x(), end.x());

  const QPixmap shot = window->grab();
  EXPECT_FALSE(shot.isNull());
  const QByteArray target = qgetenv("ORVANTA_SCREENSHOT");
  if (!target.isEmpty()) {
    // The window in the middle of a run: connected, the second trial of five
    // highlighted, the run's log lines in the list.
    trials.AddTrial("Trial Type 1");
    trials.AddTrial("Trial Type 2");
    deck.SetNumCardsInSuit(0, 3);
    deck.SetNumCardsInSuit(1, 2);
    for (const char* name : {"Trial Type 1", "Trial Type 2"}) {
      TrialNamed(name)->SetTrialDuration(2000);
      TrialNamed(name)->SetInterTrialInterval(0);
    }
    Pump();
    Click(Find<QPushButton>("shuffleButton"));
    server.connected = false;
    Menu("connectToServerAction");
    TrialNamed("Trial Type 1")->SetTrialDuration(50);
    Click(Find<QPushButton>("startButton"));
    ASSERT_TRUE(
        RunUntil([&] { return Find<QLabel>("currentTrialNumberText")->text() == "2"; }, 10s));
    Pump();
    EXPECT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
    EXPECT_FALSE(Find<QPushButton>("startButton")->isEnabled());
    window->runStatusBar()->Refresh();
    EXPECT_TRUE(window->grab().save(QString::fromLocal8Bit(target)));
    Click(Find<QPushButton>("stopButton"));
  }
}

// ---------------------------------------------------------------------------
// Keyboard

TEST_F(DialogTest, EnterCommitsKeepsFocusAndNeverPressesOrCloses) {
  auto* add = Find<QPushButton>("addTypeButton");
  // Enter on the focused Add Type button does not press it.
  ASSERT_EQ(QApplication::focusWidget(), add);
  QTest::keyClick(add, Qt::Key_Return);
  QTest::keyClick(add, Qt::Key_Enter);
  Pump();
  EXPECT_EQ(trials.GetNumTrials(), 0);
  EXPECT_TRUE(window->isVisible());

  Click(add);
  ASSERT_EQ(trials.GetNumTrials(), 1);
  QLineEdit* duration = Edit("trialDurationEdit");
  duration->setFocus(Qt::OtherFocusReason);
  duration->setText("3000");
  QTest::keyClick(duration, Qt::Key_Return);
  Pump();
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetTrialDuration(), 3000);
  EXPECT_EQ(QApplication::focusWidget(), duration);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->result(), 0);

  // Escape does nothing.
  QTest::keyClick(duration, Qt::Key_Escape);
  QTest::keyClick(add, Qt::Key_Escape);
  Pump();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(trials.GetNumTrials(), 1);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DialogTest, TabMovesOnAndCommitsTheFieldLeft) {
  Click(Find<QPushButton>("addTypeButton"));
  QLineEdit* interval = Edit("interTrialIntervalEdit");
  interval->setFocus(Qt::OtherFocusReason);
  interval->setText("750");
  QTest::keyClick(interval, Qt::Key_Tab);
  Pump();
  EXPECT_NE(QApplication::focusWidget(), interval);
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetInterTrialInterval(), 750);
}

TEST_F(DialogTest, TabFollowsTheLayoutThroughTheEditor) {
  Click(Find<QPushButton>("addTypeButton"));
  for (const char* check : kChecks) Click(Find<QCheckBox>(check));
  Edit("nameEdit")->setFocus(Qt::OtherFocusReason);
  std::vector<std::string> visited;
  for (int i = 0; i < 12; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    Pump();
    visited.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  EXPECT_EQ(visited, (std::vector<std::string>{
                         "trialCountEdit", "trialDurationEdit", "interTrialIntervalEdit",
                         "playWavFileCheck", "browseButton", "wavFileNameEdit",
                         "wavBufferNumberEdit", "wavBoardNumberEdit", "wavSubSystemNameEdit",
                         "startGenerateEventCheck", "startEventStringEdit", "startTtlValueEdit"}));
  EXPECT_TRUE(boxes.boxes().empty());
}

// The whole tab order of the window, from the run's controls through the
// editor to the log: the order in which the parts are laid out.
TEST_F(DialogTest, TabOrderCoversTheWindowInLayoutOrder) {
  std::vector<std::string> chain;
  QWidget* widget = window.get();
  for (int i = 0; i < 200; ++i) {
    widget = widget->nextInFocusChain();
    if (widget == window.get()) break;
    if ((widget->focusPolicy() & Qt::TabFocus) != 0)
      chain.push_back(widget->objectName().toStdString());
  }
  EXPECT_EQ(chain, (std::vector<std::string>{"shuffleTypeCombo",
                                             "shuffleButton",
                                             "maxConsecutiveEdit",
                                             "trialList",
                                             "timingToleranceEdit",
                                             "startButton",
                                             "pauseButton",
                                             "stopButton",
                                             "trialTypeList",
                                             "addTypeButton",
                                             "removeTypeButton",
                                             "nameEdit",
                                             "trialCountEdit",
                                             "trialDurationEdit",
                                             "interTrialIntervalEdit",
                                             "playWavFileCheck",
                                             "browseButton",
                                             "wavFileNameEdit",
                                             "wavBufferNumberEdit",
                                             "wavBoardNumberEdit",
                                             "wavSubSystemNameEdit",
                                             "startGenerateEventCheck",
                                             "startEventStringEdit",
                                             "startTtlValueEdit",
                                             "startGenerateTtlPulseCheck",
                                             "startBitNumberEdit",
                                             "startPulseDurationEdit",
                                             "startBoardNumberEdit",
                                             "startSubSystemNameEdit",
                                             "startWaitForTriggerCheck",
                                             "startTriggerObjectCombo",
                                             "startTriggerObjectEdit",
                                             "startTriggerCountEdit",
                                             "startTriggerWindowEdit",
                                             "startTriggerTimeoutEdit",
                                             "startTriggerOnTimeoutCombo",
                                             "endGenerateEventCheck",
                                             "endEventStringEdit",
                                             "endTtlValueEdit",
                                             "endGenerateTtlPulseCheck",
                                             "endBitNumberEdit",
                                             "endPulseDurationEdit",
                                             "endBoardNumberEdit",
                                             "endSubSystemNameEdit",
                                             "messageLog",
                                             "showDetailsCheck"}));
}

TEST_F(DialogTest, DigitsFieldsRefuseOtherKeystrokes) {
  Click(Find<QPushButton>("addTypeButton"));
  QLineEdit* duration = Edit("trialDurationEdit");
  duration->setFocus(Qt::OtherFocusReason);
  duration->selectAll();
  QTest::keyClicks(duration, "1a2-3 .4");
  EXPECT_EQ(duration->text(), "1234");
  // Text fields take everything.
  QLineEdit* name = Edit("nameEdit");
  name->setFocus(Qt::OtherFocusReason);
  name->selectAll();
  QTest::keyClicks(name, "A-1 b");
  EXPECT_EQ(name->text(), "A-1 b");
}

// ---------------------------------------------------------------------------
// Add Type, Remove Type, selection

TEST_F(DialogTest, AddTypeTwice) {
  auto* add = Find<QPushButton>("addTypeButton");
  auto* types = Find<QListWidget>("trialTypeList");
  Click(add);
  EXPECT_EQ(Entries(types), std::vector<std::string>{"Trial Type 1"});
  EXPECT_EQ(SelectedText(types), "Trial Type 1");
  EXPECT_EQ(window->currentTrialName(), "Trial Type 1");
  EXPECT_TRUE(Find<QPushButton>("removeTypeButton")->isEnabled());
  // The defaults of a new type, with one trial.
  EXPECT_EQ(Edit("nameEdit")->text(), "Trial Type 1");
  EXPECT_EQ(Edit("trialCountEdit")->text(), "1");
  EXPECT_EQ(Edit("trialDurationEdit")->text(), "2000");
  EXPECT_EQ(Edit("interTrialIntervalEdit")->text(), "5000");
  EXPECT_TRUE(Edit("trialCountEdit")->isEnabled());
  EXPECT_TRUE(Find<QLabel>("trialCountLabel")->isEnabled());
  for (const char* check : kChecks) {
    EXPECT_TRUE(Find<QCheckBox>(check)->isEnabled()) << check;
    EXPECT_FALSE(Find<QCheckBox>(check)->isChecked()) << check;
  }
  // Governed fields stay empty and disabled while their boxes are clear.
  EXPECT_FALSE(Edit("startSubSystemNameEdit")->isEnabled());
  EXPECT_TRUE(Edit("startSubSystemNameEdit")->text().isEmpty());
  EXPECT_FALSE(Find<QLabel>("startSubSystemNameLabel")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("browseButton")->isEnabled());
  EXPECT_EQ(Entries(Find<QListWidget>("trialList")), std::vector<std::string>{"1.  Trial Type 1"});

  Click(add);
  EXPECT_EQ(Entries(types), (std::vector<std::string>{"Trial Type 1", "Trial Type 2"}));
  EXPECT_EQ(SelectedText(types), "Trial Type 2");
  EXPECT_EQ(Edit("nameEdit")->text(), "Trial Type 2");
  EXPECT_EQ(window->nextTrialTypeNumber(), 3);
}

TEST_F(DialogTest, AddTypeSkipsANameASetupFileAlreadyUsed) {
  auto* add = Find<QPushButton>("addTypeButton");
  Click(add);  // Trial Type 1; the next number tried is 2
  ASSERT_EQ(window->nextTrialTypeNumber(), 2);
  const std::string setup = dir.WithSeparator() + "type2.cfg";
  std::ofstream(setup, std::ios::binary)
      << "-AddTrial \"Trial Type 2\"\r\n-SetTrialCount \"Trial Type 2\" 2\r\n";
  ASSERT_EQ(config.ProcessScript(setup), 0);
  Pump();
  auto* types = Find<QListWidget>("trialTypeList");
  EXPECT_EQ(SelectedText(types), "Trial Type 2");
  Click(add);
  Click(add);
  EXPECT_EQ(Entries(types), (std::vector<std::string>{"Trial Type 1", "Trial Type 2",
                                                      "Trial Type 3", "Trial Type 4"}));
  EXPECT_EQ(window->nextTrialTypeNumber(), 5);
  // The setup file's count shows when its type is selected.
  types->setCurrentRow(1);
  Pump();
  EXPECT_EQ(Edit("trialCountEdit")->text(), "2");
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DialogTest, RemoveLastSelectsThePreviousAndRemoveOnlyClearsEverything) {
  auto* add = Find<QPushButton>("addTypeButton");
  auto* remove = Find<QPushButton>("removeTypeButton");
  auto* types = Find<QListWidget>("trialTypeList");
  Click(add);
  Click(add);
  Click(add);
  ASSERT_EQ(SelectedText(types), "Trial Type 3");
  Click(remove);
  EXPECT_EQ(Entries(types), (std::vector<std::string>{"Trial Type 1", "Trial Type 2"}));
  EXPECT_EQ(SelectedText(types), "Trial Type 2");
  EXPECT_EQ(Edit("nameEdit")->text(), "Trial Type 2");

  // Removing from the middle keeps the position.
  types->setCurrentRow(0);
  Pump();
  ASSERT_EQ(window->currentTrialName(), "Trial Type 1");
  Click(remove);
  EXPECT_EQ(Entries(types), std::vector<std::string>{"Trial Type 2"});
  EXPECT_EQ(SelectedText(types), "Trial Type 2");

  Click(remove);
  EXPECT_EQ(types->count(), 0);
  EXPECT_FALSE(remove->isEnabled());
  EXPECT_TRUE(window->currentTrialName().empty());
  for (const char* name : kPropertyEdits) {
    EXPECT_TRUE(Edit(name)->text().isEmpty()) << name;
    EXPECT_FALSE(Edit(name)->isEnabled()) << name;
  }
  EXPECT_EQ(Find<QListWidget>("trialList")->count(), 0);
  EXPECT_EQ(trials.GetNumTrials(), 0);
  EXPECT_TRUE(boxes.boxes().empty());

  // Numbering goes on where it stopped.
  Click(add);
  EXPECT_EQ(Entries(types), std::vector<std::string>{"Trial Type 4"});
}

TEST_F(DialogTest, RemoveWithNothingSelectedShowsItsBox) {
  Click(Find<QPushButton>("addTypeButton"));
  auto* types = Find<QListWidget>("trialTypeList");
  {
    const QSignalBlocker blocker(types);
    types->clearSelection();
  }
  Click(Find<QPushButton>("removeTypeButton"));
  ExpectEditorBox(boxes,
                  "Unable to remove item from trial type list, an item is not currently selected.");
  EXPECT_EQ(trials.GetNumTrials(), 1);
  EXPECT_EQ(window->lastMessage(),
            "Unable to remove item from trial type list, an item is not currently selected.");
}

TEST_F(DialogTest, SelectingAnotherTypeShowsItsValues) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QPushButton>("addTypeButton"));
  TrialNamed("Trial Type 1")->SetTrialDuration(1234);
  auto* types = Find<QListWidget>("trialTypeList");
  QTest::mouseClick(types->viewport(), Qt::LeftButton, {},
                    types->visualItemRect(types->item(0)).center());
  Pump();
  EXPECT_EQ(window->currentTrialName(), "Trial Type 1");
  EXPECT_EQ(Edit("trialDurationEdit")->text(), "1234");
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DialogTest, ClickingAnotherTypeCommitsTheFieldForTheTypeBeingEdited) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QPushButton>("addTypeButton"));
  QLineEdit* duration = Edit("trialDurationEdit");
  duration->setFocus(Qt::OtherFocusReason);
  duration->setText("4321");
  auto* types = Find<QListWidget>("trialTypeList");
  QTest::mouseClick(types->viewport(), Qt::LeftButton, {},
                    types->visualItemRect(types->item(0)).center());
  Pump();
  EXPECT_EQ(TrialNamed("Trial Type 2")->GetTrialDuration(), 4321);
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetTrialDuration(), 2000);
  EXPECT_EQ(duration->text(), "2000");
}

// ---------------------------------------------------------------------------
// Field commits

TEST_F(DialogTest, DigitsCommitOfLeadingZerosStoresTheNumber) {
  Click(Find<QPushButton>("addTypeButton"));
  EnterText(Edit("trialDurationEdit"), "0012");
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetTrialDuration(), 12);
  EXPECT_EQ(Edit("trialDurationEdit")->text(), "12");
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DialogTest, EmptyTrialDurationIsRefusedAndRestored) {
  Click(Find<QPushButton>("addTypeButton"));
  QLineEdit* duration = Edit("trialDurationEdit");
  EnterText(duration, "");
  ExpectEditorBox(boxes, kEmptyFieldMessage);
  EXPECT_EQ(window->lastMessage(), kEmptyFieldMessage);
  EXPECT_EQ(duration->text(), "2000");
  EXPECT_EQ(QApplication::focusWidget(), duration);
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetTrialDuration(), 2000);
}

TEST_F(DialogTest, EmptyFieldLeftWithTabGetsTheFocusBack) {
  Click(Find<QPushButton>("addTypeButton"));
  QLineEdit* interval = Edit("interTrialIntervalEdit");
  interval->setFocus(Qt::OtherFocusReason);
  interval->clear();
  QTest::keyClick(interval, Qt::Key_Tab);
  Pump();
  ExpectEditorBox(boxes, kEmptyFieldMessage);
  EXPECT_EQ(interval->text(), "5000");
  EXPECT_EQ(QApplication::focusWidget(), interval);
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetInterTrialInterval(), 5000);
}

TEST_F(DialogTest, TrialCountCommitRebuildsTheOrderAndEmptyIsRefused) {
  Click(Find<QPushButton>("addTypeButton"));
  EnterText(Edit("trialCountEdit"), "3");
  int32_t count = 0;
  ASSERT_EQ(deck.GetNumCardsInSuit(0, count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(Entries(Find<QListWidget>("trialList")),
            (std::vector<std::string>{"1.  Trial Type 1", "2.  Trial Type 1", "3.  Trial Type 1"}));

  EnterText(Edit("trialCountEdit"), "");
  ExpectEditorBox(boxes, kEmptyFieldMessage);
  EXPECT_EQ(Edit("trialCountEdit")->text(), "3");
  EXPECT_EQ(QApplication::focusWidget(), Edit("trialCountEdit"));
  ASSERT_EQ(deck.GetNumCardsInSuit(0, count), 0);
  EXPECT_EQ(count, 3);
}

TEST_F(DialogTest, EmptyEventStringIsAcceptedEmptySubSystemNameIsNot) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QCheckBox>("startGenerateEventCheck"));
  Click(Find<QCheckBox>("startGenerateTtlPulseCheck"));
  Trial* trial = TrialNamed("Trial Type 1");
  EnterText(Edit("startEventStringEdit"), "Stim On");
  EXPECT_EQ(trial->GetStartOfTrialEventString(), "Stim On");
  EnterText(Edit("startEventStringEdit"), "");
  EXPECT_EQ(trial->GetStartOfTrialEventString(), "");
  EXPECT_TRUE(boxes.boxes().empty());

  EXPECT_EQ(Edit("startSubSystemNameEdit")->text(), "VRXBD");
  EnterText(Edit("startSubSystemNameEdit"), "");
  ExpectEditorBox(boxes, kEmptyFieldMessage);
  EXPECT_EQ(trial->GetStartOfTrialTTLPulseSubSystemName(), "VRXBD");
  EXPECT_EQ(Edit("startSubSystemNameEdit")->text(), "VRXBD");

  // Text is stored exactly as typed.
  boxes.Clear();
  EnterText(Edit("startSubSystemNameEdit"), " Dio 2 ");
  EXPECT_EQ(trial->GetStartOfTrialTTLPulseSubSystemName(), " Dio 2 ");
}

TEST_F(DialogTest, EveryFieldWritesItsOwnValue) {
  Click(Find<QPushButton>("addTypeButton"));
  for (const char* check : kChecks) Click(Find<QCheckBox>(check));
  Trial* t = TrialNamed("Trial Type 1");
  EXPECT_TRUE(t->GetPlayWavFile());
  EXPECT_TRUE(t->GetStartOfTrialGenerateEvent());
  EXPECT_TRUE(t->GetStartOfTrialGenerateTTLPulse());
  EXPECT_TRUE(t->GetEndOfTrialGenerateEvent());
  EXPECT_TRUE(t->GetEndOfTrialGenerateTTLPulse());
  int value = 11;
  for (const char* name : kPropertyEdits) {
    if (std::string(name) == "nameEdit" || std::string(name) == "trialCountEdit") continue;
    EnterText(Edit(name), QString::number(value++));
  }
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(t->GetTrialDuration(), 11);
  EXPECT_EQ(t->GetInterTrialInterval(), 12);
  EXPECT_EQ(t->GetWavFileName(), "13");
  EXPECT_EQ(t->GetWavFileBufferNumber(), 14);
  EXPECT_EQ(t->GetWavFileBoardNumber(), 15);
  EXPECT_EQ(t->GetWavFileSubSystemName(), "16");
  EXPECT_EQ(t->GetStartOfTrialEventString(), "17");
  EXPECT_EQ(t->GetStartOfTrialEventTTLValue(), 18);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseBitNumber(), 19);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseDuration(), 20);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseBoardNumber(), 21);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseSubSystemName(), "22");
  EXPECT_EQ(t->GetEndOfTrialEventString(), "23");
  EXPECT_EQ(t->GetEndOfTrialEventTTLValue(), 24);
  EXPECT_EQ(t->GetEndOfTrialTTLPulseBitNumber(), 25);
  EXPECT_EQ(t->GetEndOfTrialTTLPulseDuration(), 26);
  EXPECT_EQ(t->GetEndOfTrialTTLPulseBoardNumber(), 27);
  EXPECT_EQ(t->GetEndOfTrialTTLPulseSubSystemName(), "28");
}

// One digit too many gives the error box and keeps the value; a non-digit
// keystroke is refused where the user sees it.
TEST_F(DialogTest, OverRangeValuesAndRefusedKeystrokesAreSaid) {
  Click(Find<QPushButton>("addTypeButton"));
  QLineEdit* duration = Edit("trialDurationEdit");
  EnterText(duration, "2500");
  EnterText(duration, "21474836470");
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetTrialDuration(), 2500);
  EXPECT_EQ(duration->text(), "2500");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "Unable to set new value, the number is too large for this field (at most "
            "2147483647).  The previous value was not changed.");
  EXPECT_EQ(boxes.boxes()[0].caption, "Trial Type Properties Error");
  EnterText(duration, "2147483647");  // the largest value is taken
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetTrialDuration(), 2147483647);
  EnterText(Edit("trialCountEdit"), "99999999999");
  EXPECT_EQ(Edit("trialCountEdit")->text(), "1");
  EnterText(Edit("maxConsecutiveEdit"), "99999999999");
  EXPECT_EQ(Edit("maxConsecutiveEdit")->text(), "1");
  EXPECT_EQ(boxes.boxes().size(), 3u);

  QString refusal;
  QObject::connect(static_cast<DigitsLineEdit*>(duration), &DigitsLineEdit::inputRefused,
                   [&](const QString& reason) { refusal = reason; });
  duration->setFocus(Qt::OtherFocusReason);
  duration->setText("3");
  duration->end(false);
  QTest::keyClicks(duration, ".5");
  EXPECT_EQ(duration->text(), "35");
  EXPECT_EQ(refusal, "\".\" was not entered: only the digits 0 to 9 can be typed in this field.");
  EXPECT_EQ(window->runStatusBar()->currentMessage(), refusal);
}

TEST_F(DialogTest, UncheckAndRecheckGenerateEventBringsTheStoredValuesBack) {
  Click(Find<QPushButton>("addTypeButton"));
  auto* check = Find<QCheckBox>("endGenerateEventCheck");
  Click(check);
  EnterText(Edit("endEventStringEdit"), "Tone");
  EnterText(Edit("endTtlValueEdit"), "7");
  Click(check);
  EXPECT_FALSE(check->isChecked());
  EXPECT_FALSE(TrialNamed("Trial Type 1")->GetEndOfTrialGenerateEvent());
  EXPECT_TRUE(Edit("endEventStringEdit")->text().isEmpty());
  EXPECT_FALSE(Edit("endEventStringEdit")->isEnabled());
  EXPECT_FALSE(Find<QLabel>("endEventStringLabel")->isEnabled());
  EXPECT_TRUE(Edit("endTtlValueEdit")->text().isEmpty());
  EXPECT_FALSE(Edit("endTtlValueEdit")->isEnabled());
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetEndOfTrialEventString(), "Tone");

  Click(check);
  EXPECT_TRUE(check->isChecked());
  EXPECT_EQ(Edit("endEventStringEdit")->text(), "Tone");
  EXPECT_EQ(Edit("endTtlValueEdit")->text(), "7");
  EXPECT_TRUE(Edit("endTtlValueEdit")->isEnabled());
  EXPECT_TRUE(Find<QLabel>("endTtlValueLabel")->isEnabled());
}

// ---------------------------------------------------------------------------
// Rename

TEST_F(DialogTest, RenameOntoAnotherTypesNameIsRefused) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QPushButton>("addTypeButton"));
  EnterText(Edit("nameEdit"), "Trial Type 1");
  ExpectEditorBox(boxes,
                  "Unable to set new trial type name, the name is already in use.  The previous "
                  "name was not changed.");
  EXPECT_EQ(Edit("nameEdit")->text(), "Trial Type 2");
  EXPECT_EQ(QApplication::focusWidget(), Edit("nameEdit"));
  EXPECT_EQ(trials.GetTrialNames(), (std::vector<std::string>{"Trial Type 1", "Trial Type 2"}));
}

TEST_F(DialogTest, RenameUnchangedEmptyAndSuccessful) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QPushButton>("addTypeButton"));
  EnterText(Edit("nameEdit"), "Trial Type 2");  // unchanged: nothing at all
  EXPECT_TRUE(boxes.boxes().empty());

  EnterText(Edit("nameEdit"), "");
  ExpectEditorBox(boxes,
                  "Unable to set new trial type name, the name cannot be an empty string.  The "
                  "previous name was not changed.");
  EXPECT_EQ(Edit("nameEdit")->text(), "Trial Type 2");
  boxes.Clear();

  // Differs only in case: a different name.
  EnterText(Edit("nameEdit"), "trial type 1");
  EXPECT_TRUE(boxes.boxes().empty());
  auto* types = Find<QListWidget>("trialTypeList");
  EXPECT_EQ(Entries(types), (std::vector<std::string>{"Trial Type 1", "trial type 1"}));
  EXPECT_EQ(SelectedText(types), "trial type 1");
  EXPECT_EQ(window->currentTrialName(), "trial type 1");
  EXPECT_EQ(trials.GetTrialNames(), (std::vector<std::string>{"Trial Type 1", "trial type 1"}));
  EXPECT_EQ(Entries(Find<QListWidget>("trialList")),
            (std::vector<std::string>{"1.  Trial Type 1", "2.  trial type 1"}));
  // The renamed type is still edited.
  EnterText(Edit("trialDurationEdit"), "900");
  EXPECT_EQ(TrialNamed("trial type 1")->GetTrialDuration(), 900);
}

TEST_F(DialogTest, ChangeTrialTypeNameOfAMissingEntryIsLogged) {
  window->ChangeTrialTypeName("Nope", "Other");
  const std::string expected =
      "OrvantaDlg::ChangeTrialTypeName() - Error, unable to find trial name in list, therefore a "
      "change could not be made.  Current Name: Nope, New Name: Other";
  EXPECT_EQ(window->lastMessage(), expected);
  Pump();
  auto* list = Find<QListWidget>("messageLog");
  ASSERT_GE(list->count(), 1);
  const std::string line = list->item(list->count() - 1)->text().toStdString();
  EXPECT_EQ(line.rfind("-*  ERROR  *- ", 0), 0u);
  EXPECT_NE(line.find(expected), std::string::npos);
  EXPECT_TRUE(boxes.boxes().empty());
}

// ---------------------------------------------------------------------------
// Browse

TEST_F(DialogTest, BrowseAcceptStoresTheFullPathAndCancelChangesNothing) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QCheckBox>("playWavFileCheck"));
  auto* browse = Find<QPushButton>("browseButton");
  ASSERT_TRUE(browse->isEnabled());

  files.QueueAnswer(std::string("/data/sounds/tone 1.wav"));
  Click(browse);
  ASSERT_EQ(files.asked().size(), 1u);
  EXPECT_EQ(files.kinds()[0], "open");
  EXPECT_EQ(files.asked()[0].title, "Wav File");
  EXPECT_EQ(files.asked()[0].filter, "Wav Files (*.wav)|*.wav||");
  EXPECT_EQ(files.asked()[0].initialName, "*.wav");
  EXPECT_EQ(files.asked()[0].defaultExtension, "wav");
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetWavFileName(), "/data/sounds/tone 1.wav");
  EXPECT_EQ(Edit("wavFileNameEdit")->text(), "/data/sounds/tone 1.wav");

  files.QueueAnswer(std::nullopt);
  Click(browse);
  EXPECT_EQ(files.asked().size(), 2u);
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetWavFileName(), "/data/sounds/tone 1.wav");
  EXPECT_EQ(Edit("wavFileNameEdit")->text(), "/data/sounds/tone 1.wav");
  EXPECT_TRUE(boxes.boxes().empty());
}

// ---------------------------------------------------------------------------
// Shuffle controls

TEST_F(DialogTest, ShuffleTypeAndMaximumFollowTheDeck) {
  auto* combo = Find<QComboBox>("shuffleTypeCombo");
  combo->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(combo, Qt::Key_Down);  // "Group"
  Pump();
  EXPECT_EQ(deck.GetShuffleType(), Group);
  EXPECT_TRUE(Edit("maxConsecutiveEdit")->text().isEmpty());
  EXPECT_FALSE(Edit("maxConsecutiveEdit")->isEnabled());
  EXPECT_FALSE(Find<QLabel>("maxConsecutiveLabel")->isEnabled());
  QTest::keyClick(combo, Qt::Key_Up);  // "Normal"
  Pump();
  EXPECT_EQ(deck.GetShuffleType(), Normal);
  EXPECT_EQ(Edit("maxConsecutiveEdit")->text(), "1");

  EnterText(Edit("maxConsecutiveEdit"), "3");
  EXPECT_EQ(deck.GetMaxConsectutiveSameSuitCards(), 3);
  EnterText(Edit("maxConsecutiveEdit"), "");
  ExpectEditorBox(boxes, kEmptyFieldMessage);
  EXPECT_EQ(Edit("maxConsecutiveEdit")->text(), "3");
  EXPECT_EQ(deck.GetMaxConsectutiveSameSuitCards(), 3);
  // Zero is refused by the deck; the field shows the limit still in force.
  EnterText(Edit("maxConsecutiveEdit"), "0");
  EXPECT_EQ(deck.GetMaxConsectutiveSameSuitCards(), 3);
  EXPECT_EQ(Edit("maxConsecutiveEdit")->text(), "3");
}

// ---------------------------------------------------------------------------
// Calls from other threads

TEST_F(DialogTest, LogEchoFromAnotherThreadNeverWaitsAndTheListStaysBounded) {
  // The window thread does not run its loop while the writer works: a writer
  // that waited for it would never finish.
  auto writer = std::async(std::launch::async, [this] {
    for (int i = 0; i < 1000; ++i) log.WriteLogEntry(kLogNotice, "entry " + std::to_string(i));
  });
  ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
  Pump();
  auto* list = Find<QListWidget>("messageLog");
  EXPECT_EQ(list->count(), OrvantaDlg::kMaxLogEntries);
  const std::string last = list->item(list->count() - 1)->text().toStdString();
  EXPECT_NE(last.find(" - entry 999"), std::string::npos);
  EXPECT_NE(list->item(0)->text().toStdString().find(" - entry 801"), std::string::npos);
  EXPECT_EQ(list->currentRow(), list->count() - 1);
  EXPECT_TRUE(list->item(list->count() - 1)->isSelected());

  // Every entry still reached the file, in order.
  std::ifstream file(dir.WithSeparator() + "OrvantaLogFile.txt", std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_NE(content.str().find(" - entry 0\r\n"), std::string::npos);
  EXPECT_LT(content.str().find(" - entry 500\r\n"), content.str().find(" - entry 501\r\n"));
}

TEST_F(DialogTest, OneMoreEntryDropsTheOldest) {
  for (int i = 0; i < 199; ++i) window->AddLogMessage("line " + std::to_string(i));
  Pump();
  auto* list = Find<QListWidget>("messageLog");
  ASSERT_EQ(list->count(), 199);
  EXPECT_EQ(list->item(0)->text(), "line 0");
  window->AddLogMessage("line 199");
  Pump();
  EXPECT_EQ(list->count(), 199);
  EXPECT_EQ(list->item(0)->text(), "line 1");
  EXPECT_EQ(list->item(198)->text(), "line 199");
  EXPECT_EQ(list->currentRow(), 198);
}

TEST_F(DialogTest, WorkerCallsAreCarriedOutOnTheWindowThread) {
  trials.AddTrial("A");
  deck.SetNumCardsInSuit(0, 3);
  Pump();
  auto caller = std::async(std::launch::async, [this] {
    for (int n = 1; n <= 3; ++n) {
      mainWindow.Call([n](WindowListener& w) { w.SetCurrentTrialNumber(n); });
    }
  });
  ASSERT_EQ(caller.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(Find<QLabel>("currentTrialNumberText")->text(), "0");  // not yet carried out
  Pump();
  EXPECT_EQ(Find<QLabel>("currentTrialNumberText")->text(), "3");
  EXPECT_EQ(Find<QListWidget>("trialList")->currentRow(), 2);
}

// ---------------------------------------------------------------------------
// Close and destruction

// A run that would last a minute: one trial type, nothing switched on.
void StartLongRun(TrialContainer& trials) {
  ASSERT_EQ(trials.AddTrial("Long"), 0);
  Trial* trial = nullptr;
  ASSERT_EQ(trials.GetTrial("Long", trial), 0);
  trial->SetTrialDuration(60000);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(trials.IsProcessing());
}

TEST_F(DialogTest, CloseWhileConnectedStopsTheRunAndDisconnects) {
  StartLongRun(trials);
  server.connected = true;
  window->close();
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_TRUE(trials.WaitForRunEnd(5s));
  EXPECT_EQ(server.disconnectCalls, 1);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->findChild<QMenuBar*>("menuBar"), nullptr);
}

TEST_F(DialogTest, CloseWhileDisconnectedOnlyAsks) {
  window->close();
  Pump();
  EXPECT_EQ(server.isConnectedCalls, 1);
  EXPECT_EQ(server.disconnectCalls, 0);
  EXPECT_FALSE(window->isVisible());
}

TEST_F(DialogTest, DestroyedWindowStopsTheRunIsUnregisteredAndDropsLateCalls) {
  StartLongRun(trials);
  window->AddLogMessage("queued but never shown");
  DestroyWindow();
  EXPECT_FALSE(mainWindow.IsRegistered());
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_TRUE(trials.WaitForRunEnd(5s));
  // The log and the model keep working without a window.
  EXPECT_EQ(log.WriteLogEntry(kLogNotice, "after the window"), 0);
  EXPECT_EQ(trials.AddTrial("Late"), 0);
  Pump();
}

}  // namespace
}  // namespace orvanta::testing
