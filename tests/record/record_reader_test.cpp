// Reading a record folder back as a crash or a damaged disk leaves it:
// session.json must be whole (a cut or damaged one is refused with a
// reason, never read as complete); the row files may be cut anywhere and
// only their whole rows are read; the resume point stays within the trials
// whatever numbers the record claims.
#include "record/record_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/temp_folder.h"

namespace orvanta::testing {
namespace {

using record::LoadedRecord;
using record::LoadRecord;

const char kSession[] =
    "{\n  \"program\": \"orvanta-run\",\n  \"outcome\": \"completed\",\n"
    "  \"first_trial\": 1,\n  \"number_of_trials\": 3\n}\n";
const char kTimeline[] =
    "trial,type,step,command,reply,sent_us,replied_us,status\n"
    "1,A,start event,\"-PostEvent \"\"a,b\"\" 3 0\",0,10,20,replied\n"
    "2,A,start event,\"-PostEvent \"\"two\nlines\"\" 3 0\",0,30,,no reply\n";

class RecordReaderTest : public ::testing::Test {
 protected:
  std::string In(const char* name) const {
    return (std::filesystem::path(folder_.path()) / name).string();
  }
  void Write(const char* name, const std::string& text) const {
    std::ofstream(In(name), std::ios::binary) << text;
  }
  TempFolder folder_{"orvanta-record-"};
};

TEST_F(RecordReaderTest, ACutOrDamagedSessionIsRefusedWithItsReason) {
  LoadedRecord rec;
  std::string error;
  EXPECT_FALSE(LoadRecord(folder_.path(), rec, error));
  EXPECT_EQ(error, "cannot read " + In("session.json"));

  const std::string session = kSession;
  const struct {
    std::string text, why;
  } cases[] = {
      {"", "unexpected end at offset 0"},
      {session.substr(0, 40), "unterminated string at offset 40"},
      {session.substr(0, session.size() - 4), "unexpected end at offset 98"},
      {session.substr(0, session.size() - 2), "unterminated object at offset 100"},
      {std::string(4096, '\0'), "unexpected character at offset 0"},
      {"[1, 2]", "not an object"},
      {"\"completed\"", "not an object"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Write("session.json", c.text);
    EXPECT_FALSE(LoadRecord(folder_.path(), rec, error));
    EXPECT_EQ(error, In("session.json") + " is not a session record: " + c.why);
  }
  // Every cut short of the closing brace is refused.
  for (std::size_t n = 0; n < session.size() - 2; ++n) {
    Write("session.json", session.substr(0, n));
    EXPECT_FALSE(LoadRecord(folder_.path(), rec, error)) << n;
  }
  Write("session.json", session.substr(0, session.size() - 1));
  EXPECT_TRUE(LoadRecord(folder_.path(), rec, error)) << error;
  EXPECT_EQ(rec.outcome, "completed");
}

TEST_F(RecordReaderTest, RowFilesCutShortGiveTheirWholeRowsOnly) {
  Write("session.json", "{\"outcome\": \"running\", \"number_of_trials\": 3}");
  const std::string timeline = kTimeline;
  // Cut just after the line break inside the second row's quoted command.
  Write("timeline.csv", timeline.substr(0, timeline.find("two\n") + 4));
  Write("trials.tsv", "trial\ttype\tstart_us\tend_us\toutcome\n1\tA\t0\t500\tcompleted\n2\tA\t50");
  Write("events.tsv",
        "onset\tduration\ttrial_type\tvalue\ttrial\tacknowledged\n"
        "0.000010\tn/a\tstart_event\t3\t1\tyes\n0.0000");
  LoadedRecord rec;
  std::string error;
  ASSERT_TRUE(LoadRecord(folder_.path(), rec, error)) << error;
  // No process holds the run lock: the run was interrupted.
  EXPECT_EQ(rec.outcome, "interrupted");
  ASSERT_EQ(rec.timeline.size(), 1u);
  EXPECT_EQ(rec.timeline[0].command, "-PostEvent \"a,b\" 3 0");
  EXPECT_EQ(rec.timeline[0].repliedUs, 20);
  ASSERT_EQ(rec.trials.size(), 1u);
  EXPECT_EQ(rec.trials[0].endUs, 500);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.events[0].duration, -1);
  EXPECT_TRUE(rec.failures.empty());  // no failures.tsv, and the one row read was replied

  // The whole timeline: its unreplied row stands in for the missing failures.tsv.
  Write("timeline.csv", timeline);
  ASSERT_TRUE(LoadRecord(folder_.path(), rec, error)) << error;
  ASSERT_EQ(rec.timeline.size(), 2u);
  EXPECT_EQ(rec.timeline[1].command, "-PostEvent \"two\nlines\" 3 0");
  ASSERT_EQ(rec.failures.size(), 1u);
  EXPECT_EQ(rec.failures[0].status, "no reply");
  EXPECT_EQ(rec.failures[0].reason, "");
  EXPECT_EQ(record::ResumeTrial(rec), 2);
}

TEST_F(RecordReaderTest, GarbageRowsAreSkippedAndBadFieldsFallBack) {
  Write("session.json", "{}");
  Write("timeline.csv", "header\n\x01\x02\x03\n1,2,3\nx,A,s,c,r,y,z,replied\n");
  Write("trials.tsv", "header\n\t\t\t\t\n");
  Write("failures.tsv", "header\nq\ts\tc\tn/a\tnot sent\tnot connected\n");
  LoadedRecord rec;
  std::string error;
  ASSERT_TRUE(LoadRecord(folder_.path(), rec, error)) << error;
  EXPECT_EQ(rec.outcome, "interrupted");  // a session without an outcome
  ASSERT_EQ(rec.timeline.size(), 1u);
  EXPECT_EQ(rec.timeline[0].trial, 0);
  EXPECT_EQ(rec.timeline[0].sentUs, -1);
  ASSERT_EQ(rec.trials.size(), 1u);
  EXPECT_EQ(rec.trials[0].outcome, "");
  ASSERT_EQ(rec.failures.size(), 1u);
  EXPECT_EQ(rec.failures[0].sentUs, -1);
  EXPECT_EQ(rec.failures[0].failedUs, -1);
  EXPECT_EQ(record::ResumeTrial(rec), 0);  // no number of trials
}

// Whatever the record claims, the resume point is found without a flag per
// claimed trial, and is a trial number an int32_t holds or 0.
TEST(ResumeTrialTest, ClaimedCountsOfAnySizeStayBounded) {
  const struct {
    const char* session;
    int32_t resume;
  } cases[] = {
      {R"({"first_trial": 1, "number_of_trials": 4})", 3},
      {R"({"first_trial": 3, "number_of_trials": 4})", 3},
      {R"({"first_trial": -5, "number_of_trials": 2})", 0},
      {R"({"first_trial": 1, "number_of_trials": 1e300})", 3},
      {R"({"first_trial": 1, "number_of_trials": 1e15})", 3},
      {R"({"first_trial": 4e9, "number_of_trials": 5e9})", 0},
      {R"({"first_trial": 2147483647, "number_of_trials": 1e300})", 2147483647},
      {R"({"first_trial": 1, "number_of_trials": -1e300})", 0},
      {R"({"first_trial": 1, "number_of_trials": "4"})", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.session);
    LoadedRecord rec;
    std::string error;
    ASSERT_TRUE(record::Json::Parse(c.session, rec.session, error)) << error;
    rec.trials = {{1, "A", 0, 1, "completed"}, {2, "A", 1, 2, "skipped"}, {3, "A", 2, 3, "failed"}};
    EXPECT_EQ(record::ResumeTrial(rec), c.resume);
  }
}

}  // namespace
}  // namespace orvanta::testing
