// Start-up: the program-wide objects and OrvantaApp::InitInstance.
#include <QTimer>

#include <unistd.h>

#include "app/orvanta_app.h"
#include "app_test_support.h"

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
  ProgramObjects objects({clock, boxes, mainWindow, shell, files});
  objects.app.SetSocketStartup([] { return 10091; });
  bool windowCreated = false;
  objects.app.SetWindowCreatedHook([&](OrvantaDlg&) { windowCreated = true; });
  EXPECT_FALSE(objects.app.InitInstance());
  EXPECT_FALSE(windowCreated);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "Windows sockets initialization failed.");
  EXPECT_EQ(boxes.boxes()[0].buttons, BoxButtons::kOk);
  EXPECT_TRUE(objects.gApplicationDirectory.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.WithSeparator() + "OrvantaLogFile.txt"));
}

TEST_F(StartUpTest, StartUpRunsTheWindowModallyWithItsLogInTheWorkingDirectory) {
  ProgramObjects objects({clock, boxes, mainWindow, shell, files});
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
  EXPECT_EQ(objects.gApplicationDirectory, dir.WithSeparator());
  EXPECT_TRUE(std::filesystem::exists(dir.WithSeparator() + "OrvantaLogFile.txt"));
  EXPECT_TRUE(boxes.boxes().empty());
  // The objects work on after the window has gone.
  EXPECT_EQ(objects.trials.AddTrial("After"), 0);
}

}  // namespace
}  // namespace orvanta::testing
