// The opening rules of output files driven through scripted system calls:
// the exact order of the calls, the names tried for the move aside and the
// texts of each refusal.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/output_file_calls.h"

namespace orvanta::output_file {
namespace {

class ScriptedCalls final : public SystemCalls {
 public:
  std::deque<Created> created;
  ExistingFile existing;
  std::string firstBytes = "#log";
  std::deque<bool> stillNamed;
  int takenNames = 0;  // move-aside names taken before one is free
  std::vector<std::string> log;

  const char* FolderEnds() const override { return "/"; }
  Created CreateNew(const std::string& path, Handle& file, OutputFileFailure&) override {
    log.push_back("create " + path);
    file = 7;
    const Created result = created.front();
    if (created.size() > 1) created.pop_front();
    return result;
  }
  Opened OpenExisting(const std::string& path, Handle& file, ExistingFile& info,
                      OutputFileFailure&) override {
    log.push_back("open " + path);
    file = 8;
    info = existing;
    return Opened::kOpened;
  }
  bool TryLock(Handle file, OutputFileFailure&) override {
    log.push_back("lock " + std::to_string(file));
    return true;
  }
  bool StillNamed(Handle file, const std::string&) override {
    log.push_back("named " + std::to_string(file));
    const bool result = stillNamed.empty() || stillNamed.front();
    if (stillNamed.size() > 1) stillNamed.pop_front();
    return result;
  }
  std::string FirstBytes(Handle, std::size_t size) override {
    log.push_back("read " + std::to_string(size));
    return firstBytes;
  }
  Moved MoveNoReplace(const std::string&, const std::string& to, std::string&) override {
    log.push_back("move " + to);
    return takenNames-- > 0 ? Moved::kTaken : Moved::kDone;
  }
  std::FILE* Stream(Handle file, OutputFileFailure&) override {
    log.push_back("stream " + std::to_string(file));
    return std::tmpfile();
  }
  void Close(Handle file) override { log.push_back("close " + std::to_string(file)); }
};

struct Opening {
  std::FILE* stream = nullptr;
  std::string movedAside;
  OutputFileFailure failure;
};

Opening Open(ScriptedCalls& calls, const std::string& path = "out/run.log") {
  Opening opening;
  opening.stream = OpenStream(calls, path, "#log", opening.movedAside, opening.failure);
  if (opening.stream != nullptr) std::fclose(opening.stream);
  return opening;
}

TEST(OutputFileRulesTest, OwnFileIsMovedAsideUnderTheFirstFreeNameThenCreatedAnew) {
  ScriptedCalls calls;
  calls.created = {Created::kExists, Created::kOpened};
  calls.existing.stamp = "20261208-030405";
  calls.takenNames = 1;
  const Opening opening = Open(calls);
  ASSERT_NE(opening.stream, nullptr);
  EXPECT_EQ(opening.movedAside, "out/run.20261208-030405-2.log");
  EXPECT_EQ(calls.log, (std::vector<std::string>{
                           "create out/run.log", "open out/run.log", "lock 8", "named 8", "read 4",
                           "move out/run.20261208-030405.log", "move out/run.20261208-030405-2.log",
                           "close 8", "create out/run.log", "lock 7", "named 7", "stream 7"}));
}

TEST(OutputFileRulesTest, ANameWithoutExtensionInADottedFolderTakesTheStampAtItsEnd) {
  ScriptedCalls calls;
  calls.created = {Created::kExists, Created::kOpened};
  calls.existing = {ExistingFile::kRegular, true, "20260101-000000"};
  EXPECT_NE(Open(calls, "a.b/timeline").stream, nullptr);
  EXPECT_EQ(calls.log[4], "move a.b/timeline.20260101-000000");  // empty: its bytes unread
}

TEST(OutputFileRulesTest, EachRefusalHasItsTextAndLeavesTheFileWhereItIs) {
  const std::vector<std::pair<ExistingFile::Kind, std::string>> kinds = {
      {ExistingFile::kLink, "it is a symbolic link, which is not followed"},
      {ExistingFile::kFolder, "it is a folder"},
      {ExistingFile::kOther, "it is not a regular file"}};
  for (const auto& [kind, text] : kinds) {
    ScriptedCalls calls;
    calls.created = {Created::kExists};
    calls.existing.kind = kind;
    const Opening opening = Open(calls);
    EXPECT_EQ(opening.stream, nullptr);
    EXPECT_EQ(opening.failure.kind, OutputFileFailure::kRefused);
    EXPECT_EQ(opening.failure.reason, text);
    EXPECT_EQ(calls.log.back(), "close 8");
  }
  ScriptedCalls foreign;
  foreign.created = {Created::kExists};
  foreign.firstBytes = "#other";
  const Opening opening = Open(foreign);
  EXPECT_EQ(opening.failure.reason,
            "it exists and was not written by this program (its first line differs); it was left "
            "untouched");
}

TEST(OutputFileRulesTest, HundredTakenNamesOrFourChangesOfTheNameGiveUp) {
  ScriptedCalls crowded;
  crowded.created = {Created::kExists};
  crowded.existing.stamp = "20260101-000000";
  crowded.takenNames = 100;
  EXPECT_EQ(Open(crowded).failure.reason,
            "the earlier file could not be moved aside: every name for it is taken");
  EXPECT_EQ(crowded.log.size(), 106u);  // 100 moves, then the close
  EXPECT_EQ(crowded.log[104], "move out/run.20260101-000000-100.log");

  ScriptedCalls changing;
  changing.created = {Created::kOpened};
  changing.stillNamed = {false};
  const Opening opening = Open(changing);
  EXPECT_EQ(opening.failure.kind, OutputFileFailure::kInUse);
  EXPECT_EQ(opening.failure.reason,
            "the name kept changing while it was being opened (another program is using it)");
  EXPECT_EQ(changing.log.size(), 16u);  // create, lock, named, close; four times
}

}  // namespace
}  // namespace orvanta::output_file
