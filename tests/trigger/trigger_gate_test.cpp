// The start trigger's matcher: what counts towards a wait, the window, the
// wake-up across threads, interruption and the deadline.
#include "trigger/trigger_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TriggerWaitEnd WaitFor(TriggerGate& gate, std::chrono::milliseconds bound,
                       Clock::time_point* arrived = nullptr) {
  Clock::time_point at;
  const TriggerWaitEnd end = gate.WaitUntil(Clock::now() + bound, at);
  if (arrived != nullptr) *arrived = at;
  return end;
}

TEST(TriggerGateTest, OnlyRecordsOfTheArmedObjectSinceArmCountTowardsTheWindow) {
  TriggerGate gate;
  gate.OnRecord("SE1");  // not armed: dropped
  gate.Arm("SE1", 2, 200);
  gate.OnRecord("SE2");
  gate.OnRecord("SE1");
  EXPECT_EQ(WaitFor(gate, 10ms), TriggerWaitEnd::kTimedOut);
  // Re-arming forgets the record above; two outside the window do not fire.
  gate.Arm("SE1", 2, 200);
  gate.OnRecord("SE1");
  std::this_thread::sleep_for(250ms);
  const auto before = Clock::now();
  gate.OnRecord("SE1");
  EXPECT_EQ(WaitFor(gate, 10ms), TriggerWaitEnd::kTimedOut);
  // The next one is within 200 ms of the one before: the count is filled.
  gate.OnRecord("SE1");
  Clock::time_point arrived;
  EXPECT_EQ(WaitFor(gate, 10ms, &arrived), TriggerWaitEnd::kFired);
  EXPECT_GE(arrived, before);
  EXPECT_LE(arrived, Clock::now());
  // Disarmed, nothing counts.
  gate.Disarm();
  gate.Arm("SE1", 1, 0);
  gate.Disarm();
  gate.OnRecord("SE1");
  EXPECT_EQ(WaitFor(gate, 10ms), TriggerWaitEnd::kTimedOut);
}

TEST(TriggerGateTest, ARecordOnAnotherThreadWakesTheWaiterAndInterruptEndsTheWait) {
  TriggerGate gate;
  gate.Arm("CSC1", 1, 0);
  std::thread stream([&] {
    std::this_thread::sleep_for(20ms);
    gate.OnRecord("CSC1");
  });
  EXPECT_EQ(WaitFor(gate, 10s), TriggerWaitEnd::kFired);
  stream.join();

  gate.Arm("CSC1", 1, 0);
  std::thread stopper([&] {
    std::this_thread::sleep_for(20ms);
    gate.Interrupt();
  });
  const auto start = Clock::now();
  EXPECT_EQ(WaitFor(gate, 10s), TriggerWaitEnd::kInterrupted);
  EXPECT_LT(Clock::now() - start, 5s);
  stopper.join();
  // Arm clears an interrupt that came before it.
  gate.Arm("CSC1", 1, 0);
  EXPECT_EQ(WaitFor(gate, 5ms), TriggerWaitEnd::kTimedOut);
}

// Records pour in on two threads while the worker arms and disarms: every
// wait ends, and the sanitizers see how the threads meet.
TEST(TriggerGateTest, ArmingWhileRecordsPourInOnTwoThreads) {
  TriggerGate gate;
  std::atomic<bool> done{false};
  auto pour = [&](const char* name) {
    while (!done.load()) gate.OnRecord(name);
  };
  std::thread a(pour, "SE1");
  std::thread b(pour, "SE2");
  int fired = 0;
  for (int i = 0; i < 50; ++i) {
    gate.Arm(i % 2 == 0 ? "SE1" : "SE2", 1 + i % 3, 1000);
    if (WaitFor(gate, 5s) == TriggerWaitEnd::kFired) ++fired;
    gate.Disarm();
  }
  done.store(true);
  a.join();
  b.join();
  EXPECT_EQ(fired, 50);
}

}  // namespace
}  // namespace orvanta
