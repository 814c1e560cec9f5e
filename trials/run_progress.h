// How far a run has got: the trial it is at, the time it has taken and the
// time it still needs by the nominal durations. Both front ends show it: the
// window in its status bar, the headless runner on its progress line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "trials/run_observer.h"
#include "trials/run_verdict.h"

namespace orvanta {

class CardDeck;
class TrialContainer;

// The nominal length of each trial of the deck's order, in milliseconds:
// duration, interval and the widths of the pulses that are switched on
// (negative values count as 0). A card without a type counts 0. Looks the
// types up without logging.
std::vector<int64_t> NominalTrialLengths(TrialContainer& trials, const CardDeck& deck);

// The nominal time still needed from trial `trial` (1-based) to the end of
// the order, of which `passedInTrial` ms of trial `trial` have gone by
// already (counted at most its length).
int64_t RemainingRunMs(const std::vector<int64_t>& lengths, int32_t trial, int64_t passedInTrial);

// "m:ss", or "h:mm:ss" from an hour on; negative times show as 0:00.
std::string FormatRunDuration(int64_t ms);

// A snapshot of the run, as the trial list's worker last reported it.
struct RunProgress {
  enum class State {
    kIdle,  // no run since the program started
    kRunning,
    kPaused,     // running, and waiting before its next trial
    kCompleted,  // the last run played its whole order
    kStopped,    // the last run was stopped
    kFailed,     // the last run lost its connection, or had failed commands
  };
  State state = State::kIdle;
  int32_t firstTrial = 1;  // the trial the run started at
  int32_t numTrials = 0;   // trials in the whole order
  int32_t trial = 0;       // the trial begun last; 0 before the first
  std::string trialName;   // its type's name ("" for a card without a type)
  std::chrono::steady_clock::time_point runStart;
  std::chrono::steady_clock::time_point trialStart;
  // Why the last run failed, in a few words; empty unless kFailed.
  std::string failure;
  // The run's verdict; meaningful once the run has ended.
  RunVerdict verdict;
  // When the run ended (completed, stopped or failed); runStart before that.
  std::chrono::steady_clock::time_point runEnd;

  // Milliseconds since the run started (to its end, once it has ended).
  int64_t ElapsedMs(std::chrono::steady_clock::time_point now) const;
};

// Kept by the trial list: the worker reports to it, any thread reads a
// snapshot. Each call takes a leaf lock for a few assignments only, so the
// worker is never held up.
class RunProgressTracker {
 public:
  void RunStarted(int32_t firstTrial, int32_t numTrials, std::chrono::steady_clock::time_point at)
      EXCLUDES(mutex_);
  void TrialStarted(int32_t trial, const std::string& name,
                    std::chrono::steady_clock::time_point at) EXCLUDES(mutex_);
  // The state follows the run's verdict.
  void RunEnded(const RunVerdict& verdict, std::chrono::steady_clock::time_point at)
      EXCLUDES(mutex_);
  RunProgress Snapshot() const EXCLUDES(mutex_);

 private:
  mutable Mutex mutex_;  // a leaf: nothing is called while it is held
  RunProgress progress_ GUARDED_BY(mutex_);
};

}  // namespace orvanta
