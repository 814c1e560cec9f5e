// Stop from one thread while another thread waits for the run's end and
// joins the workers, as orvanta-run does on SIGINT (its signal thread stops
// the run; its main thread sees the run end and joins). Under the address
// sanitizer this once showed the stopping thread reading a run that the
// joining thread had already freed.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/integration/fault_env.h"

namespace orvanta::faults {
namespace {

using StopRaceTest = FaultEnv;

TEST_F(StopRaceTest, StopOnOneThreadWhileAnotherJoinsTheWorkers) {
  Trial* trial = AddEventType("Long", 3, 20000, 0);
  trial->SetStartOfTrialGenerateEvent(false);
  trial->SetEndOfTrialGenerateEvent(false);
  for (int round = 0; round < 100; ++round) {
    ASSERT_EQ(trials.StartProcessingTrials(), 0);
    ASSERT_TRUE(WaitUntil([&] { return trials.IsProcessing(); }));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
      trials.StopProcessingTrials();
      stopped = true;
    });
    // The owner: waits for the end of the run, then joins at once.
    ASSERT_TRUE(trials.WaitForRunEnd(5000ms));
    trials.JoinWorkers();
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(trials.IsProcessing());
  }
  EXPECT_LE(LogCount("Start Trial #1"), 100u);  // a stop may come before the first trial
  EXPECT_EQ(LogCount("End Trial #1"), 0u);
  EXPECT_EQ(LogCount(kStopLine2), 100u);
}

}  // namespace
}  // namespace orvanta::faults
