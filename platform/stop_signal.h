// A stop request that interrupts waits. The trial worker sleeps on it, and the
// client polls it while it waits for a reply, so that Stop takes effect at
// once wherever the worker is.
#pragma once

#include <atomic>
#include <chrono>

#include "platform/mutex.h"

namespace orvanta {

class StopSignal {
 public:
  StopSignal() = default;
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Thread-safe. Wakes every waiter.
  void Request() {
    {
      MutexLock lock(&mutex_);
      requested_.store(true, std::memory_order_release);
    }
    cv_.SignalAll();
  }

  // Clears the request; call before the signal is reused for a new run.
  void Reset() {
    MutexLock lock(&mutex_);
    requested_.store(false, std::memory_order_release);
  }

  bool IsRequested() const { return requested_.load(std::memory_order_acquire); }

  // Waits until `duration` has passed (measured on the steady clock) or a stop
  // is requested. A negative duration counts as zero. Returns true when the
  // wait ended because of a stop request.
  template <class Rep, class Period>
  bool WaitFor(std::chrono::duration<Rep, Period> duration) {
    if (duration < duration.zero()) duration = duration.zero();
    const auto deadline = std::chrono::steady_clock::now() + duration;
    return WaitUntil(deadline);
  }

  bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    MutexLock lock(&mutex_);
    while (!requested_.load(std::memory_order_acquire)) {
      if (!cv_.WaitUntil(deadline)) break;  // the deadline passed
    }
    return requested_.load(std::memory_order_acquire);
  }

 private:
  // Guards no field of its own: requested_ is written under it so that a
  // waiter between its check and its wait cannot miss the wake-up.
  Mutex mutex_;
  CondVar cv_{&mutex_};
  std::atomic<bool> requested_{false};  // written under mutex_, read anywhere
};

}  // namespace orvanta
