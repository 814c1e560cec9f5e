// The line writer both logs share: the entry layout with a log's own tags,
// the padded time stamp and the unpadded opening time, and CR LF lines that
// survive a failed write.
#include "platform/log_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fakes/fakes.h"

namespace orvanta {
namespace {

std::string BracketTag(int level) { return "[" + std::to_string(level) + "]"; }

TEST(LogLineWriterTest, EntriesUseTheLogsOwnTagsAndAPaddedTimeStamp) {
  testing::FixedClock clock({2031, 11, 2, 7, 4, 9, 30});
  const LogLineWriter writer(clock, &BracketTag);
  EXPECT_EQ(writer.TimeStamp(), " 07:04:09.030");
  EXPECT_EQ(writer.Entry(kLogWarning, "text"), "[2] 07:04:09.030 - text");
  EXPECT_EQ(writer.Entry(17, ""), "[17] 07:04:09.030 - ");
  // The opening line is written without padding.
  EXPECT_EQ(writer.OpenedLine(), "Time Opened: (m/d/y)  11/2/2031 at time 7:4:9.30");
  clock.Set({2031, 12, 31, 23, 59, 59, 999});
  EXPECT_EQ(writer.Entry(kLogFatal, "late"), "[0] 23:59:59.999 - late");
}

TEST(LogLineWriterTest, LinesEndInCrLfAndAFailedWriteDoesNotStopTheNextOne) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(LogLineWriter::WriteLine(file, "one"));
  EXPECT_TRUE(LogLineWriter::WriteLine(file, ""));
  std::rewind(file);
  char buffer[16] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, file), 7u);
  EXPECT_EQ(std::string(buffer, 7), "one\r\n\r\n");
  std::fclose(file);

  // A device that is always full: every line fails, and each is tried.
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full here";
  EXPECT_FALSE(LogLineWriter::WriteLine(full, "lost"));
  EXPECT_FALSE(std::ferror(full));  // cleared for the next line
  EXPECT_FALSE(LogLineWriter::WriteLine(full, "lost too"));
  std::fclose(full);
}

}  // namespace
}  // namespace orvanta
