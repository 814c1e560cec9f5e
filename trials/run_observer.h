// A hook on the trial worker: told when a run starts, before each trial, after
// each command exchange and when the run ends. The headless runner uses it
// for its timeline file and its progress line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

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
  std::string reply;     // the reply of this exchange; empty unless replied
  std::chrono::steady_clock::time_point sentAt;     // just before the command was handed over
  std::chrono::steady_clock::time_point repliedAt;  // when the exchange returned
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
  // The run is over: `completed` after the last trial (before the completion
  // box), false after a Stop.
  virtual void OnRunEnded(bool completed) { (void)completed; }
  // Text added below the completion box's own, after an empty line (the
  // session report's path, for example); empty for none. Asked right after
  // OnRunEnded.
  virtual std::string CompletionNote() { return std::string(); }
};

}  // namespace orvanta
