// The desktop opener of the window program, with
// small opener scripts standing in for the desktop's.
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/qt_shell_opener.h"
#include "app_test_support.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

class QtShellOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    ASSERT_FALSE(dir.path().empty());
    file = dir.WithSeparator() + "OrvantaLogFile.txt";
    std::ofstream(file) << "log\n";
  }

  // An opener script: records its argument, then runs `body`.
  std::string Opener(const std::string& name, const std::string& body) {
    std::string path = dir.WithSeparator() + name;
    std::ofstream(path) << "#!/bin/sh\necho \"$1\" > \"" << path << ".arg\"\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }

  TempDir dir;
  std::string file;
};

TEST_F(QtShellOpenerTest, ExitStatusesMapToTheShellsResults) {
  const std::pair<const char*, int> cases[] = {{"exit 0", kShellOpenOk},
                                               {"exit 3", kShellNoAssociation},
                                               {"exit 2", kShellFileNotFound},
                                               {"exit 4", 0},
                                               {"kill -9 $$", 0}};
  int n = 0;
  for (const auto& [body, expected] : cases) {
    const std::string opener = Opener("opener" + std::to_string(n++), body);
    QtShellOpener shell(opener, 5s);
    EXPECT_EQ(shell.Open(file), expected) << body;
    std::ifstream arg(opener + ".arg");
    std::string passed;
    std::getline(arg, passed);
    EXPECT_EQ(passed, file) << body;
  }
}

TEST_F(QtShellOpenerTest, MissingFileOrOpenerNeedsNoProcess) {
  const std::string opener = Opener("opener", "exit 0");
  EXPECT_EQ(QtShellOpener(opener).Open(dir.WithSeparator() + "missing.txt"), kShellFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(opener + ".arg"));
  EXPECT_EQ(QtShellOpener(dir.WithSeparator() + "no-such-opener").Open(file), kShellNoAssociation);
}

TEST_F(QtShellOpenerTest, AnOpenerThatKeepsTheViewerInTheForegroundCountsAsOpened) {
  // The script stays until the test lets it end, or its file goes, or 5 s.
  const std::string done = dir.WithSeparator() + "done";
  const std::string opener =
      Opener("foreground", "i=0; while [ ! -e \"" + done +
                               "\" ] && [ -e \"$1\" ] && [ $i -lt 100 ]; do sleep 0.05; "
                               "i=$((i+1)); done");
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(5);
  const auto started = std::chrono::steady_clock::now();
  QtShellOpener shell(opener, 300ms);
  EXPECT_EQ(shell.Open(file), kShellOpenOk);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, 300ms);
  // The window thread kept running its timers while it waited.
  EXPECT_GT(ticks, 5);
  std::ofstream(done) << "";
}

}  // namespace
}  // namespace orvanta::testing
