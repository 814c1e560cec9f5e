#include "trials/run_progress.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"
#include "trials/trial_period.h"

namespace orvanta {

std::vector<int64_t> NominalTrialLengths(TrialContainer& trials, const CardDeck& deck) {
  // Each type's length by suit ID, looked up by name so that nothing is
  // logged; a card without a type is reported by the run itself.
  std::vector<std::pair<int32_t, int64_t>> bySuit;
  for (const std::string& name : trials.GetTrialNames()) {
    Trial* trial = nullptr;
    int32_t suit = -1;
    if (trials.GetSuitID(name, suit) != 0 || trials.GetTrial(name, trial) != 0 ||
        trial == nullptr) {
      continue;
    }
    bySuit.emplace_back(suit, NominalTrialPeriod(*trial).periodMs);
  }
  std::vector<int64_t> lengths;
  for (int32_t suit : deck.GetOrder()) {
    int64_t length = 0;
    for (const auto& [id, l] : bySuit) {
      if (id == suit) length = l;
    }
    lengths.push_back(length);
  }
  return lengths;
}

int64_t RemainingRunMs(const std::vector<int64_t>& lengths, int32_t trial, int64_t passedInTrial) {
  if (trial < 1) trial = 1;
  int64_t left = 0;
  for (size_t t = static_cast<size_t>(trial); t <= lengths.size(); ++t) left += lengths[t - 1];
  if (static_cast<size_t>(trial) <= lengths.size() && passedInTrial > 0) {
    const int64_t current = lengths[trial - 1];
    left -= passedInTrial < current ? passedInTrial : current;
  }
  return left;
}

std::string FormatRunDuration(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t seconds = (ms + 500) / 1000;
  char text[40];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
  }
  return text;
}

int64_t RunProgress::ElapsedMs(std::chrono::steady_clock::time_point now) const {
  if (state == State::kIdle) return 0;
  const bool ended =
      state == State::kCompleted || state == State::kStopped || state == State::kFailed;
  const auto end = ended ? runEnd : now;
  return std::chrono::duration_cast<std::chrono::milliseconds>(end - runStart).count();
}

void RunProgressTracker::RunStarted(int32_t firstTrial, int32_t numTrials,
                                    std::chrono::steady_clock::time_point at) {
  MutexLock lock(&mutex_);
  progress_ = RunProgress{};
  progress_.state = RunProgress::State::kRunning;
  progress_.firstTrial = firstTrial;
  progress_.numTrials = numTrials;
  progress_.runStart = progress_.trialStart = progress_.runEnd = at;
}

void RunProgressTracker::TrialStarted(int32_t trial, const std::string& name,
                                      std::chrono::steady_clock::time_point at) {
  MutexLock lock(&mutex_);
  progress_.trial = trial;
  progress_.trialName = name;
  progress_.trialStart = at;
}

void RunProgressTracker::RunEnded(const RunVerdict& verdict,
                                  std::chrono::steady_clock::time_point at) {
  const RunSummary& end = verdict.summary;
  std::string failure;
  if (end.connectionLost) {
    failure = "the connection to the server was lost";
  } else if (end.failedCommands > 0) {
    failure = std::to_string(end.failedCommands) +
              (end.failedCommands == 1 ? " command" : " commands") +
              " failed, the first in trial #" + std::to_string(end.firstFailure.trialNumber);
  }
  MutexLock lock(&mutex_);
  switch (end.outcome) {
    case RunOutcome::kCompleted:
      progress_.state = RunProgress::State::kCompleted;
      break;
    case RunOutcome::kStopped:
      progress_.state = RunProgress::State::kStopped;
      break;
    case RunOutcome::kFailed:
      progress_.state = RunProgress::State::kFailed;
      break;
  }
  progress_.failure = progress_.state == RunProgress::State::kFailed ? std::move(failure) : "";
  progress_.verdict = verdict;
  progress_.runEnd = at;
}

RunProgress RunProgressTracker::Snapshot() const {
  MutexLock lock(&mutex_);
  return progress_;
}

}  // namespace orvanta
