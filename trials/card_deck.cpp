#include "trials/card_deck.h"

#include <algorithm>
#include <string>
#include <utility>

#include "log/log_file.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta {

namespace {

// Repair attempts of a Normal shuffle; fixed, whatever the swap count.
constexpr int32_t kMaxRepairAttempts = 10000;

constexpr char kShuffleFailed[] =
    "Shuffle Failed, the Max limit of consecutive cards request has not been satisfied.";

}  // namespace

CardDeck::CardDeck(LogFile& log) : log_(log) {}

CardDeck::~CardDeck() = default;

int CardDeck::Fail(const std::string& message) const {
  mMessage = message;
  log_.WriteLogEntry(kLogError, mMessage);
  return -1;
}

void CardDeck::Rebuild() {
  mCards.clear();
  if (mShuffleType == Normal) {
    for (const Suit& suit : mSuits) mCards.insert(mCards.end(), suit.count, suit.suitID);
    return;
  }
  int32_t max_count = 0;
  for (const Suit& suit : mSuits) max_count = std::max(max_count, suit.count);
  for (int32_t pass = 1; pass <= max_count; ++pass) {
    for (const Suit& suit : mSuits) {
      if (suit.count >= pass) mCards.push_back(suit.suitID);
    }
  }
}

int CardDeck::AddSuit(int32_t suitID) {
  MutexLock lock(&mMutex);
  for (const Suit& suit : mSuits) {
    if (suit.suitID == suitID) {
      return Fail(
          "CardDeck::AddSuit() - Error, unable to add suit, the suit ID is already in use.  "
          "Suit ID: " +
          std::to_string(suitID));
    }
  }
  mSuits.push_back({suitID, 1});
  Rebuild();
  return 0;
}

int CardDeck::RemoveSuit(int32_t suitID) {
  MutexLock lock(&mMutex);
  auto it = std::find_if(mSuits.begin(), mSuits.end(),
                         [suitID](const Suit& suit) { return suit.suitID == suitID; });
  if (it == mSuits.end()) {
    return Fail(
        "CardDeck::RemoveSuit() - Error, unable to remove suit, the suit ID was not found.  "
        "Suit ID: " +
        std::to_string(suitID));
  }
  mCards.erase(std::remove(mCards.begin(), mCards.end(), suitID), mCards.end());
  mSuits.erase(it);
  return 0;
}

int CardDeck::SetNumCardsInSuit(int32_t suitID, int32_t count) {
  MutexLock lock(&mMutex);
  if (count < 0) {
    return Fail(
        "CardDeck::SetNumCardsInSuit() - Error, the number of cards to set is a negative number, "
        "this value must be positive.  Card Count: " +
        std::to_string(count));
  }
  for (Suit& suit : mSuits) {
    if (suit.suitID == suitID) {
      // A mistyped count (a setup file may hold any number) must not make
      // the deck take gigabytes or more cards than its positions can number.
      int64_t others = 0;
      for (const Suit& other : mSuits)
        if (&other != &suit) others += other.count;
      if (others + count > kMaxCards) {
        return Fail(
            "CardDeck::SetNumCardsInSuit() - Error, the number of cards to set would make the "
            "deck larger than its limit.  Card Count: " +
            std::to_string(count) + ", Max Cards: " + std::to_string(kMaxCards));
      }
      suit.count = count;
      Rebuild();
      return 0;
    }
  }
  return Fail("CardDeck::SetNumCardsInSuit() - Error, the suit ID was not found.  Suit ID: " +
              std::to_string(suitID));
}

int CardDeck::GetNumCardsInSuit(int32_t suitID, int32_t& count) const {
  MutexLock lock(&mMutex);
  for (const Suit& suit : mSuits) {
    if (suit.suitID == suitID) {
      count = suit.count;
      return 0;
    }
  }
  return Fail("CardDeck::GetNumCardsInSuit() - Error, the suit ID was not found.  Suit ID: " +
              std::to_string(suitID));
}

void CardDeck::SetShuffleType(ShuffleType type) {
  MutexLock lock(&mMutex);
  mShuffleType = (type == Normal) ? Normal : Group;
  Rebuild();
}

ShuffleType CardDeck::GetShuffleType() const {
  MutexLock lock(&mMutex);
  return mShuffleType == Normal ? Normal : Group;
}

int CardDeck::SetMaxConsectutiveSameSuitCards(int32_t value) {
  MutexLock lock(&mMutex);
  if (value <= 0) {
    return Fail(
        "CardDeck::SetMaxConsectutiveSameSuitCards() - Error, the max value must be greater than "
        "zero.  Max Value: " +
        std::to_string(value));
  }
  mMaxConsecutiveSameSuitCards = value;
  return 0;
}

int32_t CardDeck::GetMaxConsectutiveSameSuitCards() const {
  MutexLock lock(&mMutex);
  return mMaxConsecutiveSameSuitCards;
}

int CardDeck::SetShuffleSwapCount(int32_t count) {
  MutexLock lock(&mMutex);
  if (count <= 0) {
    return Fail(
        "CardDeck::SetShuffleSwapCount() - Error, the swap count must be greater than zero.  "
        "Swap Count: " +
        std::to_string(count));
  }
  mShuffleSwapCount = count;
  return 0;
}

int32_t CardDeck::Draw(int32_t first, int32_t last) {
  return first + mRandom.Next() % (last - first + 1);
}

int CardDeck::ShuffleRange(int32_t first, int32_t last, bool enforceRunLimit) {
  const int32_t num_cards = static_cast<int32_t>(mCards.size());
  if (first >= last || first < 0 || last >= num_cards) return 0;

  for (int32_t swap = 0; swap < mShuffleSwapCount; ++swap) {
    const int32_t x = Draw(first, last);
    const int32_t y = Draw(first, last);
    std::swap(mCards[x], mCards[y]);
  }
  if (!enforceRunLimit) return 0;

  // The repair keeps the best order it meets (the fewest cards beyond the
  // limit; of equals, the latest), so that a failed repair leaves the best
  // order found, not merely the last one. The count is kept up to date
  // around each swap, and the swaps since the best order are kept to return
  // to it.
  const int32_t limit = mMaxConsecutiveSameSuitCards;
  int64_t breaks = CountRunLimitBreaks(0, num_cards - 1);
  int64_t bestBreaks = breaks;
  std::vector<std::pair<int32_t, int32_t>> sinceBest;
  for (int32_t attempt = 0; attempt < kMaxRepairAttempts; ++attempt) {
    // Find the first card that makes a run longer than the limit.
    int32_t marked = -1;
    int32_t run = 1;
    for (int32_t j = 0; j + 1 < num_cards; ++j) {
      run = (mCards[j] == mCards[j + 1]) ? run + 1 : 1;
      if (run > limit) {
        marked = j + 1;
        break;
      }
    }
    if (marked < 0) return 0;
    const int32_t y = Draw(first, last);
    // Only the cards up to `limit` after each swapped position can change
    // whether they break the limit.
    breaks -= CountBreaksAfter(marked, y);
    std::swap(mCards[marked], mCards[y]);
    breaks += CountBreaksAfter(marked, y);
    if (breaks <= bestBreaks) {
      bestBreaks = breaks;
      sinceBest.clear();
    } else {
      sinceBest.emplace_back(marked, y);
    }
  }
  // Back to the best order found.
  for (auto it = sinceBest.rbegin(); it != sinceBest.rend(); ++it) {
    std::swap(mCards[it->first], mCards[it->second]);
  }
  if (bestBreaks == 0) return 0;  // the last swap met the limit after all
  return Fail(kShuffleFailed);
}

int64_t CardDeck::CountRunLimitBreaks(int32_t lo, int32_t hi) const {
  const int32_t num_cards = static_cast<int32_t>(mCards.size());
  const int32_t limit = mMaxConsecutiveSameSuitCards;
  if (hi >= num_cards) hi = num_cards - 1;
  if (lo < 0) lo = 0;
  if (lo > hi) return 0;
  // A card at p breaks the limit when it and the `limit` cards before it
  // are of one suit; the run is counted from `limit` cards before lo.
  int64_t count = 0;
  const int32_t start = lo - limit > 0 ? lo - limit : 0;
  int64_t run = 1;
  for (int32_t p = start + 1; p <= hi; ++p) {
    run = mCards[p] == mCards[p - 1] ? run + 1 : 1;
    if (p >= lo && run > limit) ++count;
  }
  return count;
}

int64_t CardDeck::CountBreaksAfter(int32_t x, int32_t y) const {
  const int32_t limit = mMaxConsecutiveSameSuitCards;
  const int32_t lo = std::min(x, y);
  const int32_t hi = std::max(x, y);
  if (hi - lo <= limit) return CountRunLimitBreaks(lo, hi + limit);
  return CountRunLimitBreaks(lo, lo + limit) + CountRunLimitBreaks(hi, hi + limit);
}

std::vector<int32_t> CardDeck::GetRunLimitBreaks() const {
  MutexLock lock(&mMutex);
  std::vector<int32_t> positions;
  if (mShuffleType != Normal) return positions;
  int64_t run = 1;
  for (size_t p = 1; p < mCards.size(); ++p) {
    run = mCards[p] == mCards[p - 1] ? run + 1 : 1;
    if (run > mMaxConsecutiveSameSuitCards) positions.push_back(static_cast<int32_t>(p) + 1);
  }
  return positions;
}

int CardDeck::Shuffle() {
  MutexLock lock(&mMutex);
  const int32_t num_cards = static_cast<int32_t>(mCards.size());
  if (mShuffleType == Normal) return ShuffleRange(0, num_cards - 1, true);

  const int32_t num_suits = static_cast<int32_t>(mSuits.size());
  if (num_suits == 0 || num_cards == 0) return 0;
  // Blocks are aligned to multiples of the number of suits; the run limit
  // does not apply to a Group deck.
  for (int32_t start = 0; start < num_cards; start += num_suits) {
    const int32_t last = std::min(start + num_suits - 1, num_cards - 1);
    if (ShuffleRange(start, last, false) != 0) return -1;
  }
  return 0;
}

int CardDeck::SetSuitPosition(int32_t suitID, int32_t index) {
  MutexLock lock(&mMutex);
  const int32_t num_cards = static_cast<int32_t>(mCards.size());
  if (index < 0 || index >= num_cards) {
    return Fail("CardDeck::SetSuitPosition() - Error, the list index is out of range.  Range(0.." +
                std::to_string(num_cards) + ") Index: " + std::to_string(index));
  }
  if (mCards[index] == suitID) return 0;
  for (int32_t i = index + 1; i < num_cards; ++i) {
    if (mCards[i] == suitID) {
      std::swap(mCards[i], mCards[index]);
      return 0;
    }
  }
  return Fail(
      "CardDeck::SetSuitPosition() - Error, the requested suitID was not found in the remainder "
      "of the list.  suit ID: " +
      std::to_string(suitID) + ", list index: " + std::to_string(index));
}

int32_t CardDeck::GetNumCards() const {
  MutexLock lock(&mMutex);
  return static_cast<int32_t>(mCards.size());
}

void CardDeck::ResetDeal() {
  MutexLock lock(&mMutex);
  mNextCardIndex = 0;
}

int CardDeck::DealNextCard(int32_t& suitID) {
  MutexLock lock(&mMutex);
  if (mNextCardIndex < 0 || mNextCardIndex >= static_cast<int32_t>(mCards.size())) return -1;
  suitID = mCards[mNextCardIndex];
  ++mNextCardIndex;
  return 0;
}

void CardDeck::Seed(uint32_t seed) {
  MutexLock lock(&mMutex);
  mRandom.Seed(seed);
}

std::vector<int32_t> CardDeck::GetOrder() const {
  MutexLock lock(&mMutex);
  return mCards;
}

int32_t CardDeck::GetNextCardIndex() const {
  MutexLock lock(&mMutex);
  return mNextCardIndex;
}

std::string CardDeck::GetSetupFileLines(TrialContainer& trials) const {
  std::vector<int32_t> cards;
  std::string lines;
  {
    MutexLock lock(&mMutex);
    lines = "-SetShuffleType " + std::string(mShuffleType == Normal ? "Normal" : "Group") + "\r\n";
    lines += "-SetShuffleMaxConsecutiveTypeCount " + std::to_string(mMaxConsecutiveSameSuitCards) +
             "\r\n";
    cards = mCards;
  }
  // The trial list is asked without the deck's lock: it takes its own lock
  // first and may call the deck.
  for (std::size_t i = 0; i < cards.size(); ++i) {
    Trial* trial = nullptr;
    if (trials.GetTrial(cards[i], trial) != 0) continue;  // the lookup logged why
    lines += "-SetTrialOrder \"" + trial->GetName() + "\" " + std::to_string(i) + "\r\n";
  }
  return lines;
}

std::string CardDeck::GetMessage() const {
  MutexLock lock(&mMutex);
  return mMessage;
}

}  // namespace orvanta
