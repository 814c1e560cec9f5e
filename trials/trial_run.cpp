// The run side of the trial list: the worker thread that plays the card deck
// and the commands a trial sends to the acquisition server. Its start, pause,
// stop and joins are in run_control.cpp.
#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "log/log_file.h"
#include "platform/command_channel.h"
#include "trials/card_deck.h"
#include "trials/reply_text.h"
#include "trials/run_step.h"
#include "trials/run_verdict.h"
#include "trials/trial_container.h"
#include "trials/trial_period.h"
#include "trials/trigger_source.h"
#include "trials/worker_priority.h"

namespace orvanta {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

const char* RunOutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kCompleted:
      return "completed";
    case RunOutcome::kStopped:
      return "stopped";
    case RunOutcome::kFailed:
      break;
  }
  return "failed";
}

const char* TriggerOutcomeName(TriggerOutcome outcome) {
  switch (outcome) {
    case TriggerOutcome::kFired:
      return "fired";
    case TriggerOutcome::kTimedOutPlayed:
      return "timed out, played";
    case TriggerOutcome::kTimedOutSkipped:
      break;
  }
  return "timed out, skipped";
}

const char* RunStepName(RunStep step) {
  switch (step) {
    case RunStep::kStartEvent:
      return "start event";
    case RunStep::kWav:
      return "wav";
    case RunStep::kStartPulse:
      return "start pulse";
    case RunStep::kEndPulse:
      return "end pulse";
    case RunStep::kEndEvent:
      return "end event";
    case RunStep::kOther:
      break;
  }
  return "other";
}

int32_t TrialContainer::PortValueForBit(int32_t bitNumber) {
  // 2 to the power of the bit, truncated, then taken as a signed 16-bit
  // number: bit 15 is the sign bit; bits beyond the port give 0.
  if (bitNumber < 0 || bitNumber > 15) return 0;
  return static_cast<int16_t>(static_cast<uint16_t>(1u << bitNumber));
}

void TrialContainer::SetCommandChannel(CommandChannel* channel) { mChannel.store(channel); }

void TrialContainer::SetRunObserver(RunObserver* observer) { mObserver.store(observer); }

void TrialContainer::SetTriggerSource(TriggerSource* source) { mTriggers.store(source); }

void TrialContainer::SetTimingMode(TimingMode mode) { mTimingMode.store(mode); }

TimingMode TrialContainer::GetTimingMode() const { return mTimingMode.load(); }

void TrialContainer::SetTimingTolerance(int32_t ms) { mTimingTolerance.store(ms < 0 ? 0 : ms); }

int32_t TrialContainer::GetTimingTolerance() const { return mTimingTolerance.load(); }

std::string TrialContainer::GetTimingSetupLines() const {
  std::string lines;
  if (mTimingMode.load() == TimingMode::kFixed) {
    lines += std::string("-SetTimingMode ") + TimingModeName(TimingMode::kFixed) + "\r\n";
  }
  const int32_t tolerance = mTimingTolerance.load();
  if (tolerance != kDefaultTimingToleranceMs) {
    lines += "-SetTimingTolerance " + std::to_string(tolerance) + "\r\n";
  }
  return lines;
}

void TrialContainer::SetRunClock(RunClock* clock) {
  mClock.store(clock != nullptr ? clock : &mPreciseClock);
}

void TrialContainer::ProcessTrials(Run& run) {
  RaiseWorkerPriority();

  RunClock& clock = *mClock.load();
  RunSchedule schedule(run.timing);
  const int32_t numCards = deck_.GetNumCards();
  deck_.ResetDeal();
  RunObserver* observer = mObserver.load();
  if (run.firstTrial > 1 && !run.stop.IsRequested()) {
    Note(kLogNotice, "TrialContainer::ProcessTrials() - Starting at trial #" +
                         std::to_string(run.firstTrial) + " of " + std::to_string(numCards) +
                         ", the trials before it are skipped.");
  }
  mProgress.RunStarted(run.firstTrial, numCards, clock.Now());
  if (observer != nullptr) observer->OnRunStarted(run.firstTrial, numCards, clock.Now());

  RunSummary end;
  end.firstTrial = run.firstTrial;
  end.numTrials = numCards;
  end.timing.mode = run.timing;
  end.timing.toleranceMs = run.toleranceMs;
  Step step;
  step.stop = &run.stop;
  step.clock = &clock;
  step.schedule = &schedule;
  step.end = &end;
  step.timing = run.timing;
  TriggerSource* const triggers = mTriggers.load();
  const bool triggersOpen = OpenTriggers(run, triggers, end);
  bool stopped = !end.triggerFailure.empty();
  for (int32_t t = 1; t <= numCards && !stopped; ++t) {
    int32_t suitID = -1;
    if (t < run.firstTrial) {
      deck_.DealNextCard(suitID);
      continue;
    }
    RunSchedule::Duration paused{};
    if (!WaitWhilePaused(run, t, clock, paused)) break;
    schedule.Shift(paused);

    step.trialNumber = t;
    step.trialName.clear();
    step.step = RunStep::kOther;
    // The trial's waits count from here (relative) or from its planned onset
    // (fixed).
    step.mark = schedule.BeginTrial(clock.Now());
    SteadyClock::time_point onset = step.mark;
    window_.Call([t](WindowListener& window) { window.SetCurrentTrialNumber(t); });
    if (run.stop.IsRequested()) break;
    Note(kLogNotice, "Start Trial #" + std::to_string(t));

    // A card that cannot be dealt (the deck shrank under the run) is a card
    // without a trial type.
    if (deck_.DealNextCard(suitID) != 0) suitID = -1;
    // Kept alive for this trial even if removed meanwhile.
    const std::shared_ptr<Trial> trial = TrialOfSuit(suitID);
    if (trial == nullptr) {
      mProgress.TrialStarted(t, std::string(), step.mark);
      if (observer != nullptr) observer->OnTrialStarted(t, std::string(), clock.Now());
      Note(kLogError,
           "TrialContainer::ProcessTrials() - Error, the suit ID returned from the Card Deck was "
           "not found in our list.  Suit ID: " +
               std::to_string(suitID));
      continue;
    }
    step.trialName = trial->GetName();
    mProgress.TrialStarted(t, step.trialName, step.mark);
    if (observer != nullptr) observer->OnTrialStarted(t, step.trialName, clock.Now());

    const TrialTrigger trigger = trial->GetStartTrigger();
    if (trigger.enabled) {
      const TriggerWaitEnd waited = WaitForTrigger(run, step, trigger, triggers);
      if (step.Stopped() || !end.triggerFailure.empty()) break;
      if (waited == TriggerWaitEnd::kTimedOut && trigger.onTimeout == TriggerTimeout::kSkip) {
        continue;
      }
      onset = step.mark;  // the trial's period counts from its trigger
    }

    // Each setting is read when its step comes, so an edit during the run
    // takes effect at the next step that reads it.
    int32_t startPulseWidth = 0;  // as the fixed schedule counts it
    if (!PlayEdge(step, *trial, EdgeSide::kStart, startPulseWidth)) break;
    if (step.firedTrigger) NoteTrigger(step);  // the start sent nothing
    step.step = RunStep::kOther;
    if (!WaitUntil(step, schedule.TrialEnd(step.mark, startPulseWidth, trial->GetTrialDuration()),
                   "the end of the trial")) {
      break;
    }
    int32_t endPulseWidth = 0;
    if (!PlayEdge(step, *trial, EdgeSide::kEnd, endPulseWidth)) break;
    if (run.stop.IsRequested()) break;
    Note(kLogNotice, "End Trial #" + std::to_string(t));
    step.step = RunStep::kOther;
    const int32_t interval = trial->GetInterTrialInterval();
    stopped = !WaitUntil(step, schedule.NextTrial(step.mark, endPulseWidth, interval),
                         t == numCards ? "the end of the run" : "the start of the next trial");
    if (!stopped && run.timing == TimingMode::kRelative) {
      // The trial's period against its nominal one, as the settings read now
      // (the pulses with the widths they were played with).
      const TrialPeriod nominal = NominalTrialPeriod(trial->GetTrialDuration(), interval, true,
                                                     startPulseWidth, true, endPulseWidth);
      end.timing.Add(step.mark - onset - std::chrono::milliseconds(nominal.periodMs));
    }
  }

  // A laser or a valve must not stay on after a Stop or a lost connection.
  if (step.pulseSet) ResetPendingPulse(step);
  if (triggersOpen) triggers->CloseObjects(kPulseResetBound);

  FinishRun(run, end, numCards, clock, observer);
  MarkEnded(run);
}

std::shared_ptr<Trial> TrialContainer::TrialOfSuit(int32_t suitID) {
  MutexLock lock(&mMutex);
  for (std::size_t i = 0; i < mSuitIDs.size(); ++i) {
    if (mSuitIDs[i] == suitID) return mTrials[i];
  }
  return nullptr;
}

bool TrialContainer::PlayEdge(Step& step, const Trial& trial, EdgeSide side, int32_t& pulseWidth) {
  const bool start = side == EdgeSide::kStart;
  pulseWidth = 0;
  auto postEvent = [&] {
    const TrialEdge edge = trial.GetEdge(side);
    if (!edge.generateEvent) return true;
    step.step = start ? RunStep::kStartEvent : RunStep::kEndEvent;
    return PostEventIn(step, edge.eventString, edge.eventTTLValue);
  };
  // The start posts its event first and plays the wav before its pulse; the
  // end posts its event last.
  if (start && !postEvent()) return false;
  if (start && trial.GetPlayWavFile()) {
    step.step = RunStep::kWav;
    if (!PlayWavFileIn(step, trial.GetWavFileName(), trial.GetWavFileSubSystemName(),
                       trial.GetWavFileBoardNumber(), trial.GetWavFileBufferNumber())) {
      return false;
    }
  }
  const TrialEdge edge = trial.GetEdge(side);
  if (edge.generateTTLPulse) {
    step.step = start ? RunStep::kStartPulse : RunStep::kEndPulse;
    pulseWidth = edge.pulseDuration;
    if (!GenerateTTLPulseIn(step, edge.pulseSubSystemName, edge.pulseBoardNumber,
                            edge.pulseBitNumber, pulseWidth)) {
      return false;
    }
  }
  return start || postEvent();
}

void TrialContainer::FinishRun(Run& run, RunSummary& end, int32_t numCards, RunClock& clock,
                               RunObserver* observer) {
  // The run ended by itself (completed, or failed) unless a stop was
  // requested; decided under the run lock, which Stop holds when it requests
  // the stop.
  bool endedByItself = false;
  {
    MutexLock lock(&mRunMutex);
    if (!run.stop.IsRequested()) {
      endedByItself = true;
      mProcessing = false;
      mPaused = false;
    }
  }
  if (!endedByItself) {
    end.outcome = RunOutcome::kStopped;
  } else if (end.connectionLost || end.failedCommands > 0 || !end.triggerFailure.empty()) {
    end.outcome = RunOutcome::kFailed;
  }
  const auto endedAt = clock.Now();
  std::string note;
  RunRecordState record = RunRecordState::kNotKept;
  if (observer != nullptr) {
    observer->OnRunEnded(end);
    note = observer->CompletionNote();
    record = observer->RecordState();
  }
  // The one verdict of the run, which every front end reports.
  const RunVerdict verdict = RunVerdict::Of(end, record);
  mProgress.RunEnded(verdict, endedAt);
  // The window shows the end (title, status bar) before any box of the run.
  window_.Call([](WindowListener& window) { window.OnRunEnding(); });
  if (endedByItself) {
    // Logged now, with the run's end time, before the box waits for OK.
    const std::string failure = verdict.FailureText();
    const std::string trialsRun =
        (run.firstTrial > numCards
             ? std::string("none")
             : std::to_string(run.firstTrial) + " to " + std::to_string(numCards)) +
        " of " + std::to_string(numCards);
    if (!failure.empty()) {
      Note(kLogError, "TrialContainer::ProcessTrials() - " + failure);
    } else if (verdict.Plain()) {
      Note(kLogNotice, kRunCompletedLogText + trialsRun);
    } else {
      Note(kLogWarning, "TrialContainer::ProcessTrials() - Warning, trials " + verdict.Name() +
                            ".  Trials run: " + trialsRun);
    }
    std::string more = verdict.QualifierText("  ");
    if (!more.empty()) {
      more[0] = static_cast<char>(more[0] - 'A' + 'a');  // "The timing...", "No session..."
      Note(kLogWarning, "TrialContainer::ProcessTrials() - Warning, " + more);
    }
    if (boxes_ != nullptr) {
      std::string text = verdict.BoxText();
      if (!note.empty()) text += "\r\n\r\n" + note;
      boxes_->Show(text, "Trial Processing",
                   verdict.Plain()   ? BoxIcon::kNone
                   : failure.empty() ? BoxIcon::kWarning
                                     : BoxIcon::kError,
                   BoxButtons::kOk);
    }
    // The window's OnStop calls StopProcessingTrials, which returns at once:
    // the run is no longer processing.
    window_.Call([](WindowListener& window) { window.OnStop(); });
  } else if (verdict.timingOutside) {
    Note(kLogWarning, "TrialContainer::ProcessTrials() - Warning, until the stop " +
                          end.timing.Describe() + ".");
  }
}

bool TrialContainer::Exchange(Step& step, const std::string& command, std::string& reply,
                              const std::string& sentLine) {
  // After Stop, or once the connection is lost, nothing more is sent.
  if (step.Stopped() || step.ConnectionLost()) {
    step.last = ExchangeStatus::Failed(
        ExchangeResult::kNotSent,
        step.Stopped() ? ExchangeReason::kStopped : ExchangeReason::kNotConnected);
    return false;
  }
  std::string received;
  RunClock& clock = step.clock != nullptr ? *step.clock : *mClock.load();
  CommandRecord record = step.NewRecord(command, clock.Now());
  step.lastSent = record.sentAt;
  if (CommandChannel* channel = mChannel.load()) {
    record.status = channel->Exchange(command, received, step.stop);
  } else {
    record.status = ExchangeStatus::Failed(ExchangeResult::kNotSent, ExchangeReason::kNotConnected);
  }
  record.repliedAt = clock.Now();
  step.mark = record.repliedAt;
  step.last = record.status;
  const bool replied = record.status == ExchangeResult::kReplied;
  reply.clear();
  if (replied) {
    reply = received;
    record.replied = true;
    record.reply = std::move(received);
  }
  // An exchange that failed because of the stop may not have been sent at
  // all; it is neither logged nor counted.
  const bool stopped = !replied && (record.status == ExchangeResult::kStopped || step.Stopped());
  // Without a channel at all (the model on its own) nothing is counted.
  const bool inRun = step.end != nullptr && mChannel.load() != nullptr;
  // The "Sent" line stands for every command that may have reached the rig:
  // one that got no reply has it too, with the reply empty, before its error.
  const bool mayHaveArrived = replied || record.status == ExchangeResult::kNoReply;
  if (!stopped && (!inRun || mayHaveArrived)) Note(kLogNotice, sentLine + ShownReply(reply));
  if (!replied && !stopped && inRun) {
    RunSummary& end = *step.end;
    record.failed = true;
    if (end.failedCommands++ == 0) end.firstFailure = record;
    Note(kLogError, "TrialContainer::ProcessTrials() - Error, a command of trial #" +
                        std::to_string(step.trialNumber) + " failed: " + record.status.Describe() +
                        ".  Command: " + command);
    if (record.status.ConnectionLost()) {
      end.connectionLost = true;
      end.lostAt = record;
    }
  }
  if (step.firedTrigger) {
    if (record.MaybeSent()) {
      step.firedTrigger->hasLatency = true;
      step.firedTrigger->latency = record.sentAt - step.firedTrigger->arrivedAt;
    }
    NoteTrigger(step);
  }
  if (RunObserver* observer = mObserver.load()) observer->OnCommand(record);
  if (stopped || step.ConnectionLost()) return false;
  return true;
}

void TrialContainer::ResetPendingPulse(Step& step) {
  step.pulseSet = false;
  const std::string board = std::to_string(step.pulseBoard);
  const std::string command =
      "-SetDIOPortOutput " + Quoted(step.pulseSubSystem) + " " + board + " 0";
  std::string received;
  RunClock& clock = step.clock != nullptr ? *step.clock : *mClock.load();
  CommandRecord record = step.NewRecord(command, clock.Now());
  if (CommandChannel* channel = mChannel.load()) {
    // The run's own stop request would refuse it: this exchange has a bound
    // of its own.
    StopSignal bound;
    StopSignal done;
    std::thread timer([&bound, &done] {
      if (!done.WaitFor(kPulseResetBound)) bound.Request();
    });
    record.status = channel->Exchange(command, received, &bound);
    done.Request();
    timer.join();
    if (record.status == ExchangeResult::kStopped) {
      record.status = ExchangeStatus::Failed(
          ExchangeResult::kNoReply, ExchangeReason::kNoReplyInTime, kPulseResetBound.count());
    }
  } else {
    record.status = ExchangeStatus::Failed(ExchangeResult::kNotSent, ExchangeReason::kNotConnected);
  }
  record.repliedAt = clock.Now();
  if (record.status == ExchangeResult::kReplied) {
    record.replied = true;
    record.reply = received;
  }
  const std::string target = "Sub System Name: " + step.pulseSubSystem +
                             ", Board Number: " + board +
                             ", Bit Number: " + std::to_string(step.pulseBit);
  if (record.replied) {
    Note(kLogNotice,
         "TrialContainer::ProcessTrials() - The run ended during a TTL pulse, the port has been "
         "reset.  " +
             target + ", Reply: " + ShownReply(received));
  } else {
    Note(kLogError,
         "TrialContainer::ProcessTrials() - Error, the run ended during a TTL pulse and the port "
         "could not be reset: " +
             record.status.Describe() + ".  " + target);
  }
  if (RunObserver* observer = mObserver.load()) observer->OnCommand(record);
}

bool TrialContainer::WaitUntil(Step& step, RunClock::TimePoint deadline, const char* what) {
  RunClock& clock = step.clock != nullptr ? *step.clock : *mClock.load();
  if (step.schedule != nullptr) {
    const auto now = clock.Now();
    const auto late = step.schedule->Lateness(deadline, now);
    if (late > RunSchedule::Duration::zero()) {
      Note(kLogWarning, LateStepText(step.trialNumber, what, late));
    }
    // Each step of the fixed schedule is checked against its planned time.
    if (step.end != nullptr && step.timing == TimingMode::kFixed) {
      step.end->timing.Add(now > deadline ? now - deadline : RunSchedule::Duration::zero());
    }
  }
  if (clock.WaitUntil(deadline, step.stop)) return false;
  step.mark = clock.Now();
  return true;
}

bool TrialContainer::PostEventIn(Step& step, const std::string& eventString, int32_t ttlValue) {
  std::string reply;
  const std::string ttl = std::to_string(ttlValue);
  if (!Exchange(step, "-PostEvent " + Quoted(eventString) + " " + ttl + " 0", reply,
                "Sent Quorvin Event.  Event String: " + eventString + ", TTL Value: " + ttl +
                    ", Reply: "))
    return false;
  return true;
}

bool TrialContainer::GenerateTTLPulseIn(Step& step, const std::string& subSystemName,
                                        int32_t boardNumber, int32_t bitNumber, int32_t duration) {
  std::string reply;
  const std::string board = std::to_string(boardNumber);
  const std::string bit = std::to_string(bitNumber);
  const std::string target = "Sub System Name: " + subSystemName + ", Board Number: " + board;

  if (!Exchange(step,
                "-SetDigitalIOPortDirection " + Quoted(subSystemName) + " " + board + " Output",
                reply, "Sent SetDigitalIOPortDirection Command.  " + target + ", Reply: ")) {
    return false;
  }

  const int32_t portValue = PortValueForBit(bitNumber);
  const std::string value = std::to_string(portValue);
  const bool sent =
      Exchange(step, "-SetDIOPortOutput " + Quoted(subSystemName) + " " + board + " " + value,
               reply, "Sent TTL Pulse Start.  " + target + ", Bit Number: " + bit + ", Reply: ");
  // From here until the end command has gone out, the bit may be set.
  if (step.end != nullptr && portValue != 0 && step.last != ExchangeResult::kNotSent) {
    step.pulseSet = true;
    step.pulseSubSystem = subSystemName;
    step.pulseBoard = boardNumber;
    step.pulseBit = bitNumber;
  }
  if (!sent) return false;
  const auto setSent = step.lastSent;

  // The pulse's width counts from the return of the exchange that set the
  // bit (relative) or from when the set was handed over (fixed); writing its
  // log line does not lengthen it.
  const auto clear = step.schedule != nullptr
                         ? step.schedule->PulseClear(step.lastSent, step.mark, duration)
                         : step.mark + std::chrono::milliseconds(duration < 0 ? 0 : duration);
  if (!WaitUntil(step, clear,
                 step.step == RunStep::kEndPulse ? "the end of the end pulse"
                                                 : "the end of the start pulse")) {
    return false;
  }

  const bool ended =
      Exchange(step, "-SetDIOPortOutput " + Quoted(subSystemName) + " " + board + " 0", reply,
               "Sent TTL Pulse End.  " + target + ", Bit Number: " + bit + ", Reply: ");
  if (step.last != ExchangeResult::kNotSent) step.pulseSet = false;
  if (!ended) return false;
  if (step.end != nullptr && step.timing == TimingMode::kRelative) {
    // The width as sent (set handed over to clear handed over) against its
    // nominal value.
    step.end->timing.Add(step.lastSent - setSent -
                         std::chrono::milliseconds(duration < 0 ? 0 : duration));
  }
  return true;
}

bool TrialContainer::PlayWavFileIn(Step& step, const std::string& fileName,
                                   const std::string& subSystemName, int32_t boardNumber,
                                   int32_t bufferNumber) {
  std::string reply;
  const std::string board = std::to_string(boardNumber);
  const std::string buffer = std::to_string(bufferNumber);
  const std::string target = "Sub System Name: " + subSystemName + ", Board Number: " + board;

  if (!Exchange(step,
                "-SetDAOutputMode  " + Quoted(subSystemName) + " " + board + " BufferedOutput",
                reply, "Sent -SetDAOutputMode command.  " + target + ", Reply: ")) {
    return false;
  }

  if (!Exchange(step,
                "-SetDAWavFile " + Quoted(subSystemName) + " " + board + " " + Quoted(fileName) +
                    " " + buffer,
                reply,
                "Sent -SetDAWavFile command.  " + target + ", Filename: " + fileName +
                    ", Buffer Number: " + buffer + ", Reply: ")) {
    return false;
  }

  if (!Exchange(step, "-SelectDAWavBuffer  " + Quoted(subSystemName) + " " + board + " " + buffer,
                reply,
                "Sent -SelectDAWavBuffer  command.  " + target + ", Buffer Number: " + buffer +
                    ", Reply: ")) {
    return false;
  }

  if (!Exchange(step, "-PlayDAWavFile " + Quoted(subSystemName) + " " + board, reply,
                "Sent -PlayDAWavFile  command.  " + target + ", Reply: ")) {
    return false;
  }
  return true;
}

// The three output commands take their arguments by value: their long-standing public form.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
int TrialContainer::PostEvent(std::string eventString, int32_t ttlValue) {
  Step step;
  PostEventIn(step, eventString, ttlValue);
  return 0;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param)
int TrialContainer::GenerateTTLPulse(std::string subSystemName, int32_t boardNumber,
                                     int32_t bitNumber, int32_t duration) {
  Step step;
  GenerateTTLPulseIn(step, subSystemName, boardNumber, bitNumber, duration);
  return 0;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param)
int TrialContainer::PlayWavFile(std::string fileName, std::string subSystemName,
                                int32_t boardNumber, int32_t bufferNumber) {
  Step step;
  PlayWavFileIn(step, fileName, subSystemName, boardNumber, bufferNumber);
  return 0;
}

}  // namespace orvanta
