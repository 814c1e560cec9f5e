#include "trials/card_deck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "trials_env.h"

namespace orvanta {
namespace {

using Cards = std::vector<int32_t>;
constexpr int32_t X = 0, Y = 1, Z = 2, W = 3;

class CardDeckTest : public ::testing::Test {
 protected:
  // Adds suits 0, 1, 2, ... with the given counts.
  void AddSuits(const std::vector<int32_t>& counts) {
    for (std::size_t i = 0; i < counts.size(); ++i) {
      const int32_t id = static_cast<int32_t>(i);
      ASSERT_EQ(deck().AddSuit(id), 0);
      ASSERT_EQ(deck().SetNumCardsInSuit(id, counts[i]), 0);
    }
  }
  CardDeck& deck() { return env_.deck; }

  testing::TrialsEnv env_;
};

int LongestRun(const Cards& cards) {
  int longest = 0, run = 0;
  for (std::size_t i = 0; i < cards.size(); ++i) {
    run = (i > 0 && cards[i] == cards[i - 1]) ? run + 1 : 1;
    longest = std::max(longest, run);
  }
  return longest;
}

// Vectors of s -> s * 214013 + 2531011 (mod 2^32), bits 16..30, worked out
// from the formula by hand.
TEST(DeckRandomTest, MatchesTheRuntimeGenerator) {
  DeckRandom random;
  std::vector<int> drawn;
  drawn.reserve(10);
  for (int i = 0; i < 10; ++i) drawn.push_back(random.Next());
  EXPECT_EQ(drawn,
            (std::vector<int>{41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464}));
  random.Seed(0);
  EXPECT_EQ(random.Next(), 38);  // 2531011 >> 16
  EXPECT_EQ(random.Next(), 7719);
  random.Seed(12345);
  EXPECT_EQ(random.Next(), 7584);
}

TEST_F(CardDeckTest, BuildsNormalAndGroupOrders) {
  AddSuits({3, 1, 2});
  EXPECT_EQ(deck().GetOrder(), (Cards{X, X, X, Y, Z, Z}));
  deck().SetShuffleType(Group);
  EXPECT_EQ(deck().GetOrder(), (Cards{X, Y, Z, X, Z, X}));
  deck().SetShuffleType(static_cast<ShuffleType>(7));  // any non-zero type is Group
  EXPECT_EQ(deck().GetShuffleType(), Group);
  EXPECT_EQ(deck().GetOrder(), (Cards{X, Y, Z, X, Z, X}));
}

// Orders worked out by hand (and by an independent script) from the
// algorithm: the swaps draw x then y, each repair attempt draws one y.
TEST_F(CardDeckTest, ShufflesFollowTheGeneratorExactly) {
  AddSuits({1, 1, 1, 1});
  ASSERT_EQ(deck().SetShuffleSwapCount(2), 0);
  // swap(41%4=1, 18467%4=3), swap(6334%4=2, 26500%4=0); no run to repair
  ASSERT_EQ(deck().Shuffle(), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{Z, W, X, Y}));

  // X X Y, one swap: swap(2,2); the run at position 1 is swapped with 1, 1, 2.
  deck().Seed(1);
  deck().SetNumCardsInSuit(X, 2);
  deck().RemoveSuit(Z);
  deck().RemoveSuit(W);
  ASSERT_EQ(deck().SetShuffleSwapCount(1), 0);
  ASSERT_EQ(deck().Shuffle(), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{X, Y, X}));
}

TEST_F(CardDeckTest, DefaultShufflesAreReproducible) {
  AddSuits({3, 1, 2});
  ASSERT_EQ(deck().Shuffle(), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{X, Z, X, Y, Z, X}));
  ASSERT_EQ(deck().Shuffle(), 0);  // the generator goes on where it stopped
  EXPECT_EQ(deck().GetOrder(), (Cards{Y, X, Z, X, Z, X}));
  deck().SetShuffleType(Normal);  // rebuilds X X X Y Z Z
  deck().Seed(42);
  ASSERT_EQ(deck().Shuffle(), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{Y, X, Z, X, Z, X}));

  deck().SetShuffleType(Group);
  deck().Seed(1);
  ASSERT_EQ(deck().Shuffle(), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{Y, Z, X, X, X, Z}));  // runs are no concern of Group

  deck().SetShuffleType(Normal);
  deck().SetMaxConsectutiveSameSuitCards(2);
  for (int32_t suit : {X, Y, Z}) deck().SetNumCardsInSuit(suit, 10);
  deck().Seed(1);
  ASSERT_EQ(deck().Shuffle(), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{Z, X, X, Y, Y, X, Z, X, X, Z, Y, X, Y, Z, Y,
                                      Y, X, Y, Z, Z, X, Y, X, Z, Y, Z, Z, Y, X, Z}));
}

TEST_F(CardDeckTest, TinyDecksShuffleWithoutDrawing) {
  EXPECT_EQ(deck().Shuffle(), 0);
  AddSuits({1});
  EXPECT_EQ(deck().Shuffle(), 0);
  deck().SetShuffleType(Group);
  EXPECT_EQ(deck().Shuffle(), 0);
  deck().SetShuffleType(Normal);
  ASSERT_EQ(deck().RemoveSuit(X), 0);
  // The generator is still at its start: the vector of the fresh deck holds.
  AddSuits({1, 1, 1, 1});
  ASSERT_EQ(deck().SetShuffleSwapCount(2), 0);
  ASSERT_EQ(deck().Shuffle(), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{Z, W, X, Y}));
}

TEST_F(CardDeckTest, ImpossibleLimitFailsAndKeepsTheShuffledOrder) {
  AddSuits({5, 1});
  EXPECT_EQ(deck().Shuffle(), -1);
  const std::string message =
      "Shuffle Failed, the Max limit of consecutive cards request has not been satisfied.";
  EXPECT_EQ(deck().GetMessage(), message);
  env_.ExpectLastError(message);
  EXPECT_EQ(deck().GetOrder(), (Cards{X, X, X, Y, X, X}));  // not the built X X X X X Y
  // The cards beyond the limit, 1-based.
  EXPECT_EQ(deck().GetRunLimitBreaks(), (Cards{2, 3, 6}));
}

// A failed repair keeps the best order it met, whatever the last swap did:
// 6 X and 1 Y can do no better than 4 cards beyond a limit of 1.
TEST_F(CardDeckTest, FailedRepairKeepsTheBestOrderFound) {
  AddSuits({6, 1});
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    deck().Seed(seed);
    ASSERT_EQ(deck().Shuffle(), -1);
    EXPECT_EQ(deck().GetRunLimitBreaks().size(), 4u) << seed;
  }
  deck().SetShuffleType(Group);  // runs of a Group deck are not limited
  EXPECT_TRUE(deck().GetRunLimitBreaks().empty());
}

TEST_F(CardDeckTest, RunLimitHoldsOverManySeeds) {
  AddSuits({2, 2});
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    deck().Seed(seed);
    ASSERT_EQ(deck().Shuffle(), 0);
    const Cards order = deck().GetOrder();
    EXPECT_TRUE(order == (Cards{X, Y, X, Y}) || order == (Cards{Y, X, Y, X})) << seed;
  }
  deck().SetNumCardsInSuit(X, 4);
  ASSERT_EQ(deck().SetMaxConsectutiveSameSuitCards(2), 0);
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    deck().Seed(seed);
    ASSERT_EQ(deck().Shuffle(), 0);
    EXPECT_LE(LongestRun(deck().GetOrder()), 2) << seed;
  }
}

// Blocks are aligned to multiples of the number of suits, not to the build's
// passes: with X:2, Y:1, Z:3 the second block spans passes 2 and 3.
TEST_F(CardDeckTest, GroupShufflesBlocksOfSuitCount) {
  AddSuits({2, 1, 3});
  deck().SetShuffleType(Group);
  ASSERT_EQ(deck().GetOrder(), (Cards{X, Y, Z, X, Z, Z}));
  bool x_reached_the_last_pass = false;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    deck().Seed(seed);
    ASSERT_EQ(deck().Shuffle(), 0);
    Cards order = deck().GetOrder();
    x_reached_the_last_pass |= order[5] == X;
    std::sort(order.begin(), order.begin() + 3);
    std::sort(order.begin() + 3, order.end());
    EXPECT_EQ(order, (Cards{X, Y, Z, X, Z, Z})) << seed;
  }
  EXPECT_TRUE(x_reached_the_last_pass);
}

TEST_F(CardDeckTest, CountsAndSuitsWithTheirMessages) {
  AddSuits({3, 1, 2});
  EXPECT_EQ(deck().SetNumCardsInSuit(X, 0), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{Y, Z, Z}));

  EXPECT_EQ(deck().SetNumCardsInSuit(77, -1), -1);  // the sign is tested first
  env_.ExpectLastError(
      "CardDeck::SetNumCardsInSuit() - Error, the number of cards to set is a negative number, "
      "this value must be positive.  Card Count: -1");
  EXPECT_EQ(deck().SetNumCardsInSuit(77, 2), -1);
  env_.ExpectLastError(
      "CardDeck::SetNumCardsInSuit() - Error, the suit ID was not found.  Suit ID: 77");
  int32_t count = -5;
  EXPECT_EQ(deck().GetNumCardsInSuit(77, count), -1);
  EXPECT_EQ(count, -5);
  env_.ExpectLastError(
      "CardDeck::GetNumCardsInSuit() - Error, the suit ID was not found.  Suit ID: 77");
  EXPECT_EQ(deck().AddSuit(Y), -1);
  env_.ExpectLastError(
      "CardDeck::AddSuit() - Error, unable to add suit, the suit ID is already in use.  Suit ID: "
      "1");
  EXPECT_EQ(deck().RemoveSuit(77), -1);
  env_.ExpectLastError(
      "CardDeck::RemoveSuit() - Error, unable to remove suit, the suit ID was not found.  Suit ID: "
      "77");
  EXPECT_EQ(deck().SetShuffleSwapCount(0), -1);
  env_.ExpectLastError(
      "CardDeck::SetShuffleSwapCount() - Error, the swap count must be greater than zero.  Swap "
      "Count: 0");
  EXPECT_EQ(deck().SetMaxConsectutiveSameSuitCards(0), -1);
  env_.ExpectLastError(
      "CardDeck::SetMaxConsectutiveSameSuitCards() - Error, the max value must be greater than "
      "zero.  Max Value: 0");
  EXPECT_EQ(deck().GetMaxConsectutiveSameSuitCards(), 1);
  EXPECT_EQ(deck().GetOrder(), (Cards{Y, Z, Z}));
}

TEST_F(CardDeckTest, AddingDiscardsTheShuffleRemovingKeepsIt) {
  AddSuits({2, 2, 2});
  ASSERT_EQ(deck().Shuffle(), 0);
  Cards expected = deck().GetOrder();
  ASSERT_EQ(deck().RemoveSuit(Y), 0);
  expected.erase(std::remove(expected.begin(), expected.end(), Y), expected.end());
  EXPECT_EQ(deck().GetOrder(), expected);
  ASSERT_EQ(deck().AddSuit(W), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{X, X, Z, Z, W}));
}

TEST_F(CardDeckTest, SetSuitPositionRestoresASavedOrder) {
  AddSuits({3, 1, 2});
  deck().Seed(7);
  ASSERT_EQ(deck().Shuffle(), 0);
  const Cards saved = deck().GetOrder();
  deck().Seed(99);
  ASSERT_EQ(deck().Shuffle(), 0);
  for (std::size_t i = 0; i < saved.size(); ++i) {
    ASSERT_EQ(deck().SetSuitPosition(saved[i], static_cast<int32_t>(i)), 0);
  }
  EXPECT_EQ(deck().GetOrder(), saved);

  EXPECT_EQ(deck().SetSuitPosition(X, 6), -1);
  env_.ExpectLastError(
      "CardDeck::SetSuitPosition() - Error, the list index is out of range.  Range(0..6) Index: 6");
  EXPECT_EQ(deck().SetSuitPosition(X, -1), -1);
  env_.ExpectLastError(
      "CardDeck::SetSuitPosition() - Error, the list index is out of range.  Range(0..6) Index: "
      "-1");
  const int32_t last = saved.back();
  const int32_t other = last == X ? Y : X;
  EXPECT_EQ(deck().SetSuitPosition(other, 5), -1);
  env_.ExpectLastError(
      "CardDeck::SetSuitPosition() - Error, the requested suitID was not found in the remainder of "
      "the list.  suit ID: " +
      std::to_string(other) + ", list index: 5");
  EXPECT_EQ(deck().GetOrder(), saved);
}

TEST_F(CardDeckTest, DealingAndReadingTheOrder) {
  AddSuits({2, 1});
  int32_t suit = -1;
  ASSERT_EQ(deck().DealNextCard(suit), 0);
  EXPECT_EQ(suit, X);
  EXPECT_EQ(deck().GetOrder(), (Cards{X, X, Y}));
  EXPECT_EQ(deck().GetNextCardIndex(), 1);  // reading does not move the cursor
  deck().SetNumCardsInSuit(Y, 2);           // nor does a rebuild
  EXPECT_EQ(deck().GetNextCardIndex(), 1);
  for (int32_t expected : {X, Y, Y}) {
    ASSERT_EQ(deck().DealNextCard(suit), 0);
    EXPECT_EQ(suit, expected);
  }
  const std::string message = deck().GetMessage();
  EXPECT_EQ(deck().DealNextCard(suit), -1);
  EXPECT_EQ(suit, Y);
  EXPECT_EQ(deck().GetMessage(), message);  // running out is no error
  deck().ResetDeal();
  ASSERT_EQ(deck().DealNextCard(suit), 0);
  EXPECT_EQ(suit, X);
}

}  // namespace
}  // namespace orvanta
