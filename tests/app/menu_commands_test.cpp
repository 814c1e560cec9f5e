// The menu commands and the two small dialogs, against the real model, the
// real setup-file runner and writer, and (for the server commands) the
// simulator.
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include <atomic>
#include <fstream>
#include <future>
#include <sstream>

#include "app/small_dialogs.h"
#include "fakes/unused_port.h"
#include "sim_dialog_test.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

void ExpectOneBox(const RecordingMessageBoxes& boxes, const std::string& text,
                  const std::string& caption, BoxIcon icon) {
  const std::vector<ShownBox> shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, text);
  EXPECT_EQ(shown[0].caption, caption);
  EXPECT_EQ(shown[0].icon, icon);
  EXPECT_EQ(shown[0].buttons, BoxButtons::kOk);
}

// ---------------------------------------------------------------------------
// Open and Save Configuration File

TEST_F(DialogTest, OpenConfigurationFileAsksThenLoadsOnTopAndRefreshes) {
  Menu("openConfigurationFileAction");  // cancelled: nothing happens
  ASSERT_EQ(files.asked().size(), 1u);
  EXPECT_EQ(files.kinds()[0], "open");
  EXPECT_EQ(files.asked()[0].title, "Process Configuration File");
  EXPECT_EQ(files.asked()[0].filter, "Configuration Files (*.cfg)|*.cfg||");
  EXPECT_EQ(files.asked()[0].initialName, "*.cfg");
  EXPECT_EQ(files.asked()[0].defaultExtension, "cfg");
  EXPECT_EQ(trials.GetNumTrials(), 0);

  Click(Find<QPushButton>("addTypeButton"));  // Trial Type 1 is there already
  const std::string setup = dir.WithSeparator() + "two types.cfg";
  std::ofstream(setup, std::ios::binary)
      << "#two types\r\n-AddTrial \"Left\"\r\n-SetTrialCount \"Left\" 2\r\n"
         "-AddTrial \"Right\"\r\n-SetTrialDuration \"Right\" 1500\r\n-SetShuffleType Group\r\n";
  files.QueueAnswer(setup);
  Menu("openConfigurationFileAction");
  // Over a setup with a type: Add or Replace (the fake answers Add).
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].buttons, BoxButtons::kAddReplaceCancel);
  boxes.Clear();
  EXPECT_EQ(Entries(Find<QListWidget>("trialTypeList")),
            (std::vector<std::string>{"Trial Type 1", "Left", "Right"}));
  // The last type added is the one shown.
  EXPECT_EQ(window->currentTrialName(), "Right");
  EXPECT_EQ(Edit("trialDurationEdit")->text(), "1500");
  EXPECT_EQ(Find<QListWidget>("trialList")->count(), 4);
  EXPECT_EQ(Find<QComboBox>("shuffleTypeCombo")->currentText(), "Group");
  EXPECT_TRUE(Edit("maxConsecutiveEdit")->text().isEmpty());
  EXPECT_FALSE(Edit("maxConsecutiveEdit")->isEnabled());

  // The same file again: the trial list refuses the existing name, the
  // runner shows its own box, and the list box holds no duplicate.
  files.QueueAnswer(setup);
  Menu("openConfigurationFileAction");
  ASSERT_EQ(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[1].caption, "Configuration File Error");
  EXPECT_EQ(Entries(Find<QListWidget>("trialTypeList")),
            (std::vector<std::string>{"Trial Type 1", "Left", "Right"}));
}

// A second program of its own: model, seams and window.
struct FreshProgram {
  explicit FreshProgram(const std::string& directory)
      : core({clock, boxes, mainWindow, shell}, directory) {
    window = std::make_unique<OrvantaDlg>(core, files, server);
    mainWindow.Register(window.get());
    window->show();
    Pump();
  }
  FixedClock clock;
  RecordingMessageBoxes boxes;
  MainWindowRef mainWindow;
  FakeShellOpener shell;
  FakeFileChooser files;
  FakeServerLink server;
  ProgramCore core;
  LogFile& log = core.log();
  CardDeck& deck = core.deck();
  TrialContainer& trials = core.trials();
  ConfigFileProcessor& config = core.config();
  std::unique_ptr<OrvantaDlg> window;
};

TEST_F(DialogTest, SaveThenOpenInAFreshWindowGivesTheSameSetup) {
  auto* add = Find<QPushButton>("addTypeButton");
  Click(add);
  EnterText(Edit("trialCountEdit"), "3");
  EnterText(Edit("trialDurationEdit"), "1250");
  Click(Find<QCheckBox>("startGenerateEventCheck"));
  EnterText(Edit("startEventStringEdit"), "tone on");
  EnterText(Edit("startTtlValueEdit"), "7");
  Click(add);
  EnterText(Edit("trialCountEdit"), "2");
  Click(Find<QCheckBox>("endGenerateTtlPulseCheck"));
  EnterText(Edit("endBitNumberEdit"), "4");
  EnterText(Edit("maxConsecutiveEdit"), "2");
  Click(Find<QPushButton>("shuffleButton"));

  const std::string saved = dir.WithSeparator() + "saved.cfg";
  files.QueueAnswer(saved);
  Menu("saveConfigurationFileAction");
  ASSERT_EQ(files.asked().size(), 1u);
  EXPECT_EQ(files.kinds()[0], "save");
  EXPECT_EQ(files.asked()[0].title, "Save Setup to Configuration File...");
  EXPECT_EQ(files.asked()[0].filter, "Configuration Files (*.cfg)|*.cfg|");
  EXPECT_EQ(files.asked()[0].initialName, "Orvanta.cfg");
  EXPECT_EQ(files.asked()[0].defaultExtension, "cfg");
  EXPECT_TRUE(boxes.boxes().empty());
  const std::string text = ReadFile(saved);
  ASSERT_EQ(text.rfind("#Orvanta system setup file\r\n", 0), 0u);

  // The saved setup names this window's log; a second program may only take
  // it over once this one has let it go.
  ASSERT_EQ(log.SetLogFilename(dir.WithSeparator() + "later.txt"), 0);
  TempDir otherDir;
  FreshProgram fresh(otherDir.WithSeparator());
  fresh.files.QueueAnswer(saved);
  QAction* open = fresh.window->findChild<QAction*>("openConfigurationFileAction");
  ASSERT_NE(open, nullptr);
  open->trigger();
  Pump();
  EXPECT_TRUE(fresh.boxes.boxes().empty());
  EXPECT_EQ(fresh.trials.GetSetupFileLines(), trials.GetSetupFileLines());
  EXPECT_EQ(fresh.deck.GetSetupFileLines(fresh.trials), deck.GetSetupFileLines(trials));
  EXPECT_EQ(fresh.deck.GetOrder(), deck.GetOrder());
  for (const char* list : {"trialTypeList", "trialList"}) {
    EXPECT_EQ(Entries(fresh.window->findChild<QListWidget*>(list)),
              Entries(Find<QListWidget>(list)))
        << list;
  }
  EXPECT_EQ(fresh.window->findChild<QLineEdit*>("maxConsecutiveEdit")->text(), "2");
  fresh.window.reset();
}

TEST_F(DialogTest, SaveFailureShowsThePathAfterTwoLineBreaks) {
  const std::string path = dir.WithSeparator() + "no such folder/setup.cfg";
  files.QueueAnswer(path);
  Menu("saveConfigurationFileAction");
  ExpectOneBox(boxes, "The application failed to save to: \r\n\r\n" + path,
               "Save Current Settings to File Failed", BoxIcon::kError);
  EXPECT_FALSE(std::filesystem::exists(path));
  // Cancel saves nothing and shows nothing.
  boxes.Clear();
  Menu("saveConfigurationFileAction");
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(DialogTest, SaveWarnsAboutValuesThatWillNotReadBack) {
  ASSERT_EQ(trials.AddTrial("Odd # name"), 0);
  Pump();
  const std::string path = dir.WithSeparator() + "odd.cfg";
  files.QueueAnswer(path);
  Menu("saveConfigurationFileAction");
  EXPECT_TRUE(std::filesystem::exists(path));
  const std::vector<ShownBox> shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Save Current Settings to File");
  EXPECT_EQ(shown[0].icon, BoxIcon::kWarning);
  const std::vector<std::string> warnings = config.FindUnreadableValues();
  ASSERT_FALSE(warnings.empty());
  std::string expected = "The setup was saved to: \r\n\r\n" + path +
                         "\r\n\r\nThese values will not read back the same when the file is "
                         "opened again:\r\n";
  for (const std::string& warning : warnings) expected += "\r\n" + warning;
  EXPECT_EQ(shown[0].text, expected);
  const std::string logText = ReadFile(dir.WithSeparator() + "OrvantaLogFile.txt");
  EXPECT_NE(logText.find("OrvantaDlg::OnSaveConfigurationFile() - Warning, " + warnings[0]),
            std::string::npos);
}

// Run > Fixed Schedule sets the model's timing mode, which Save then writes;
// the check mark follows the model when the menu opens.
TEST_F(DialogTest, FixedScheduleChoiceReachesTheModelAndTheSavedFile) {
  QAction* fixed = window->findChild<QAction*>("fixedScheduleAction");
  ASSERT_NE(fixed, nullptr);
  EXPECT_TRUE(fixed->isCheckable());
  Menu("fixedScheduleAction");
  EXPECT_EQ(trials.GetTimingMode(), TimingMode::kFixed);
  const std::string path = dir.WithSeparator() + "fixed.cfg";
  files.QueueAnswer(path);
  Menu("saveConfigurationFileAction");
  EXPECT_NE(ReadFile(path).find("\r\n-SetTimingMode Fixed\r\n"), std::string::npos);
  Menu("fixedScheduleAction");
  EXPECT_EQ(trials.GetTimingMode(), TimingMode::kRelative);

  trials.SetTimingMode(TimingMode::kFixed);
  QMenu* run = window->findChild<QMenu*>("runMenu");
  ASSERT_NE(run, nullptr);
  emit run->aboutToShow();
  EXPECT_TRUE(fixed->isChecked());
}

// ---------------------------------------------------------------------------
// View Log File

TEST_F(DialogTest, ViewLogFileOpensTheLogAndMapsTheOpenersFailures) {
  Menu("viewLogFileAction");
  ASSERT_EQ(shell.opened(), std::vector<std::string>{dir.WithSeparator() + "OrvantaLogFile.txt"});
  EXPECT_TRUE(boxes.boxes().empty());

  const std::pair<int, const char*> failures[] = {
      {kShellNoAssociation,
       "LogFile::ViewLogFile() - Error, unable to open logfile, there is not a valid file "
       "association."},
      {kShellAccessDenied,
       "LogFile::ViewLogFile() - Error, unable to open logfile, permission was denied."},
      {0, "LogFile::ViewLogFile() - Error, unable to open logfile, call to shell execute failed."}};
  for (const auto& [result, text] : failures) {
    boxes.Clear();
    shell.set_result(result);
    Menu("viewLogFileAction");
    ASSERT_EQ(boxes.boxes().size(), 1u) << result;
    EXPECT_EQ(boxes.boxes()[0].text, text);
    EXPECT_EQ(boxes.boxes()[0].buttons, BoxButtons::kOk);
  }
  EXPECT_NE(ReadFile(dir.WithSeparator() + "OrvantaLogFile.txt")
                .find("LogFile::ViewLogFile() - Error, shell execute failed to open the log file."),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// Vintra menu against the simulator

using ServerMenuTest = SimDialogTest;

TEST_F(ServerMenuTest, ConnectTwiceThenDisconnectTwice) {
  ConnectThroughMenu();
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
  EXPECT_TRUE(client.IsConnected());
  // Negotiated: a message port was asked for first; the computer's name
  // ends the connect.
  const std::vector<std::string> commands = CommandTexts();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[1], "-GetNextAvailablePortNumber");
  EXPECT_EQ(commands.back().rfind("-SetComputerName", 0), 0u);

  const size_t before = CommandTexts().size();
  Menu("connectToServerAction");
  ExpectOneBox(boxes,
               "Error, unable to connect to server, a connection has already been established",
               "Trial Type Properties Error", BoxIcon::kError);
  EXPECT_EQ(window->lastMessage(),
            "Error, unable to connect to server, a connection has already been established");
  EXPECT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
  // Only the connection check went to the server.
  const std::vector<std::string> after = CommandTexts();
  ASSERT_EQ(after.size(), before + 1);
  EXPECT_EQ(after.back().rfind("-SetComputerName", 0), 0u);

  boxes.Clear();
  Menu("disconnectFromServerAction");
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
  EXPECT_FALSE(client.IsConnected());
  Menu("disconnectFromServerAction");
  ExpectOneBox(boxes,
               "Error, unable to disconnect from server, a connection is not currently established",
               "Trial Type Properties Error", BoxIcon::kError);
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
}

TEST_F(ServerMenuTest, FailedConnectKeepsTheTitleAndPointsToTheClientLog) {
  client.SetServerPorts(UnusedPort(), UnusedPort());
  ConnectThroughMenu();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text.rfind("Error, unable to connect to server, please check the "
                                        "Vintra logfile for details.\r\n\r\nThe reason: no "
                                        "connection could be made to 127.0.0.1 on port ",
                                        0),
            0u)
      << boxes.boxes()[0].text;
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(ServerMenuTest, DisconnectDuringARunLeavesTheRunToTheWorker) {
  Click(Find<QPushButton>("addTypeButton"));
  TrialNamed("Trial Type 1")->SetTrialDuration(60000);
  ConnectThroughMenu();
  Click(Find<QPushButton>("startButton"));
  ASSERT_TRUE(RunUntil([&] { return trials.IsProcessing(); }));
  Menu("disconnectFromServerAction");
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
  EXPECT_TRUE(trials.IsProcessing());  // neither command starts or stops a run
  EXPECT_TRUE(window->isRunning());
  Click(Find<QPushButton>("stopButton"));
  EXPECT_FALSE(trials.IsProcessing());
}

// ---------------------------------------------------------------------------
// Set Server Name and its dialog

TEST_F(DialogTest, SetServerNameShowsTheNameCancelKeepsItEmptyIsAccepted) {
  const std::string hostName = window->serverName();
  ASSERT_FALSE(hostName.empty());
  std::string shownName, caption, label;
  int editId = 0, okId = 0, cancelId = 0;
  bool okIsDefault = false;
  WhenModalOpens([&](QWidget* modal) {
    caption = modal->windowTitle().toStdString();
    auto* edit = modal->findChild<QLineEdit*>("serverNameEdit");
    auto* ok = modal->findChild<QPushButton*>("okButton");
    auto* cancel = modal->findChild<QPushButton*>("cancelButton");
    ASSERT_TRUE(edit && ok && cancel);
    shownName = edit->text().toStdString();
    label = modal->findChild<QLabel*>("serverNameLabel")->text().toStdString();
    editId = edit->property("controlId").toInt();
    okId = ok->property("controlId").toInt();
    cancelId = cancel->property("controlId").toInt();
    okIsDefault = ok->isDefault();
    edit->setText("somewhere.else");
    QTest::keyClick(edit, Qt::Key_Escape);  // Cancel
  });
  Menu("setServerNameAction");
  EXPECT_EQ(caption, "Vintra Server Properties");
  EXPECT_EQ(label, "Server Name or IP Address");
  EXPECT_EQ(shownName, hostName);
  EXPECT_EQ(editId, 1001);
  EXPECT_EQ(okId, 1);
  EXPECT_EQ(cancelId, 2);
  EXPECT_TRUE(okIsDefault);
  EXPECT_EQ(window->serverName(), hostName);

  WhenModalOpens([](QWidget* modal) {
    auto* edit = modal->findChild<QLineEdit*>("serverNameEdit");
    edit->clear();
    QTest::mouseClick(modal->findChild<QPushButton*>("okButton"), Qt::LeftButton);
  });
  Menu("setServerNameAction");
  EXPECT_EQ(window->serverName(), "");

  // The next Connect passes the empty name, with port negotiation on; the
  // box gives the reason after its own text.
  server.connectResult = false;
  server.connectError = "the server name \"\" could not be resolved";
  Menu("connectToServerAction");
  EXPECT_EQ(server.connectCalls, std::vector<std::string>{":negotiate"});
  ExpectOneBox(boxes,
               "Error, unable to connect to server, please check the Vintra logfile for "
               "details.\r\n\r\nThe reason: the server name \"\" could not be resolved.",
               "Trial Type Properties Error", BoxIcon::kError);
}

// A reply time-out beyond 24 hours is refused with a box; the dialog stays
// open and the bound in force is kept.
TEST_F(DialogTest, AReplyTimeOutOutOfRangeIsRefusedWithABox) {
  server.replyTimeoutMs = 300;
  bool stillOpen = false;
  WhenModalOpens([&](QWidget* modal) {
    auto* edit = modal->findChild<QLineEdit*>("replyTimeoutEdit");
    auto* ok = modal->findChild<QPushButton*>("okButton");
    ASSERT_TRUE(edit && ok);
    edit->setText("90000000");
    QTest::mouseClick(ok, Qt::LeftButton);
    stillOpen = modal->isVisible();
    EXPECT_EQ(edit->text(), "300");
    QTest::keyClick(edit, Qt::Key_Escape);
  });
  Menu("setServerNameAction");
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(server.replyTimeoutMs, 300);
  ExpectOneBox(boxes, VintraServerPropertiesDlg::kReplyTimeoutRangeMessage,
               "Vintra Server Properties", BoxIcon::kError);
}

// ---------------------------------------------------------------------------
// About

TEST_F(DialogTest, AboutShowsTheVersionBoxUntilOk) {
  std::string caption, version, second;
  bool hasIcon = false, okIsDefault = false, wasModal = false;
  WhenModalOpens([&](QWidget* modal) {
    wasModal = modal->isModal() && modal->inherits("orvanta::CAboutDlg");
    caption = modal->windowTitle().toStdString();
    version = modal->findChild<QLabel*>("aboutVersionText")->text().toStdString();
    second = modal->findChild<QLabel*>("aboutSecondText")->text().toStdString();
    hasIcon = !modal->findChild<QLabel*>("aboutIcon")->pixmap().isNull();
    auto* ok = modal->findChild<QPushButton*>("okButton");
    okIsDefault = ok->isDefault();
    QTest::keyClick(ok, Qt::Key_Return);
  });
  Menu("aboutAction");
  EXPECT_TRUE(wasModal);
  EXPECT_EQ(caption, "About Orvanta");
  EXPECT_EQ(version, "Orvanta Version 1.1.0");
  EXPECT_FALSE(second.empty());
  EXPECT_LT(second.size(), version.size());
  EXPECT_TRUE(hasIcon);
  EXPECT_TRUE(okIsDefault);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// ---------------------------------------------------------------------------
// Waiting for the server without freezing

// Connect blocks until the test lets it go.
class GatedServerLink : public FakeServerLink {
 public:
  bool ConnectToServer(const std::string& name, bool negotiate) override {
    entered = true;
    if (onEnter) onEnter();
    const bool released = gate.wait_for(10s) == std::future_status::ready;
    return FakeServerLink::ConnectToServer(name, negotiate) && released;
  }
  std::atomic<bool> entered{false};
  std::function<void()> onEnter;  // runs on the waiting thread
  std::shared_future<void> gate;
};

class WaitingWindowTest : public DialogTest {
 protected:
  ServerLink& ServerLinkForWindow() override { return gated; }
  GatedServerLink gated;
};

TEST_F(WaitingWindowTest, ConnectKeepsTheWindowAliveAndACloseWaitsForIt) {
  std::promise<void> release;
  gated.gate = release.get_future().share();
  // A log entry written while the window waits: it must still reach the list.
  gated.onEnter = [this] { log.WriteLogEntry(kLogNotice, "written while connecting"); };

  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(2);

  bool lineShown = false, waitCursor = false, stillVisibleAfterClose = false;
  int ticksWhileWaiting = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!gated.entered) return;
    auto* list = window->findChild<QListWidget*>("messageLog");
    for (int i = 0; i < list->count(); ++i) {
      if (list->item(i)->text().endsWith("written while connecting")) lineShown = true;
    }
    if (!lineShown) return;
    probe.stop();
    ticksWhileWaiting = ticks;
    waitCursor = QApplication::overrideCursor() != nullptr &&
                 QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    window->close();  // arrives while the window waits
    stillVisibleAfterClose = window->isVisible();
    release.set_value();
  });
  probe.start(5);
  const int ticksBefore = ticks;
  Menu("connectToServerAction");
  ASSERT_TRUE(RunUntil([&] { return !window->isVisible(); }, 10s));
  probe.stop();
  ticker.stop();

  EXPECT_TRUE(lineShown);
  EXPECT_GT(ticksWhileWaiting, ticksBefore);
  EXPECT_TRUE(waitCursor);
  EXPECT_TRUE(stillVisibleAfterClose);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // The connect finished first, then the close disconnected.
  EXPECT_EQ(gated.connectCalls.size(), 1u);
  EXPECT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
  EXPECT_EQ(gated.disconnectCalls, 1);
}

}  // namespace
}  // namespace orvanta::testing
