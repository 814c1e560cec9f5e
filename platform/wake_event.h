// A wake-up one thread sends another without taking a lock: the sender sets
// the event and wakes the waiter with one system call (a futex on Linux, an
// event object on Windows). For a signal that must cross from a thread that
// may not block (a data stream's receive thread) to one that sleeps on it
// with a deadline (the trial worker).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace orvanta {

class WakeEvent {
 public:
  WakeEvent();
  // The Windows twin closes its event object.
  ~WakeEvent();  // NOLINT(performance-trivially-destructible)
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // Any thread; never blocks, never allocates. A signal with nobody waiting
  // is kept until the next wait takes it.
  void Signal();
  // Waits until signalled or `deadline` (steady clock) has passed, and
  // takes the signal. True when it was signalled. One waiter at a time.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  std::atomic<uint32_t> signalled_{0};
  [[maybe_unused]] void* handle_ = nullptr;  // Windows: the event object
};

}  // namespace orvanta
