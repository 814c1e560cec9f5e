// The window against a simulator that fails: a silent server during the
// connect (the wait dialog, Cancel, a close request), a connection lost
// during a run, and Disconnect and Connect after a dead connection.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "sim_dialog_test.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

class ServerTroubleTest : public SimDialogTest {
 protected:
  // Restarts the simulator with the fault switches set in simOptions.
  void SetUpSim() {
    sim->Stop();
    sim = std::make_unique<sim::SimServer>(simOptions, transcript);
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;
    client.SetServerPorts(sim->negotiation_port(), sim->message_port());
  }

  // Chooses Connect To Server; once the wait dialog shows, checks that the
  // window still runs its timers and then does `act` to it.
  void ConnectAndWhileWaiting(const std::function<void(QWidget*)>& act) {
    SetServerName("127.0.0.1");
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    WhenModalOpens([&](QWidget* modal) {
      ASSERT_EQ(modal->objectName().toStdString(), "serverWaitDialog");
      auto* text = modal->findChild<QLabel*>("serverWaitText");
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(text->text().toStdString(), "Connecting to 127.0.0.1\u2026");
      EXPECT_NE(modal->findChild<QLabel*>("serverWaitElapsed"), nullptr);
      const int before = ticks;
      QTimer::singleShot(300, modal, [&, modal, before] {
        EXPECT_GT(ticks, before) << "the window's event loop stood still";
        act(modal);
      });
    });
    const auto start = std::chrono::steady_clock::now();
    Menu("connectToServerAction");
    waited = std::chrono::steady_clock::now() - start;
  }

  // Adds a type of `count` trials with a start event, connects and starts.
  void ConnectAndRun(int count) {
    Click(Find<QPushButton>("addTypeButton"));
    Trial* t = TrialNamed("Trial Type 1");
    ASSERT_NE(t, nullptr);
    t->SetStartOfTrialGenerateEvent(true);
    t->SetTrialDuration(10);
    t->SetInterTrialInterval(10);
    EnterText(Edit("trialCountEdit"), QString::number(count));
    ConnectThroughMenu();
    ASSERT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
    Click(Find<QPushButton>("startButton"));
    ASSERT_TRUE(trials.WaitForRunEnd(10000ms));
    ASSERT_TRUE(RunUntil([&] { return !window->isRunning(); }));
    Pump();
  }

  bool LogListHas(const std::string& piece) {
    for (const std::string& line : Entries(Find<QListWidget>("messageLog"))) {
      if (line.find(piece) != std::string::npos) return true;
    }
    return false;
  }

  std::chrono::steady_clock::duration waited{};
};

TEST_F(ServerTroubleTest, SilentServerTheWindowStaysResponsiveAndCancelEndsTheConnect) {
  simOptions.reply_delay_ms = 60000;
  SetUpSim();
  ConnectAndWhileWaiting([](QWidget* modal) {
    QTest::mouseClick(modal->findChild<QPushButton*>("serverWaitCancel"), Qt::LeftButton);
  });
  EXPECT_LT(waited, 10s);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text,
            "Error, unable to connect to server, please check the Vintra logfile for "
            "details.\r\n\r\nThe reason: the connection attempt was cancelled.");
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
  EXPECT_FALSE(client.HasConnection());
  EXPECT_TRUE(
      LogListHas("OrvantaDlg::OnConnectToServer() - Error, unable to connect to server "
                 "127.0.0.1: the connection attempt was cancelled"));
}

// Cancelling a slow connection check ends the wait and nothing else: the
// connection, the title and the log stay as they were, and no connect follows.
TEST_F(ServerTroubleTest, CancellingASlowConnectionCheckLeavesTheConnectionAsItIs) {
  simOptions.fault_command = "-SetComputerName";
  simOptions.late_reply = {2, 3000};  // the check's, after the connect's own
  SetUpSim();
  ConnectThroughMenu();
  ASSERT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
  WhenModalOpens([](QWidget* modal) {
    QTimer::singleShot(100, modal, [modal] {
      QTest::mouseClick(modal->findChild<QPushButton*>("serverWaitCancel"), Qt::LeftButton);
    });
  });
  Menu("connectToServerAction");  // checks the connection first
  EXPECT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
  EXPECT_FALSE(LogListHas("has been lost"));
  EXPECT_TRUE(client.HasConnection());
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
}

TEST_F(ServerTroubleTest, SilentServerACloseRequestCancelsTheWaitAndCloses) {
  simOptions.reply_delay_ms = 60000;
  SetUpSim();
  ConnectAndWhileWaiting([this](QWidget*) { window->close(); });
  EXPECT_LT(waited, 10s);
  EXPECT_TRUE(RunUntil([&] { return !window->isVisible(); }));
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
  EXPECT_FALSE(client.HasConnection());
}

// The server hangs up after the first trial's event: the run ends as a
// failure with its box, the title stops claiming a connection, and Connect
// works again at once.
TEST_F(ServerTroubleTest, LostConnectionDuringARunTheTitleTheBoxAndConnectAgain) {
  simOptions.fault_command = "-PostEvent";
  simOptions.close_after_n = 1;
  SetUpSim();
  // What the window shows when the box comes up: read on the window thread
  // behind everything queued before the box, as a real box is shown there.
  std::string titleAtBox, stateAtBox, connectionAtBox;
  boxes.onShow = [&](const std::string&) {
    QMetaObject::invokeMethod(
        window.get(),
        [&] {
          titleAtBox = window->windowTitle().toStdString();
          stateAtBox = Find<QLabel>("statusRunState")->text().toStdString();
          connectionAtBox = Find<QLabel>("statusConnection")->text().toStdString();
        },
        Qt::QueuedConnection);
  };
  ConnectAndRun(3);
  boxes.onShow = nullptr;
  EXPECT_EQ(titleAtBox, "Orvanta - Disconnected From Server");
  EXPECT_EQ(stateAtBox, "Failed");
  EXPECT_EQ(connectionAtBox, "Not connected");
  ASSERT_EQ(boxes.texts().size(), 1u);
  EXPECT_EQ(boxes.texts()[0].rfind("Trial processing ended at trial #2, the connection to "
                                   "Quorvin was lost: ",
                                   0),
            0u)
      << boxes.texts()[0];
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
  EXPECT_EQ(Find<QLabel>("statusRunState")->text(), "Failed");
  EXPECT_TRUE(LogListHas(
      "OrvantaDlg::MarkConnectionLost() - Warning, the connection to the server has been lost"));
  boxes.Clear();
  Menu("connectToServerAction");
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
}

// A missing reply on a connection that holds: the run goes on, and ends failed.
TEST_F(ServerTroubleTest, AMissingReplyTheRunGoesOnAndEndsFailed) {
  simOptions.fault_command = "-PostEvent";
  simOptions.no_reply_nth = 1;
  SetUpSim();
  client.SetReplyTimeout(500ms);
  ConnectAndRun(2);
  ASSERT_EQ(boxes.texts().size(), 1u);
  // The reply never comes, so the next command is not sent either.
  EXPECT_EQ(boxes.texts()[0].rfind("Trials completed with errors, 2 commands failed.", 0), 0u)
      << boxes.texts()[0];
  EXPECT_EQ(Find<QLabel>("statusRunState")->text(), "Failed");
  EXPECT_EQ(window->windowTitle(), "Orvanta - Connected To Server");
}

// A broken reply leaves the connection up but out of step: Disconnect tears
// it down (socket and stream threads) without the "not established" box.
TEST_F(ServerTroubleTest, DisconnectAfterADeadConnectionTearsItDown) {
  simOptions.fault_command = "-PostEvent";
  simOptions.bad_validation_nth = 1;
  SetUpSim();
  ConnectAndRun(2);
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
  ASSERT_TRUE(client.HasConnection());
  boxes.Clear();
  Menu("disconnectFromServerAction");
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(window->windowTitle(), "Orvanta - Disconnected From Server");
  EXPECT_FALSE(client.HasConnection());
  EXPECT_FALSE(client.GetNetworkNodeClient().StreamsInitialized());
  for (int i = 0; i < NetworkNodeClient::kStreamCount; ++i) {
    EXPECT_FALSE(client.GetNetworkNodeClient().Stream(i).IsSetUp()) << i;
  }
}

}  // namespace
}  // namespace orvanta::testing
