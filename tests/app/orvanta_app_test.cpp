// Start-up: the program-wide objects and OrvantaApp::InitInstance.
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/orvanta_app.h"
#include "app_test_support.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::testing {
namespace {

// Runs a test body with the working directory set to a fresh folder.
class StartUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    ASSERT_FALSE(dir.path().empty());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  TempDir dir;
  FixedClock clock;
  RecordingMessageBoxes boxes;
  MainWindowRef mainWindow;
  FakeShellOpener shell;
  FakeFileChooser files;

 private:
  std::filesystem::path previous_;
};

TEST_F(StartUpTest, SocketLayerFailureShowsItsBoxAndCreatesNoWindow) {
  ProgramObjects objects({{clock, boxes, mainWindow, shell}, files});
  objects.app.SetSocketStartup([] { return 10091; });
  bool windowCreated = false;
  objects.app.SetWindowCreatedHook([&](OrvantaDlg&) { windowCreated = true; });
  EXPECT_FALSE(objects.app.InitInstance());
  EXPECT_FALSE(windowCreated);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "Windows sockets initialization failed.");
  EXPECT_EQ(boxes.boxes()[0].buttons, BoxButtons::kOk);
  EXPECT_TRUE(objects.core.applicationDirectory().empty());
  EXPECT_FALSE(std::filesystem::exists(dir.WithSeparator() + "OrvantaLogFile.txt"));
}

TEST_F(StartUpTest, StartUpRunsTheWindowModallyWithItsLogInTheWorkingDirectory) {
  ProgramObjects objects({{clock, boxes, mainWindow, shell}, files});
  bool registeredWhileShown = false;
  std::string title;
  objects.app.SetWindowCreatedHook([&](OrvantaDlg& window) {
    QTimer::singleShot(0, &window, [&] {
      registeredWhileShown = mainWindow.IsRegistered();
      title = window.windowTitle().toStdString();
      EXPECT_TRUE(window.isModal());
      window.close();
    });
    // A bound for a broken close: the test fails instead of hanging.
    QTimer::singleShot(10000, &window, [&window] { window.reject(); });
  });
  EXPECT_FALSE(objects.app.InitInstance());
  EXPECT_TRUE(registeredWhileShown);
  EXPECT_EQ(title, "Orvanta - Disconnected From Server");
  EXPECT_FALSE(mainWindow.IsRegistered());
  EXPECT_EQ(objects.core.applicationDirectory(),
            dir.path() + std::string(1, std::filesystem::path::preferred_separator));
  EXPECT_TRUE(std::filesystem::exists(dir.WithSeparator() + "OrvantaLogFile.txt"));
  EXPECT_TRUE(boxes.boxes().empty());
  // Settings are kept under the program's own name.
  EXPECT_EQ(QCoreApplication::organizationName(), "Orvanta");
  EXPECT_EQ(QCoreApplication::applicationName(), "Orvanta");
  // The objects work on after the window has gone.
  EXPECT_EQ(objects.core.trials().AddTrial("After"), 0);
}

TEST_F(StartUpTest, ClosingMidRunStopsTheRunThenDisconnectsFromTheServer) {
  sim::SimOptions options;
  options.negotiation_enabled = false;
  options.negotiation_port = 0;
  options.message_port = 0;
  options.record_rate_hz = 1;
  sim::Transcript transcript;
  sim::TranscriptConfig transcriptConfig;
  transcriptConfig.keep_lines = true;
  std::string error;
  ASSERT_TRUE(transcript.Open(transcriptConfig, &error)) << error;
  sim::SimServer server(options, transcript);
  ASSERT_TRUE(server.Start(&error)) << error;
  {
    ProgramObjects objects({{clock, boxes, mainWindow, shell}, files});
    bool connected = false;
    bool running = false;
    objects.app.SetWindowCreatedHook([&](OrvantaDlg& window) {
      QTimer::singleShot(0, &window, [&] {
        connected =
            objects.core.client().ConnectToServer("127.0.0.1", false, 0, server.message_port());
        TrialContainer& trials = objects.core.trials();
        Trial* trial = nullptr;
        if (trials.AddTrial("Long") == 0 && trials.GetTrial("Long", trial) == 0) {
          trial->SetTrialDuration(60000);
          running = trials.StartProcessingTrials() == 0 && trials.IsProcessing();
        }
        window.close();
      });
      QTimer::singleShot(20000, &window, [&window] { window.reject(); });
    });
    objects.app.InitInstance();
    EXPECT_TRUE(connected);
    EXPECT_TRUE(running);
    EXPECT_FALSE(objects.core.trials().IsProcessing());
    EXPECT_FALSE(objects.core.client().IsConnected());
  }
  // The server sees the client go (its connection thread notices in its own
  // time, so wait for it, with a bound).
  bool closedByClient = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!closedByClient && std::chrono::steady_clock::now() < deadline) {
    for (const std::string& line : transcript.Lines()) {
      if (line.find("closed by client") != std::string::npos) closedByClient = true;
    }
    if (!closedByClient) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  server.Stop();
  EXPECT_TRUE(closedByClient);
}

}  // namespace
}  // namespace orvanta::testing
