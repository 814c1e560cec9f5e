// The matcher of a start trigger: the data streams' receive threads hand it
// every record's object; the trial worker arms it for one wait and sleeps
// until the count of records of its object arrived within its window.
//
// Threads. OnRecord runs on the receive threads and never blocks, allocates
// or takes a lock the worker may hold: it reads the armed state through
// atomics, keeps the arrival times in a ring the worker sized when it armed,
// and wakes the worker through a WakeEvent. Arm, Disarm and WaitUntil are
// the worker's (one thread at a time); Interrupt may come from any thread.
// Arm waits (spinning, for at most the few instructions of a record being
// matched) until no receive thread is inside OnRecord before it changes
// what they read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wake_event.h"
#include "trials/trigger_source.h"

namespace orvanta {

class TriggerGate {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  TriggerGate() = default;
  TriggerGate(const TriggerGate&) = delete;
  TriggerGate& operator=(const TriggerGate&) = delete;

  // Receive threads: a record of `objectName` arrived (now).
  void OnRecord(const std::string& objectName);

  // See TriggerSource::Arm, WaitUntil, Disarm and Interrupt.
  void Arm(const std::string& object, int32_t count, int32_t windowMs);
  TriggerWaitEnd WaitUntil(TimePoint deadline, TimePoint& arrivedAt);
  void Disarm();
  void Interrupt();

 private:
  // Whether the records kept in the ring now fill the count within the
  // window, the newest one at `now`. Under the ring's spin flag.
  bool Filled(int64_t now) const;

  std::atomic<bool> armed_{false};
  std::atomic<int> inside_{0};  // receive threads inside OnRecord
  std::atomic<bool> fired_{false};
  std::atomic<bool> interrupted_{false};
  WakeEvent wake_;

  // Written by Arm while no receive thread is inside and the gate is not
  // armed; read by the receive threads while it is.
  std::string object_;
  int32_t count_ = 1;
  int64_t windowNs_ = 0;
  // The last `count_` arrival times (steady clock, ns), oldest overwritten.
  // Two receive threads never see records of one object, but the flag keeps
  // the ring whole should they.
  std::atomic_flag ringBusy_ = ATOMIC_FLAG_INIT;
  std::vector<int64_t> ring_;
  uint64_t received_ = 0;  // records of the object since Arm
  int64_t arrivedNs_ = 0;  // the deciding record's arrival, set before fired_
};

}  // namespace orvanta
