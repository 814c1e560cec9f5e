// Shuffle: CardDeck::Shuffle on Normal decks of 1,000 and 100,000 cards,
// once with a run limit that the repair meets and once with a repair that
// fails, beside a straightforward implementation of the shuffle written here
// from the description of the algorithm: the runtime library's generator,
// the swap loop, and up to 10,000 repair attempts, each scanning the deck
// from position 0 for the first card beyond the limit, keeping the best
// order met (counted afresh after every repair) for a repair that fails.
//
// Both are given the same seed; the benchmark fails when the deck's order or
// status differs from the reference's, since an optimisation must never
// change a result.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_env.h"
#include "bench/bench_report.h"
#include "core/program_core.h"
#include "platform/clock.h"
#include "platform/window_listener.h"
#include "trials/card_deck.h"

namespace orvanta::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The reference: written from the algorithm's description, sharing no code
// with CardDeck.
class ReferenceShuffle {
 public:
  // A Normal deck: each suit's ID `count` times, suits in order.
  explicit ReferenceShuffle(const std::vector<std::pair<int32_t, int32_t>>& suits) {
    for (const auto& [id, count] : suits)
      for (int32_t i = 0; i < count; ++i) cards.push_back(id);
  }

  int Shuffle(uint32_t seed, int32_t swapCount, int32_t maxRun) {
    state_ = seed;
    const int32_t n = static_cast<int32_t>(cards.size());
    const int32_t first = 0, last = n - 1;
    if (first >= last) return 0;
    for (int32_t i = 0; i < swapCount; ++i) {
      const int32_t x = Draw(first, last);
      const int32_t y = Draw(first, last);
      const int32_t t = cards[x];
      cards[x] = cards[y];
      cards[y] = t;
    }
    // The best order met (fewest cards beyond the limit, the latest of
    // equals) is what a failed repair leaves.
    int64_t best = Breaks(maxRun);
    std::vector<int32_t> bestCards = cards;
    for (int attempt = 0; attempt < 10000; ++attempt) {
      int32_t run = 1, marked = -1;
      for (int32_t j = 0; j <= n - 2; ++j) {
        if (cards[j] == cards[j + 1]) {
          ++run;
        } else {
          run = 1;
        }
        if (run > maxRun) {
          marked = j + 1;
          break;
        }
      }
      if (marked == -1) return 0;
      ++repairs;
      const int32_t y = Draw(first, last);
      const int32_t t = cards[marked];
      cards[marked] = cards[y];
      cards[y] = t;
      const int64_t now = Breaks(maxRun);
      if (now <= best) {
        best = now;
        bestCards = cards;
      }
    }
    cards = bestCards;
    return best == 0 ? 0 : -1;
  }

  // The cards that make a run longer than maxRun.
  int64_t Breaks(int32_t maxRun) const {
    int64_t count = 0;
    int32_t run = 1;
    for (size_t j = 1; j < cards.size(); ++j) {
      run = cards[j] == cards[j - 1] ? run + 1 : 1;
      if (run > maxRun) ++count;
    }
    return count;
  }

  std::vector<int32_t> cards;
  int repairs = 0;

 private:
  int Rand() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }
  int32_t Draw(int32_t first, int32_t last) { return first + Rand() % (last - first + 1); }

  uint32_t state_ = 1;
};

struct Case {
  const char* name;
  int32_t suits;
  int32_t cardsPerSuit;   // every suit but the last
  int32_t lastSuitCards;  // the last suit
  int32_t maxRun;
  bool expectMet;
};

// 1,000 cards: ten types of 100 trials with the default limit of one; and
// 900 + 100 cards, which no order can keep apart. 100,000 cards: 1,000
// types of 100 with a limit of 50, met after several hundred repairs; and
// the same deck with a limit of one, which the repair cannot meet.
const Case kCases[] = {
    {"1000 cards, limit met", 10, 100, 100, 1, true},
    {"1000 cards, failing repair", 2, 900, 100, 1, false},
    {"100000 cards, limit met", 1000, 100, 100, 50, true},
    {"100000 cards, failing repair", 1000, 100, 100, 1, false},
};
constexpr uint32_t kSeed = 20240611;

std::vector<std::pair<int32_t, int32_t>> SuitsOf(const Case& c) {
  std::vector<std::pair<int32_t, int32_t>> suits;
  suits.reserve(c.suits);
  for (int32_t s = 0; s < c.suits; ++s)
    suits.emplace_back(s, s + 1 == c.suits ? c.lastSuitCards : c.cardsPerSuit);
  return suits;
}

struct Measured {
  double meanUs = 0;
  int status = 0;
  int repairs = 0;
  bool identical = true;
};
std::map<std::string, Measured> gDeck, gReference;

// The program-wide objects on quiet seams; the deck is the core's (its log
// opens no file).
struct QuietProgram {
  SystemClock clock;
  SilentBoxes boxes;
  MainWindowRef window;
  NoShell shell;
  ProgramCore core{{clock, boxes, window, shell}};
};

void BM_ReferenceShuffle(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.name);
  const ReferenceShuffle built(SuitsOf(c));
  double total = 0;
  int64_t runs = 0;
  Measured m;
  for (auto _ : state) {
    ReferenceShuffle deck = built;
    const auto t0 = SteadyClock::now();
    m.status = deck.Shuffle(kSeed, 10000, c.maxRun);
    const double us = MicrosBetween(t0, SteadyClock::now());
    state.SetIterationTime(us / 1e6);
    total += us;
    ++runs;
    m.repairs = deck.repairs;
    benchmark::DoNotOptimize(deck.cards.data());
  }
  m.meanUs = total / static_cast<double>(runs);
  gReference[c.name] = m;
}

void BM_CardDeckShuffle(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  state.SetLabel(c.name);
  QuietProgram quiet;
  CardDeck& deck = quiet.core.deck();
  for (const auto& [id, count] : SuitsOf(c)) {
    deck.AddSuit(id);
    deck.SetNumCardsInSuit(id, count);
  }
  deck.SetMaxConsectutiveSameSuitCards(c.maxRun);

  double total = 0;
  int64_t runs = 0;
  Measured m;
  for (auto _ : state) {
    deck.SetShuffleType(Normal);  // rebuilds: every shuffle starts from the built order
    deck.Seed(kSeed);
    const auto t0 = SteadyClock::now();
    m.status = deck.Shuffle();
    const double us = MicrosBetween(t0, SteadyClock::now());
    state.SetIterationTime(us / 1e6);
    total += us;
    ++runs;
  }
  m.meanUs = total / static_cast<double>(runs);

  // The order must be the reference's, card for card.
  ReferenceShuffle reference(SuitsOf(c));
  const int referenceStatus = reference.Shuffle(kSeed, 10000, c.maxRun);
  m.repairs = reference.repairs;
  m.identical = deck.GetOrder() == reference.cards && m.status == referenceStatus;
  if (!m.identical) state.SkipWithError("the deck's order differs from the reference's");
  if ((m.status == 0) != c.expectMet) state.SkipWithError("unexpected shuffle outcome");
  gDeck[c.name] = m;
}

void Register() {
  for (int i = 0; i < static_cast<int>(std::size(kCases)); ++i) {
    benchmark::RegisterBenchmark("BM_ReferenceShuffle", BM_ReferenceShuffle)
        ->Arg(i)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_CardDeckShuffle", BM_CardDeckShuffle)
        ->Arg(i)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

void Summarize(Summary& s) {
  bool allIdentical = true;
  int compared = 0;
  for (const Case& c : kCases) {
    if (!gDeck.count(c.name) || !gReference.count(c.name)) continue;
    const Measured& d = gDeck[c.name];
    const Measured& r = gReference[c.name];
    ++compared;
    allIdentical = allIdentical && d.identical;
    s.Add(std::string(c.name) + " (" + std::to_string(d.repairs) + " repairs, status " +
              std::to_string(d.status) + ")",
          d.meanUs / 1000.0, "ms", "reference", r.meanUs / 1000.0);
  }
  Figure& same = s.AddPlain("orders and statuses identical to the reference", 0, "");
  same.text = compared == 0 ? "not compared" : (allIdentical ? "yes" : "NO");
  same.goal = "identical for the same seed";
  same.met = compared > 0 && allIdentical;
  s.Note("Seed " + std::to_string(kSeed) +
         ", 10,000 swaps, up to 10,000 repair attempts; the time is one Shuffle call, the "
         "rebuild before it not counted.");
  s.Note(
      "Draws are rand() % range with rand() in 0..32767, so in a deck of more than "
      "32,768 cards only the first 32,768 positions are ever drawn.");
}

}  // namespace
}  // namespace orvanta::bench

int main(int argc, char** argv) {
  orvanta::bench::Register();
  return orvanta::bench::RunAndReport(argc, argv, "4. Shuffle", orvanta::bench::Summarize);
}
