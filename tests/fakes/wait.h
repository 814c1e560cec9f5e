// Bounded waits for tests: every wait gives up after its time-out.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace orvanta::testing {

using SteadyClock = std::chrono::steady_clock;

// Polls `condition` every 2 ms until it holds (true) or `timeout` passes
// (false).
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
  const auto deadline = SteadyClock::now() + timeout;
  while (!condition()) {
    if (SteadyClock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Whole milliseconds on the steady clock since `start`.
inline long long MillisSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

}  // namespace orvanta::testing
