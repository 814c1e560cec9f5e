// The trial worker's start triggers: opening the trigger objects' streams at
// the start of a run, and the wait of a trial whose type has a trigger.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "log/log_file.h"
#include "platform/text_format.h"
#include "trials/card_deck.h"
#include "trials/run_step.h"
#include "trials/trial_container.h"
#include "trials/trigger_source.h"

namespace orvanta {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string Milliseconds(SteadyClock::duration duration) {
  const double ms = std::chrono::duration<double, std::milli>(duration).count();
  return text_format::Format("%.3f", ms);
}

}  // namespace

bool TrialContainer::OpenTriggers(Run& run, TriggerSource* triggers, RunSummary& end) {
  std::vector<std::pair<int32_t, std::string>> suits;  // suit ID, trigger object
  {
    MutexLock lock(&mMutex);
    for (std::size_t i = 0; i < mTrials.size(); ++i) {
      const TrialTrigger trigger = mTrials[i]->GetStartTrigger();
      if (trigger.enabled) suits.emplace_back(mSuitIDs[i], trigger.object);
    }
  }
  std::vector<std::string> objects;
  for (const auto& [suitID, object] : suits) {
    int32_t cards = 0;
    if (deck_.GetNumCardsInSuit(suitID, cards) != 0 || cards <= 0) continue;
    if (std::find(objects.begin(), objects.end(), object) == objects.end()) {
      objects.push_back(object);
    }
  }
  if (objects.empty()) return false;
  std::string error;
  if (triggers == nullptr) {
    error = "this program has no data streams to wait on";
  } else if (triggers->OpenObjects(objects, &run.stop, error)) {
    return true;
  }
  if (run.stop.IsRequested()) return false;
  end.triggerFailure = "The start triggers could not be set up: " + error;
  Note(kLogError, "TrialContainer::ProcessTrials() - Error, " + end.triggerFailure);
  return false;
}

TriggerWaitEnd TrialContainer::WaitForTrigger(Run& run, Step& step, const TrialTrigger& trigger,
                                              TriggerSource* triggers) {
  RunClock& clock = *step.clock;
  const std::string what =
      std::to_string(trigger.count) + (trigger.count == 1 ? " record of " : " records of ") +
      trigger.object +
      (trigger.count == 1 ? std::string() : " within " + std::to_string(trigger.windowMs) + " ms");
  // An object set during the run is opened when its first trial comes.
  std::string error;
  if (triggers == nullptr || !triggers->OpenObjects({trigger.object}, step.stop, error)) {
    if (!step.Stopped()) {
      step.end->triggerFailure =
          "The start trigger of trial #" + std::to_string(step.trialNumber) +
          " could not be set up: " + (triggers == nullptr ? "no data streams" : error);
      Note(kLogError, "TrialContainer::ProcessTrials() - Error, " + step.end->triggerFailure);
    }
    return TriggerWaitEnd::kInterrupted;
  }
  Note(kLogNotice, "TrialContainer::ProcessTrials() - Trial #" + std::to_string(step.trialNumber) +
                       " waits for its start trigger: " + what + ", timeout " +
                       std::to_string(trigger.timeoutMs) + " ms.");
  ++step.end->triggerWaits;
  const SteadyClock::time_point waitFrom = clock.Now();
  for (;;) {
    // Armed before the flags are read: a Stop or Pause after this point
    // interrupts the wait below.
    triggers->Arm(trigger.object, trigger.count, trigger.windowMs);
    if (step.Stopped()) {
      triggers->Disarm();
      return TriggerWaitEnd::kInterrupted;
    }
    if (IsPaused()) {
      triggers->Disarm();
      RunSchedule::Duration paused{};
      if (!WaitWhilePaused(run, step.trialNumber, clock, paused)) {
        return TriggerWaitEnd::kInterrupted;
      }
      continue;  // waits anew, with its whole timeout
    }
    TriggerRecord record;
    record.trialNumber = step.trialNumber;
    record.trialName = step.trialName;
    record.object = trigger.object;
    record.count = trigger.count;
    record.windowMs = trigger.windowMs;
    record.timeoutMs = trigger.timeoutMs;
    record.armedAt = clock.Now();
    const auto deadline =
        record.armedAt + std::chrono::milliseconds(std::max<int32_t>(trigger.timeoutMs, 0));
    SteadyClock::time_point arrivedAt;
    const TriggerWaitEnd ended = triggers->WaitUntil(deadline, arrivedAt);
    triggers->Disarm();
    if (ended == TriggerWaitEnd::kInterrupted) continue;  // Stop or Pause, read above
    record.decidedAt = clock.Now();
    // The trial's plan moves by the time it waited.
    const auto waited = record.decidedAt - waitFrom;
    step.schedule->Shift(waited);
    step.mark = step.timing == TimingMode::kFixed ? step.mark + waited : record.decidedAt;
    if (ended == TriggerWaitEnd::kFired) {
      record.outcome = TriggerOutcome::kFired;
      record.arrivedAt = arrivedAt;
      step.firedTrigger = std::move(record);
      return ended;
    }
    const bool skip = trigger.onTimeout == TriggerTimeout::kSkip;
    record.outcome = skip ? TriggerOutcome::kTimedOutSkipped : TriggerOutcome::kTimedOutPlayed;
    ++step.end->triggerTimeouts;
    if (skip) ++step.end->triggerSkipped;
    Note(kLogWarning, "TrialContainer::ProcessTrials() - Warning, the start trigger of trial #" +
                          std::to_string(step.trialNumber) + " timed out after " +
                          std::to_string(trigger.timeoutMs) + " ms without " + what +
                          (skip ? "; the trial is skipped." : "; the trial is played anyway."));
    if (RunObserver* observer = mObserver.load()) observer->OnTrigger(record);
    return ended;
  }
}

void TrialContainer::NoteTrigger(Step& step) {
  const TriggerRecord record = std::move(*step.firedTrigger);
  step.firedTrigger.reset();
  if (RunObserver* observer = mObserver.load()) observer->OnTrigger(record);
  Note(kLogNotice,
       "TrialContainer::ProcessTrials() - Trial #" + std::to_string(record.trialNumber) +
           " started on its trigger, the deciding record of " + record.object + " arrived " +
           Milliseconds(record.arrivedAt - record.armedAt) + " ms into the wait" +
           (record.hasLatency ? ", latency " + Milliseconds(record.latency) + " ms."
                              : ", the start sends no command."));
}

}  // namespace orvanta
