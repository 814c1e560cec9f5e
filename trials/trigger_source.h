// The seam through which the trial worker waits for a start trigger: the
// records the acquisition server streams reach it from the client's stream
// threads, which the trial model never sees. ProgramCore plugs in the one
// built on the server client; tests plug in fakes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/stop_signal.h"

namespace orvanta {

// How one trigger wait ended.
enum class TriggerWaitEnd {
  kFired,        // the count was reached within the window
  kTimedOut,     // the deadline passed first
  kInterrupted,  // Interrupt() was called (Stop or Pause)
};

// Threads: OpenObjects, CloseObjects, Arm, WaitUntil and Disarm are called on
// the trial worker, one at a time. The records come on the stream threads;
// Interrupt may be called from any thread.
class TriggerSource {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~TriggerSource() = default;

  // At the start of a run: opens the streams of `objects` (each once, in
  // order). False with `error` set (one sentence naming the object and why)
  // when one cannot be opened: no connection, an object the server does not
  // list, or an exchange that failed; the ones opened before are closed
  // again. `stop` (may be null) ends it early (false).
  virtual bool OpenObjects(const std::vector<std::string>& objects, const StopSignal* stop,
                           std::string& error) = 0;
  // At the end of a run: closes what OpenObjects opened, each exchange
  // bounded by `bound` altogether, also after a Stop.
  virtual void CloseObjects(std::chrono::milliseconds bound) = 0;

  // Starts one wait: from now on, records of `object` count, until `count`
  // of them arrived within `windowMs` of each other (count 1: the next one).
  // Records that arrived before are forgotten. Clears an earlier Interrupt.
  virtual void Arm(const std::string& object, int32_t count, int32_t windowMs) = 0;
  // Waits for the armed trigger until `deadline`. On kFired `arrivedAt` is
  // when the deciding record arrived (read on the stream thread).
  virtual TriggerWaitEnd WaitUntil(TimePoint deadline, TimePoint& arrivedAt) = 0;
  // Ends the wait: records no longer count.
  virtual void Disarm() = 0;
  // Ends a wait in progress at once (or the next one armed before Arm
  // clears it). Any thread; never blocks.
  virtual void Interrupt() = 0;
};

}  // namespace orvanta
