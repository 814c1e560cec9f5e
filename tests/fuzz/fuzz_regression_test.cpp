// Replays every committed input of the fuzz targets (the seed corpora and the
// inputs that once found a fault) through the same target functions the
// fuzzers run, so that a fault found once stays found. A target ends the
// process when a property fails, which fails this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "tests/integration/fault_env.h"

namespace orvanta::faults {
namespace {

namespace fs = std::filesystem;

// The files of fuzz/corpus/<target> and fuzz/regressions/<target>, sorted.
std::vector<fs::path> Inputs(const std::string& target) {
  std::vector<fs::path> out;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(ORVANTA_FUZZ_DIR) / folder / target;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.is_regular_file()) out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

void Replay(const std::string& target, int (*fn)(const uint8_t*, size_t)) {
  const auto inputs = Inputs(target);
  ASSERT_FALSE(inputs.empty()) << "no inputs for " << target;
  for (const auto& path : inputs) {
    SCOPED_TRACE(path.string());
    const std::string bytes = ReadWholeFile(path.string());
    EXPECT_EQ(fn(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

TEST(FuzzRegressionTest, SetupFiles) { Replay("setup_file", fuzz::FuzzSetupFile); }
TEST(FuzzRegressionTest, Replies) { Replay("replies", fuzz::FuzzReplies); }
TEST(FuzzRegressionTest, StreamRecords) { Replay("stream_records", fuzz::FuzzStreamRecords); }
TEST(FuzzRegressionTest, SessionRecords) { Replay("session_record", fuzz::FuzzSessionRecord); }

// The fuzzer's first find: a mistyped trial count made the deck allocate
// 8 GB (or end the program). The count is refused with a logged error and
// the deck keeps its cards.
TEST(FuzzRegressionTest, ATrialCountBeyondTheDeckLimitIsRefused) {
  TempFolder folder;
  testing::FixedClock clock;
  testing::RecordingMessageBoxes boxes;
  testing::FakeShellOpener shell;
  MainWindowRef window;
  LogFile log(clock, boxes, window, shell);
  ASSERT_EQ(log.SetLogFilename(folder.path() + "/log.txt"), 0);
  CardDeck deck(log);
  ASSERT_EQ(deck.AddSuit(0), 0);
  ASSERT_EQ(deck.AddSuit(1), 0);
  ASSERT_EQ(deck.SetNumCardsInSuit(0, 400000), 0);

  EXPECT_EQ(deck.SetNumCardsInSuit(1, 2147483647), -1);
  EXPECT_EQ(deck.SetNumCardsInSuit(1, 600001), -1);
  EXPECT_EQ(deck.GetNumCards(), 400001);
  int32_t count = 0;
  ASSERT_EQ(deck.GetNumCardsInSuit(1, count), 0);
  EXPECT_EQ(count, 1);
  const auto texts = LogTexts(folder.path() + "/log.txt");
  const std::string expected =
      "CardDeck::SetNumCardsInSuit() - Error, the number of cards to set would make the deck "
      "larger than its limit.  Card Count: 600001, Max Cards: 1000000";
  EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end());

  // Exactly at the limit is accepted, in a Group deck as well.
  EXPECT_EQ(deck.SetNumCardsInSuit(1, 600000), 0);
  deck.SetShuffleType(Group);
  EXPECT_EQ(deck.GetNumCards(), CardDeck::kMaxCards);
}

}  // namespace
}  // namespace orvanta::faults
