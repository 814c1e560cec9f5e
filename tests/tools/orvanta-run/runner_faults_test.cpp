// The headless runner against a disk that is full or fills up, and a long
// soak: orvanta-run as a child process, the simulator in this process.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/fault_env.h"
#include "tests/tools/orvanta-run/process_env.h"

namespace orvanta::faults {
namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitSetupFailed = 1;

// The shared fixture's simulator (its echo off) and temp folder; the child
// writes every file.
class RunnerFaultsTest : public ::testing::Test, public testing::ProgramEnv {
 protected:
  RunnerFaultsTest()
      : ProgramEnv(
            Options{.logFile = false, .recordWindow = false, .folderPrefix = "orvanta-faults-"}) {
    simOptions.quiet = true;
    simOptions.record_rate_hz = sim::SimOptions{}.record_rate_hz;
  }

  std::string Path(const std::string& name) const { return folder() + "/" + name; }

  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }

  // A small protocol: `count` trials of `ms` ms with a start event.
  std::string Protocol(int count, int ms) const {
    return "-AddTrial \"Soak\"\n-SetTrialCount \"Soak\" " + std::to_string(count) +
           "\n-SetTrialDuration \"Soak\" " + std::to_string(ms) +
           "\n-SetInterTrialInterval \"Soak\" 0\n-SetStartOfTrialGenerateEvent \"Soak\" true\n"
           "-SetStartOfTrialEventString \"Soak\" \"Go\"\n";
  }

  ProcessResult Runner(std::vector<std::string> args, long fileSizeLimit = 0,
                       std::chrono::milliseconds timeout = 60000ms) {
    args.insert(args.begin(), ORVANTA_RUN_PATH);
    ProcessOptions opt;
    opt.cwd = folder();
    opt.fileSizeLimit = fileSizeLimit;
    opt.timeout = timeout;
    return RunProcess(args, opt);
  }

  std::vector<std::string> ServerArgs() const {
    return {"--server", "127.0.0.1", "--no-negotiate", "--message-port",
            std::to_string(server->message_port())};
  }

  std::vector<std::string> FileNames() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder()))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(RunnerFaultsTest, SavingToAFullDiskFailsWithItsReason) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "needs /dev/full";
  WriteFile("p.cfg", Protocol(3, 1));
  const ProcessResult r =
      Runner({"--dry-run", "--log", Path("log.txt"), "--save", "/dev/full", Path("p.cfg")});
  EXPECT_EQ(r.status, kExitSetupFailed) << r.err;
  EXPECT_NE(r.err.find("orvanta-run: cannot save the setup file /dev/full: "), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
}

TEST_F(RunnerFaultsTest, ADiskThatFillsUpDuringASaveLeavesTheEarlierFileWhole) {
  WriteFile("p.cfg", Protocol(50, 1));
  const std::string earlier = "# the setup saved yesterday\n-AddTrial \"Old\"\n";
  WriteFile("saved.cfg", earlier);
  // The log's header fits under the limit; the setup file does not.
  const ProcessResult r = Runner(
      {"--dry-run", "--log", Path("log.txt"), "--save", Path("saved.cfg"), Path("p.cfg")}, 900);
  EXPECT_EQ(r.status, kExitSetupFailed) << r.err;
  EXPECT_NE(r.err.find("orvanta-run: cannot save the setup file " + Path("saved.cfg") + ": "),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadWholeFile(Path("saved.cfg")), earlier);
  // No temporary file is left behind.
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"log.txt", "p.cfg", "saved.cfg"}));
}

// The log file sits on a full disk: the run still plays every trial, its
// commands reach the server, and the entries still reach standard output.
TEST_F(RunnerFaultsTest, ARunWhoseLogCannotBeWrittenStillRunsEveryTrial) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "needs /dev/full";
  StartSim();
  WriteFile("p.cfg", Protocol(20, 1));
  fs::create_symlink("/dev/full", Path("full.txt"));
  std::vector<std::string> args = ServerArgs();
  for (const char* a : {"--log"}) args.emplace_back(a);
  args.push_back(Path("full.txt"));
  args.push_back(Path("p.cfg"));
  const ProcessResult r = Runner(args);
  EXPECT_EQ(r.status, kExitOk) << r.err;
  // A link is never followed, so the log stays closed.
  EXPECT_NE(r.err.find("orvanta-run: warning: the log file " + Path("full.txt") +
                       " could not be opened: it is a symbolic link, which is not followed; log "
                       "entries are not written to a file"),
            std::string::npos)
      << r.err;
  for (int i = 1; i <= 20; ++i) {
    EXPECT_NE(r.out.find(" - Start Trial #" + std::to_string(i) + "\n"), std::string::npos) << i;
    EXPECT_NE(r.out.find(" - End Trial #" + std::to_string(i) + "\n"), std::string::npos) << i;
  }
  const auto texts = CommandTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "-PostEvent \"Go\" 0 0"), 20);
}

// The timeline file sits on a full disk: the runner refuses to start the
// run (exit status 1) rather than run without its timeline, and sends
// nothing to the server.
TEST_F(RunnerFaultsTest, ATimelineOnAFullDiskIsRefusedBeforeTheRun) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "needs /dev/full";
  StartSim();
  WriteFile("p.cfg", Protocol(5, 1));
  std::vector<std::string> args = ServerArgs();
  for (const std::string& a : {std::string("--quiet"), std::string("--log"), Path("log.txt"),
                               std::string("--timeline"), std::string("/dev/full"), Path("p.cfg")})
    args.push_back(a);
  const ProcessResult r = Runner(args);
  EXPECT_EQ(r.status, kExitSetupFailed);
  EXPECT_NE(r.err.find("cannot write the timeline file /dev/full: it is not a regular file"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Received(), 0);
}

// 10,000 trials of 1 ms, each with a start event: every "Start Trial" and
// "End Trial" line is in the log, in order, and every event reached the
// server in order.
TEST_F(RunnerFaultsTest, SoakOfTenThousandTrialsLogsEveryTrialInOrder) {
  constexpr int kTrials = 10000;
  StartSim();
  WriteFile("p.cfg", Protocol(kTrials, 1));
  std::vector<std::string> args = ServerArgs();
  for (const std::string& a :
       {std::string("--quiet"), std::string("--log"), Path("log.txt"), Path("p.cfg")})
    args.push_back(a);
  const auto start = SteadyClock::now();
  const ProcessResult r = Runner(args, 0, 120000ms);
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const long long ms = MillisSince(start);
  RecordProperty("soak_ms", std::to_string(ms));

  const auto texts = faults::LogTexts(Path("log.txt"));
  int next = 1;
  bool inTrial = false;
  size_t misplaced = 0;
  for (const auto& t : texts) {
    if (t.rfind("Start Trial #", 0) == 0) {
      if (inTrial || t != "Start Trial #" + std::to_string(next)) ++misplaced;
      inTrial = true;
    } else if (t.rfind("End Trial #", 0) == 0) {
      if (!inTrial || t != "End Trial #" + std::to_string(next)) ++misplaced;
      inTrial = false;
      ++next;
    }
  }
  EXPECT_EQ(misplaced, 0u);
  EXPECT_EQ(next, kTrials + 1);

  // The server saw the events one per trial, numbered in order.
  int events = 0;
  bool ordered = true;
  for (const testing::TranscriptLine& c : Commands()) {
    if (c.text != "-PostEvent \"Go\" 0 0") continue;
    ++events;
    if (c.note.rfind("event " + std::to_string(events) + " ", 0) != 0) ordered = false;
  }
  EXPECT_EQ(events, kTrials);
  EXPECT_TRUE(ordered);
}

}  // namespace
}  // namespace orvanta::faults
