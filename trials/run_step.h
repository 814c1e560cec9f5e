// The trial worker's state within a run, shared by the files of the run.
// Private to the trial list's implementation.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/stop_signal.h"
#include "trials/run_observer.h"
#include "trials/run_timing.h"
#include "trials/trial_container.h"

namespace orvanta {

// Where the worker is within a trial: what the next exchange belongs to, the
// moment the last exchange returned or the last wait ended (from which a
// relative wait is measured) and when the last command was handed over.
struct TrialContainer::Step {
  StopSignal* stop = nullptr;  // null outside a run
  RunClock* clock = nullptr;
  RunSchedule* schedule = nullptr;  // null outside a run: relative waits
  RunSummary* end = nullptr;        // the run's tally; null outside a run
  TimingMode timing = TimingMode::kRelative;
  int32_t trialNumber = 0;
  std::string trialName;
  RunStep step = RunStep::kOther;
  std::chrono::steady_clock::time_point mark;
  std::chrono::steady_clock::time_point lastSent;
  ExchangeStatus last;  // what became of the last exchange

  // A pulse whose bit may be set on the server: the reset still owed.
  bool pulseSet = false;
  std::string pulseSubSystem;
  int32_t pulseBoard = 0;
  int32_t pulseBit = 0;

  // A start trigger that fired: told to the observer with its latency when
  // the trial's first start command is handed over.
  std::optional<TriggerRecord> firedTrigger;

  bool Stopped() const { return stop != nullptr && stop->IsRequested(); }
  bool ConnectionLost() const { return end != nullptr && end->connectionLost; }
  // The record of `command` sent within this step, stamped `sentAt`.
  CommandRecord NewRecord(const std::string& command,
                          std::chrono::steady_clock::time_point sentAt) const {
    CommandRecord record;
    record.trialNumber = trialNumber;
    record.trialName = trialName;
    record.step = step;
    record.command = command;
    record.sentAt = sentAt;
    return record;
  }
};

}  // namespace orvanta
