// The card deck: builds the run order from the suits' card counts, shuffles
// it under the consecutive-type limit, restores saved orders card by card and
// deals it to the trial worker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mutex.h"

namespace orvanta {

class LogFile;
class TrialContainer;

enum ShuffleType : int32_t { Normal = 0, Group = 1 };

// The runtime library's rand(): state s -> s * 214013 + 2531011 (mod 2^32),
// result bits 16..30 of the new state (0..32767). Initial state 1.
class DeckRandom {
 public:
  void Seed(uint32_t seed) { state_ = seed; }
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }
  uint32_t state() const { return state_; }

 private:
  uint32_t state_ = 1;
};

// Status results: 0 success, -1 failure (logged at ERROR); out-parameters are
// written only on success.
//
// Thread-safety: every operation takes the deck's own lock, so the trial
// worker may deal while the window reads the order with GetOrder(). Changes
// and shuffles come from the window thread only, and the window keeps them
// out of a running sequence.
class CardDeck {
 public:
  explicit CardDeck(LogFile& log);  // `log` must outlive the deck
  CardDeck(const CardDeck&) = delete;
  CardDeck& operator=(const CardDeck&) = delete;
  virtual ~CardDeck();

  // Appends a suit of one card and rebuilds (any shuffle is lost).
  int AddSuit(int32_t suitID);
  // Drops the suit's cards; the other cards keep their order. No rebuild.
  int RemoveSuit(int32_t suitID);
  // The most cards a deck may hold through SetNumCardsInSuit.
  static constexpr int32_t kMaxCards = 1000000;

  // count >= 0, and the deck may not grow beyond kMaxCards; rebuilds.
  int SetNumCardsInSuit(int32_t suitID, int32_t count);
  int GetNumCardsInSuit(int32_t suitID, int32_t& count) const;
  // Stores the type and rebuilds. Any value other than Normal is Group.
  void SetShuffleType(ShuffleType type);
  ShuffleType GetShuffleType() const;
  // value > 0; no rebuild.
  int SetMaxConsectutiveSameSuitCards(int32_t value);
  int32_t GetMaxConsectutiveSameSuitCards() const;
  // count > 0: random swaps per shuffled range (10000 unless changed).
  int SetShuffleSwapCount(int32_t count);
  // Normal: swaps over the whole deck, then up to 10000 repairs of runs
  // longer than the maximum; -1 when the runs could not be repaired (the deck
  // keeps the best order the repairs met: the fewest cards beyond the
  // limit, see GetRunLimitBreaks). Group: each block of N positions
  // (N = number of suits) is shuffled on its own; runs are not limited.
  int Shuffle();
  // Swaps the first card of the suit at or after `index` into `index`;
  // applying a saved order in increasing index restores it exactly.
  int SetSuitPosition(int32_t suitID, int32_t index);
  int32_t GetNumCards() const;
  // Deal cursor back to position 0. Rebuilds do not move the cursor.
  void ResetDeal();
  // The card at the cursor, then advances; -1 (no message) past the end.
  int DealNextCard(int32_t& suitID);

  // Seeds the generator (srand). Nothing in the window calls it, so a program
  // start gives the same orders for the same operations.
  void Seed(uint32_t seed);

  // The whole sequence, position 0 first, read without moving the deal cursor.
  std::vector<int32_t> GetOrder() const;
  // A Normal deck's cards that break the consecutive-type limit: the 1-based
  // positions of the cards that make a run longer than the maximum, in
  // order. Empty when the order meets the limit, and for a Group deck (whose
  // runs are not limited).
  std::vector<int32_t> GetRunLimitBreaks() const;
  // The position of the next card to deal.
  int32_t GetNextCardIndex() const;

  // "-SetShuffleType", "-SetShuffleMaxConsecutiveTypeCount" and one
  // "-SetTrialOrder" line per card, CR LF. Trial names come from `trials`.
  std::string GetSetupFileLines(TrialContainer& trials) const;

  std::string GetMessage() const;

 private:
  // See the .cpp for the algorithms; all REQUIRE mMutex.
  void Rebuild() REQUIRES(mMutex);
  int ShuffleRange(int32_t first, int32_t last, bool enforceRunLimit) REQUIRES(mMutex);
  int32_t Draw(int32_t first, int32_t last) REQUIRES(mMutex);
  // The cards at positions lo..hi (clipped to the deck) that break the
  // run limit.
  int64_t CountRunLimitBreaks(int32_t lo, int32_t hi) const REQUIRES(mMutex);
  // The cards a swap of positions x and y can change: those at x, y and up
  // to the limit after each.
  int64_t CountBreaksAfter(int32_t x, int32_t y) const REQUIRES(mMutex);
  // Formats the failure into mMessage, logs it at ERROR, returns -1.
  int Fail(const std::string& message) const REQUIRES(mMutex);

  struct Suit {
    int32_t suitID;
    int32_t count;
  };

  LogFile& log_;
  // Guards every member below. Lock order: the trial list's lock, then this
  // one, then the log's; never call the trial list while holding it.
  mutable Mutex mMutex;
  std::vector<int32_t> mCards GUARDED_BY(mMutex);
  std::vector<Suit> mSuits GUARDED_BY(mMutex);
  mutable std::string mMessage GUARDED_BY(mMutex);  // the last failure text
  int32_t mShuffleType GUARDED_BY(mMutex) = Normal;
  int32_t mShuffleSwapCount GUARDED_BY(mMutex) = 10000;
  int32_t mMaxConsecutiveSameSuitCards GUARDED_BY(mMutex) = 1;
  int32_t mNextCardIndex GUARDED_BY(mMutex) = 0;
  DeckRandom mRandom GUARDED_BY(mMutex);
};

}  // namespace orvanta
