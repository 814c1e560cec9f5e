#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "client/client_log_file.h"
#include "fakes/fakes.h"
#include "scripted_peer.h"

namespace orvanta {
namespace {

using testing::FixedClock;
using testing::ReadFile;
using testing::TempDir;

LocalTime At(int h, int m, int s, int ms) {
  LocalTime t;
  t.year = 2009;
  t.month = 3;
  t.day = 7;
  t.hour = h;
  t.minute = m;
  t.second = s;
  t.millisecond = ms;
  return t;
}

const char kHeader[] =
    "Vintra Log File Opened - File Name:  %s\r\n"
    "Time Opened: (m/d/y)  3/7/2009 at time 9:5:3.7\r\n"
    "Vintra Version 1.21\r\n\r\n";

std::string Header(const std::string& name) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, kHeader, name.c_str());
  return buffer;
}

TEST(ClientLogFileTest, HeaderEntriesAndClosingLineAreExact) {
  TempDir dir;
  FixedClock clock(At(9, 5, 3, 7));
  ClientLogFile log(clock);
  const std::string path = dir.File("client.log");
  ASSERT_EQ(0, log.Open(path));
  EXPECT_EQ(path, log.GetFileName());
  for (int level = 0; level <= 6; ++level) EXPECT_EQ(0, log.WriteLogEntry(level, "text"));
  EXPECT_EQ(0, log.WriteLine("raw"));
  EXPECT_EQ(0, log.Close());
  EXPECT_EQ("", log.GetFileName());
  EXPECT_EQ(Header(path) +
                "-* FATAL *-  09:05:03.007 - text\r\n"
                "-* ERROR *-  09:05:03.007 - text\r\n"
                "-* WARNING *-  09:05:03.007 - text\r\n"
                "-* NOTICE *-  09:05:03.007 - text\r\n"
                "-* DATA *-  09:05:03.007 - text\r\n"
                "-* UNKNOWN *-  09:05:03.007 - text\r\n"
                "-* UNKNOWN *-  09:05:03.007 - text\r\n"
                "raw\r\n"
                "Log File Closed - End of File\r\n\r\n",
            ReadFile(path));
}

TEST(ClientLogFileTest, TimeStampIsZeroPadded) {
  FixedClock clock(At(9, 5, 3, 7));
  ClientLogFile log(clock);
  EXPECT_EQ(" 09:05:03.007", log.GetTimeStamp());
  clock.Set(At(23, 59, 58, 999));
  EXPECT_EQ(" 23:59:58.999", log.GetTimeStamp());
}

TEST(ClientLogFileTest, EntriesAreDroppedWhileClosed) {
  TempDir dir;
  FixedClock clock(At(9, 5, 3, 7));
  ClientLogFile log(clock);
  EXPECT_EQ(-1, log.WriteLogEntry(1, "lost"));
  EXPECT_EQ(-1, log.WriteLine("lost"));
  EXPECT_EQ(-1, log.Close());
  const std::string path = dir.File("a.log");
  ASSERT_EQ(0, log.Open(path));
  ASSERT_EQ(0, log.Close());
  EXPECT_EQ(-1, log.WriteLogEntry(1, "lost"));
  EXPECT_EQ(-1, log.Close());
  EXPECT_EQ(Header(path) + "Log File Closed - End of File\r\n\r\n", ReadFile(path));
}

TEST(ClientLogFileTest, OpeningASecondFileClosesTheFirst) {
  TempDir dir;
  FixedClock clock(At(9, 5, 3, 7));
  ClientLogFile log(clock);
  const std::string first = dir.File("first.log");
  const std::string second = dir.File("second.log");
  ASSERT_EQ(0, log.Open(first));
  ASSERT_EQ(0, log.Open(second));
  EXPECT_EQ(Header(first) + "Log File Closed - End of File\r\n\r\n", ReadFile(first));
  EXPECT_EQ(Header(second), ReadFile(second));
  EXPECT_EQ(second, log.GetFileName());
}

// A file that cannot be had fails the open and leaves the open log in use.
TEST(ClientLogFileTest, AFileThatCannotBeOpenedFailsAndKeepsTheOpenLog) {
  TempDir dir;
  FixedClock clock(At(9, 5, 3, 7));
  ClientLogFile log(clock);
  const std::string first = dir.File("first.log");
  ASSERT_EQ(0, log.Open(first));
  EXPECT_EQ(-1, log.Open(dir.File("missing-folder/x.log")));
  EXPECT_EQ(log.GetLastOpenFailure().kind, OutputFileFailure::kCannotCreate);
  EXPECT_EQ(log.GetLastOpenFailure().reason, "its folder does not exist");
  EXPECT_EQ(first, log.GetFileName());
  EXPECT_EQ(0, log.WriteLogEntry(3, "kept"));
  EXPECT_EQ(Header(first) + "-* NOTICE *-  09:05:03.007 - kept\r\n", ReadFile(first));
}

TEST(ClientLogFileTest, DestroyingTheLogWritesNoClosingLine) {
  TempDir dir;
  FixedClock clock(At(9, 5, 3, 7));
  const std::string path = dir.File("d.log");
  {
    ClientLogFile log(clock);
    ASSERT_EQ(0, log.Open(path));
  }
  EXPECT_EQ(Header(path), ReadFile(path));
}

TEST(ClientLogFileTest, EntriesFromManyThreadsNeverInterleave) {
  TempDir dir;
  FixedClock clock(At(9, 5, 3, 7));
  ClientLogFile log(clock);
  const std::string path = dir.File("threads.log");
  ASSERT_EQ(0, log.Open(path));
  std::vector<std::thread> writers;
  writers.reserve(6);
  for (int t = 0; t < 6; ++t) {
    writers.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i)
        log.WriteLogEntry(3, "writer " + std::to_string(t) + " entry " + std::to_string(i));
    });
  }
  for (auto& w : writers) w.join();
  const auto entries = testing::LogEntries(path);
  ASSERT_EQ(1200u, entries.size());
  for (const auto& e : entries) EXPECT_EQ(0u, e.rfind("NOTICE: writer ", 0)) << e;
}

TEST(ClientLogFileTest, OpeningAndClosingWhileThreadsWriteIsSafe) {
  TempDir dir;
  FixedClock clock(At(9, 5, 3, 7));
  ClientLogFile log(clock);
  std::atomic<bool> done{false};
  std::vector<std::thread> writers;
  writers.reserve(3);
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&log, &done] {
      while (!done.load()) log.WriteLogEntry(1, "entry");
    });
  }
  for (int i = 0; i < 40; ++i) {
    log.Open(dir.File("switch" + std::to_string(i % 2) + ".log"));
    if (i % 3 == 0) log.Close();
  }
  done.store(true);
  for (auto& w : writers) w.join();
  log.Close();
  // Every line of the last file is whole: a header line, an entry or the
  // closing line.
  const std::string content = ReadFile(dir.File("switch1.log"));
  size_t pos = 0;
  while (pos < content.size()) {
    const size_t end = content.find("\r\n", pos);
    ASSERT_NE(std::string::npos, end);
    const std::string line = content.substr(pos, end - pos);
    pos = end + 2;
    EXPECT_TRUE(line.empty() || line.rfind("Vintra ", 0) == 0 ||
                line.rfind("Time Opened", 0) == 0 || line == "-* ERROR *-  09:05:03.007 - entry" ||
                line == "Log File Closed - End of File")
        << line;
  }
}

}  // namespace
}  // namespace orvanta
