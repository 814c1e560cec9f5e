// A hook on the trial worker: told when a run starts, before each trial, after
// each command exchange and when the run ends. The headless runner uses it
// for its timeline file and its progress line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/exchange_status.h"
#include "trials/run_timing.h"

namespace orvanta {

// Which action of a trial a command belongs to.
enum class RunStep { kStartEvent, kWav, kStartPulse, kEndPulse, kEndEvent, kOther };

// "start event", "wav", "start pulse", "end pulse", "end event", "other".
const char* RunStepName(RunStep step);

// One command exchange of a run.
struct CommandRecord {
  int32_t trialNumber = 0;  // 1-based number in the whole run order; 0 outside a run
  std::string trialName;
  RunStep step = RunStep::kOther;
  std::string command;
  bool replied = false;  // false when the exchange failed or was cut short by Stop
  std::string reply;     // the reply of this exchange, as received; empty unless replied
  // What became of the exchange: replied, not sent or no reply, and why.
  ExchangeStatus status;
  // True when the worker counts this exchange among the run's failed
  // commands (RunSummary::failedCommands): not for an exchange a Stop cut
  // short, nor in a run without a command channel.
  bool failed = false;
  std::chrono::steady_clock::time_point sentAt;     // just before the command was handed over
  std::chrono::steady_clock::time_point repliedAt;  // when the exchange returned

  // Whether the command may have reached the server (its send time means
  // something): false only when it was certainly not sent.
  bool MaybeSent() const { return status.result != ExchangeResult::kNotSent; }
};

// How a start trigger's wait ended.
enum class TriggerOutcome {
  kFired,            // the records came: the trial started on them
  kTimedOutPlayed,   // none in time: the trial was played anyway
  kTimedOutSkipped,  // none in time: the trial was skipped
};

// "fired", "timed out, played", "timed out, skipped".
const char* TriggerOutcomeName(TriggerOutcome outcome);

// One trigger wait of a run: a trial whose type has a start trigger.
struct TriggerRecord {
  int32_t trialNumber = 0;
  std::string trialName{};
  std::string object{};
  int32_t count = 1;
  int32_t windowMs = 0;
  int32_t timeoutMs = 0;
  TriggerOutcome outcome = TriggerOutcome::kFired;
  std::chrono::steady_clock::time_point armedAt{};    // the wait began (after any pause)
  std::chrono::steady_clock::time_point decidedAt{};  // it fired or timed out
  // kFired: when the deciding record arrived, read on the stream thread.
  std::chrono::steady_clock::time_point arrivedAt{};
  // kFired, when the start sent a command: from arrivedAt to that first
  // start command being handed over (its CommandRecord::sentAt).
  bool hasLatency = false;
  std::chrono::steady_clock::duration latency{};
};

// How a run ended.
enum class RunOutcome {
  kCompleted,  // every trial ran and every exchange was answered
  kStopped,    // Stop ended it
  kFailed,     // the connection was lost (the run ended at once), or it ran to
               // its end with failed exchanges
};

// "completed", "stopped", "failed".
const char* RunOutcomeName(RunOutcome outcome);

// The end of a run, as the worker saw it.
struct RunSummary {
  RunOutcome outcome = RunOutcome::kCompleted;
  // Exchanges of the run that failed (Stop's own cut-short exchange and the
  // pulse reset after a Stop are not counted).
  int32_t failedCommands = 0;
  // True when the run ended early because the connection was lost.
  bool connectionLost = false;
  // The first failed exchange (trial, command, status.Describe() for the
  // reason); meaningful when failedCommands > 0.
  CommandRecord firstFailure;
  // The exchange that lost the connection; meaningful when connectionLost.
  CommandRecord lostAt;
  // The trials the run was to play: firstTrial .. numTrials of the order.
  int32_t firstTrial = 1;
  int32_t numTrials = 0;
  // How far its steps strayed from their plan or nominal values.
  TimingCheck timing;
  // Start triggers: trials that waited, and those whose wait timed out
  // (played anyway or skipped).
  int32_t triggerWaits = 0;
  int32_t triggerTimeouts = 0;
  int32_t triggerSkipped = 0;
  // Why the run could not start its triggers (the trigger objects' streams
  // could not be opened): then no trial ran and the run failed. Empty
  // otherwise.
  std::string triggerFailure;
};

// Whether a run left a session record.
enum class RunRecordState {
  kNotKept,     // the front end keeps no records (the trial model on its own)
  kWritten,     // the record was written whole
  kNotWritten,  // no record, or one that could not be written whole
};

// Every call comes on the trial worker's thread, with no lock of the trial
// model held. Calls must return quickly: the worker's timing waits for them.
class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // The worker has started: trials firstTrial .. numTrials of the order will
  // be run (none when firstTrial > numTrials).
  virtual void OnRunStarted(int32_t firstTrial, int32_t numTrials,
                            std::chrono::steady_clock::time_point startedAt) {
    (void)firstTrial, (void)numTrials, (void)startedAt;
  }
  // Trial `trialNumber` begins (after its "Start Trial" line). `trialName` is
  // empty when its card has no trial type.
  virtual void OnTrialStarted(int32_t trialNumber, const std::string& trialName,
                              std::chrono::steady_clock::time_point startedAt) {
    (void)trialNumber, (void)trialName, (void)startedAt;
  }
  virtual void OnCommand(const CommandRecord& record) { (void)record; }
  // A trial's start trigger was decided: right before the OnCommand of the
  // trial's first start command (the latency is known then), or when the
  // trial was skipped or its start sent nothing.
  virtual void OnTrigger(const TriggerRecord& record) { (void)record; }
  // The run is over, before the end-of-run box (completion or failure) is
  // shown; after a Stop no box follows.
  virtual void OnRunEnded(const RunSummary& end) { (void)end; }
  // Text added below the completion box's own, after an empty line (the
  // session report's path, for example); empty for none. Asked right after
  // OnRunEnded.
  virtual std::string CompletionNote() { return std::string(); }
  // Whether the run's session record was written; asked right after
  // OnRunEnded.
  virtual RunRecordState RecordState() { return RunRecordState::kNotKept; }
};

}  // namespace orvanta
