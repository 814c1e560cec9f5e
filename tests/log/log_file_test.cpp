#include "log/log_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fakes.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

const LocalTime kMorning{2009, 3, 7, 9, 5, 3, 7};  // 3/7/2009 9:05:03.007

// A fresh folder for one test, removed with everything in it afterwards.
struct TempDir {
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "orvanta-log-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

std::string Header(const std::string& path) {
  return "Veltrix Base Log File Opened - File Name:  " + path +
         "\r\nTime Opened: (m/d/y)  3/7/2009 at time 9:5:3.7\r\n";
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFileTest() : clock_(kMorning) { window_ref_.Register(&window_); }

  TempDir dir_;  // declared first: outlives the log's open file
  testing::FixedClock clock_;
  testing::RecordingMessageBoxes boxes_;
  testing::RecordingWindow window_;
  MainWindowRef window_ref_;
  testing::FakeShellOpener shell_;
  LogFile log_{clock_, boxes_, window_ref_, shell_};
};

TEST_F(LogFileTest, TagsAndZeroPaddedTimeStamps) {
  const char* tags[] = {"-*  FATAL  *- ", "-*  ERROR  *- ", "-* WARNING *- ", "-* NOTICE  *- ",
                        "-*  DATA   *- ", "-*  DEBUG  *- ", "-* UNKNOWN *- "};
  for (int level = 0; level <= 6; ++level) EXPECT_EQ(LogFile::GetLevelTag(level), tags[level]);
  EXPECT_EQ(LogFile::GetLevelTag(-1), tags[6]);
  EXPECT_EQ(log_.GetTimeStamp(), " 09:05:03.007");
  clock_.Set({2024, 12, 31, 14, 3, 7, 45});
  EXPECT_EQ(log_.GetTimeStamp(), " 14:03:07.045");
  clock_.Set({2024, 1, 1, 0, 0, 0, 100});
  EXPECT_EQ(log_.GetTimeStamp(), " 00:00:00.100");
}

TEST_F(LogFileTest, HeaderEntriesAndEchoAreExact) {
  ASSERT_EQ(log_.SetLogFilename(dir_ / "run.log"), 0);
  EXPECT_TRUE(log_.IsOpen());
  EXPECT_EQ(log_.GetFilePath(), dir_ / "run.txt");
  EXPECT_EQ(log_.WriteLogEntry(kLogNotice, "hello"), 0);
  EXPECT_EQ(log_.WriteLogEntry(9, "odd level"), 0);
  EXPECT_EQ(log_.WriteLogEntry(kLogDebug, "dropped"), 0);  // neither written nor echoed
  EXPECT_EQ(ReadFile(dir_ / "run.txt"), Header(dir_ / "run.txt") +
                                            "-* NOTICE  *-  09:05:03.007 - hello\r\n"
                                            "-* UNKNOWN *-  09:05:03.007 - odd level\r\n");
  // The header is not echoed; entries are, without their line end.
  EXPECT_EQ(window_.log_lines(),
            (std::vector<std::string>{"-* NOTICE  *-  09:05:03.007 - hello",
                                      "-* UNKNOWN *-  09:05:03.007 - odd level"}));
}

TEST_F(LogFileTest, ClosedLogStillEchoes) {
  EXPECT_EQ(log_.WriteLogEntry(kLogError, "nowhere"), -1);
  EXPECT_EQ(window_.log_lines(), std::vector<std::string>{"-*  ERROR  *-  09:05:03.007 - nowhere"});
  window_ref_.Unregister();
  EXPECT_EQ(log_.WriteLogEntry(kLogError, "no window"), -1);
  EXPECT_EQ(window_.log_lines().size(), 1u);
}

TEST_F(LogFileTest, AbsolutePathsKeepTheirDirectory) {
  struct Case {
    std::string given, opened;
  } cases[] = {
      {dir_.path + "/", dir_ / "QuorvinLogFile.txt"},  // no name yet: the default name
      {dir_ / "a.log", dir_ / "a.txt"},
      {dir_ / "b", dir_ / "b.txt"},
      {dir_ / "c.d.txt", dir_ / "c.d.txt"},
      // Backslashes separate too: the dot of "x.y" is not the extension.
      {dir_ / "e\\x.y\\run", dir_ / "e\\x.y\\run.txt"},
      {dir_ / "f\\", dir_ / "f\\run.txt"},  // no name part: the earlier name
  };
  for (const Case& c : cases) {
    ASSERT_EQ(log_.SetLogFilename(c.given), 0) << c.given;
    EXPECT_EQ(log_.GetFilePath(), c.opened);
    EXPECT_TRUE(fs::exists(c.opened)) << c.opened;
  }
}

// Relative paths lose their directory and land in the current directory.
TEST_F(LogFileTest, RelativePathsLoseTheirDirectory) {
  const fs::path old_cwd = fs::current_path();
  fs::current_path(dir_.path);
  const std::pair<std::string, std::string> cases[] = {
      {"run.log", "run.txt"},
      {"logs/other.txt", "other.txt"},
      {"logs\\third", "third.txt"},
      {"C:fourth.txt", "fourth.txt"},
      {"C:\\logs\\fifth.log", "C:\\logs\\fifth.txt"},  // a drive and a directory are kept
  };
  for (const auto& [given, opened] : cases) {
    EXPECT_EQ(log_.SetLogFilename(given), 0);
    EXPECT_EQ(log_.GetFilePath(), opened);
    EXPECT_TRUE(fs::exists(dir_ / opened)) << opened;
  }
  fs::current_path(old_cwd);
}

TEST_F(LogFileTest, SamePathIsANoOpAndSwitchingClosesTheOldFile) {
  const std::string a = dir_ / "a.txt", b = dir_ / "b.txt";
  ASSERT_EQ(log_.SetLogFilename(a), 0);
  log_.WriteLogEntry(kLogNotice, "one");
  ASSERT_EQ(log_.SetLogFilename(a), 0);
  EXPECT_EQ(log_.SetLogFilename(""), -1);  // refused and logged; the file stays open
  ASSERT_EQ(log_.SetLogFilename(b), 0);
  EXPECT_EQ(ReadFile(a), Header(a) +
                             "-* NOTICE  *-  09:05:03.007 - one\r\n"
                             "-*  ERROR  *-  09:05:03.007 - LogFile::SetLogFilename() - Error, "
                             "invalid parameter, filename string is empty.\r\n"
                             "Log File Closed - End of File\r\n\r\n");
  EXPECT_EQ(ReadFile(b), Header(b));
  EXPECT_TRUE(boxes_.boxes().empty());
}

// A file that cannot be had leaves the earlier log open and in use, says why
// in it and shows the box.
TEST_F(LogFileTest, FileThatCannotBeOpenedKeepsTheOldLogAndSaysSo) {
  ASSERT_EQ(log_.SetLogFilename(dir_ / "a.txt"), 0);
  const std::string missing = dir_ / "no-such-dir/run.txt";
  EXPECT_EQ(log_.SetLogFilename(missing), 0);
  EXPECT_TRUE(log_.IsOpen());
  EXPECT_EQ(log_.GetFilePath(), dir_ / "a.txt");
  EXPECT_EQ(log_.GetSetupFileLines(), "-SetLogFile \"" + (dir_ / "a.txt") + "\"\r\n\r\n\r\n");
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].text, "Error openning filename: " + missing +
                                        ", file may be invalid, please check the filename ");
  const std::vector<LogOpenFailure> failures = log_.TakeOpenFailures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].path, missing);
  EXPECT_EQ(failures[0].failure.kind, OutputFileFailure::kCannotCreate);
  EXPECT_EQ(failures[0].keptPath, dir_ / "a.txt");
  EXPECT_EQ(log_.WriteLogEntry(kLogNotice, "still here"), 0);
  EXPECT_EQ(ReadFile(dir_ / "a.txt"),
            Header(dir_ / "a.txt") +
                "-*  ERROR  *-  09:05:03.007 - LogFile::OpenLogFile() - Error, unable to open the "
                "log file " +
                missing + ", its folder does not exist.  Logging goes on in " + (dir_ / "a.txt") +
                ".\r\n-* NOTICE  *-  09:05:03.007 - still here\r\n");
  // A name-only switch after the failure still keeps the earlier folder.
  ASSERT_EQ(log_.SetLogFilename(dir_ / "b.txt"), 0);
  EXPECT_EQ(log_.GetFilePath(), dir_ / "b.txt");
}

// A file that opens but cannot take a line (a full device) is refused with a
// box. The next good file must be written normally: a failure on one file
// never silences the files opened after it.
TEST_F(LogFileTest, BrokenFileIsReportedAndTheNextFileStartsClean) {
  ASSERT_EQ(log_.SetLogFilename(dir_ / "a.txt"), 0);
  // No file may grow at all meanwhile: the new log's header cannot be written.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
  const int result = log_.SetLogFilename(dir_ / "full.txt");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(log_.IsOpen());
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].text, "Error openning filename: " + (dir_ / "full.txt") +
                                        ", file may be invalid, please check the filename ");
  EXPECT_EQ(boxes_.boxes()[0].caption, kDefaultBoxCaption);
  EXPECT_EQ(boxes_.boxes()[0].buttons, BoxButtons::kOk);

  ASSERT_EQ(log_.SetLogFilename(dir_ / "good.txt"), 0);
  EXPECT_EQ(log_.WriteLogEntry(kLogNotice, "kept"), 0);
  EXPECT_EQ(ReadFile(dir_ / "good.txt"),
            Header(dir_ / "good.txt") + "-* NOTICE  *-  09:05:03.007 - kept\r\n");
}

TEST_F(LogFileTest, ViewLogFileMapsShellResults) {
  ASSERT_EQ(log_.SetLogFilename(dir_ / "a.txt"), 0);
  shell_.set_result(kShellOpenOk);
  EXPECT_EQ(log_.ViewLogFile(), 0);
  EXPECT_EQ(shell_.opened(), std::vector<std::string>{dir_ / "a.txt"});
  EXPECT_TRUE(boxes_.boxes().empty());

  const std::pair<int, std::string> failures[] = {
      {kShellNoAssociation, "there is not a valid file association."},
      {kShellAccessDenied, "permission was denied."},
      {kShellFileNotFound, "call to shell execute failed."},
  };
  for (const auto& [result, ending] : failures) {
    boxes_.Clear();
    shell_.set_result(result);
    EXPECT_EQ(log_.ViewLogFile(), 0);
    EXPECT_EQ(SplitCrLf(ReadFile(dir_ / "a.txt")).back(),
              "-*  ERROR  *-  09:05:03.007 - LogFile::ViewLogFile() - Error, shell execute failed "
              "to open the log file.");
    EXPECT_EQ(boxes_.texts(),
              std::vector<std::string>{"LogFile::ViewLogFile() - Error, unable to open logfile, " +
                                       ending});
  }
}

TEST_F(LogFileTest, SetupLinesAndCloseAtExit) {
  const std::string path = dir_ / "exit.txt";
  {
    LogFile log(clock_, boxes_, window_ref_, shell_);
    ASSERT_EQ(log.SetLogFilename(path), 0);
    EXPECT_EQ(log.GetSetupFileLines(), "-SetLogFile \"" + path + "\"\r\n\r\n\r\n");
    log.WriteLogEntry(kLogNotice, "last");
  }
  // No closing line at exit.
  EXPECT_EQ(ReadFile(path), Header(path) + "-* NOTICE  *-  09:05:03.007 - last\r\n");
}

// Two threads write at once: no line is torn, and the window sees the
// entries in exactly the file's order.
TEST_F(LogFileTest, ConcurrentWritersNeverInterleave) {
  ASSERT_EQ(log_.SetLogFilename(dir_ / "mt.txt"), 0);
  constexpr int kEntries = 2000;
  auto writer = [this](const std::string& who) {
    for (int i = 0; i < kEntries; ++i)
      log_.WriteLogEntry(kLogNotice, who + " " + std::to_string(i));
  };
  std::thread a(writer, "A"), b(writer, "B");
  a.join();
  b.join();

  std::vector<std::string> lines = SplitCrLf(ReadFile(dir_ / "mt.txt"));
  ASSERT_EQ(lines.size(), 2u + 2 * kEntries);
  lines.erase(lines.begin(), lines.begin() + 2);
  EXPECT_EQ(lines, window_.log_lines());
  int next[2] = {0, 0};
  for (const std::string& line : lines) {
    ASSERT_EQ(line.rfind("-* NOTICE  *-  09:05:03.007 - ", 0), 0u) << line;
    const std::string text = line.substr(30);
    const int who = text[0] == 'A' ? 0 : 1;
    EXPECT_EQ(text, std::string(1, "AB"[who]) + " " + std::to_string(next[who]++));
  }
}

// Switching files while another thread writes: every entry lands whole in
// exactly one file.
TEST_F(LogFileTest, SwitchingWhileWritingLosesNothing) {
  ASSERT_EQ(log_.SetLogFilename(dir_ / "f0.txt"), 0);
  constexpr int kEntries = 3000;
  std::atomic<int> written{0}, done{0};
  std::thread writer([&] {
    for (int i = 0; i < kEntries; ++i, ++done) written += log_.WriteLogEntry(kLogNotice, "x") == 0;
  });
  for (int f = 1; f < 6; ++f) {
    // Switch while the writer is busy (or finished, if it is that fast).
    while (done < f * kEntries / 6) std::this_thread::yield();
    log_.SetLogFilename(dir_ / ("f" + std::to_string(f) + ".txt"));
  }
  writer.join();

  int found = 0;
  for (int f = 0; f < 6; ++f) {
    for (const std::string& line : SplitCrLf(ReadFile(dir_ / ("f" + std::to_string(f) + ".txt")))) {
      found += line == "-* NOTICE  *-  09:05:03.007 - x";
    }
  }
  EXPECT_EQ(written, kEntries);
  EXPECT_EQ(found, kEntries);
}

// Every start moves the earlier log aside; only the newest ten moved-aside
// logs of the name are kept. Files that are not ours (other content, other
// names, links) are never removed.
TEST_F(LogFileTest, StartsKeepTheTenNewestMovedAsideLogsAndNothingElseGoes) {
  auto write = [this](const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  };
  const std::string ours = "Veltrix Base Log File Opened - File Name:  x\r\n";
  for (int day = 1; day <= 12; ++day) {  // twelve earlier starts, 1 to 12 Dec 2001
    write("OrvantaLogFile.200112" + std::string(day < 10 ? "0" : "") + std::to_string(day) +
              "-080000.txt",
          ours);
  }
  write("OrvantaLogFile.20011101-080000.txt", "my notes\r\n");
  write("OrvantaLogFile.20011101-080000.txt.bak", ours);
  fs::create_symlink(dir_ / "OrvantaLogFile.txt.bak", dir_ / "OrvantaLogFile.20011102-080000.txt");
  write("OrvantaLogFile.txt", ours);  // moved aside now: 13 of ours

  ASSERT_EQ(log_.SetLogFilename(dir_ / "OrvantaLogFile.txt"), 0);
  for (const char* gone : {"01", "02", "03"}) {
    EXPECT_FALSE(fs::exists(dir_ / ("OrvantaLogFile.200112" + std::string(gone) + "-080000.txt")));
  }
  EXPECT_TRUE(fs::exists(dir_ / "OrvantaLogFile.20011204-080000.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "OrvantaLogFile.20011101-080000.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "OrvantaLogFile.20011101-080000.txt.bak"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "OrvantaLogFile.20011102-080000.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path), fs::directory_iterator()), 14);
  const std::vector<std::string> lines = SplitCrLf(ReadFile(dir_ / "OrvantaLogFile.txt"));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3],
            "-* NOTICE  *-  09:05:03.007 - LogFile::OpenLogFile() - 3 older log files of this "
            "name removed, the newest 10 are kept.  Oldest removed: " +
                (dir_ / "OrvantaLogFile.20011201-080000.txt") + ".");
}

}  // namespace
}  // namespace orvanta
