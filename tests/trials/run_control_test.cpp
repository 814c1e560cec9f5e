// The bookkeeping of worker threads: a worker that outlasts Stop's wait, and
// a worker still in its completion box when the next run starts, are joined
// later and never twice; JoinWorkers and WaitForRunEnd wait for them.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fakes.h"
#include "log/log_file.h"
#include "platform/mutex.h"
#include "trials/card_deck.h"
#include "trials/run_observer.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

// Holds the caller of Enter() until Open(); counts the callers.
class Gate {
 public:
  void Enter() EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    ++entered_;
    changed_.SignalAll();
    while (!open_) changed_.Wait();
  }
  void Open() EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    open_ = true;
    changed_.SignalAll();
  }
  // Waits (bounded) until `count` callers have entered.
  bool WaitEntered(int count) EXCLUDES(mutex_) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    MutexLock lock(&mutex_);
    while (entered_ < count) {
      if (!changed_.WaitUntil(deadline)) break;
    }
    return entered_ >= count;
  }

 private:
  Mutex mutex_;
  CondVar changed_{&mutex_};
  int entered_ GUARDED_BY(mutex_) = 0;
  bool open_ GUARDED_BY(mutex_) = false;
};

// Keeps the worker in its end report until the gate opens.
class SlowEndObserver : public RunObserver {
 public:
  explicit SlowEndObserver(Gate& gate) : gate_(gate) {}
  void OnRunEnded(const RunSummary&) override { gate_.Enter(); }

 private:
  Gate& gate_;
};

// A completion box that stays open until the gate opens.
class HeldBoxes : public MessageBoxes {
 public:
  explicit HeldBoxes(Gate& gate) : gate_(gate) {}
  BoxResult Show(const std::string&, const std::string&, BoxIcon, BoxButtons) override {
    gate_.Enter();
    return BoxResult::kOk;
  }

 private:
  Gate& gate_;
};

class RunControlTest : public ::testing::Test {
 protected:
  RunControlTest() { window_ref.Register(&window); }
  ~RunControlTest() override {
    gate.Open();  // a failed case must not leave a worker held
    window_ref.Unregister();
  }

  Trial* AddType(const std::string& name, int32_t duration) {
    EXPECT_EQ(trials.AddTrial(name), 0);
    Trial* trial = nullptr;
    EXPECT_EQ(trials.GetTrial(name, trial), 0);
    trial->SetTrialDuration(duration);
    trial->SetInterTrialInterval(0);
    return trial;
  }
  // How many log lines end with `text`.
  size_t LogCount(const std::string& text) const {
    size_t n = 0;
    for (const std::string& line : window.log_lines()) {
      if (line.size() >= text.size() &&
          line.compare(line.size() - text.size(), text.size(), text) == 0) {
        ++n;
      }
    }
    return n;
  }

  Gate gate;
  FixedClock clock{LocalTime{2009, 3, 7, 9, 5, 3, 7}};
  RecordingMessageBoxes logBoxes;
  FakeShellOpener shell;
  RecordingWindow window;
  MainWindowRef window_ref;
  HeldBoxes boxes{gate};
  LogFile log{clock, logBoxes, window_ref, shell};
  CardDeck deck{log};
  TrialContainer trials{log, deck, window_ref, boxes};
};

TEST_F(RunControlTest, AWorkerThatOutlastsStopsWaitIsJoinedByJoinWorkers) {
  AddType("Long", 10000);
  SlowEndObserver observer(gate);
  trials.SetRunObserver(&observer);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(trials.IsProcessing());

  // The worker ends its trial at once but stays in its end report.
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_TRUE(gate.WaitEntered(1));
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_EQ(LogCount("TrialContainer::StopProcessingTrials() - Error, mTrialProcessingThread "
                     "thread was unable to terminate. lastError: " +
                     std::to_string(ETIMEDOUT)),
            1u);
  EXPECT_EQ(LogCount("TrialContainer::StopProcessingTrials() - WaitForSingleObject for "
                     "mTrialProcessingThread thread completed successfully."),
            1u);
  EXPECT_FALSE(trials.WaitForRunEnd(50ms));

  // JoinWorkers waits for the held worker; it returns once the worker ends.
  Mutex mutex;
  bool joined = false;
  std::thread joiner([&] {
    trials.JoinWorkers();
    MutexLock lock(&mutex);
    joined = true;
  });
  std::this_thread::sleep_for(100ms);
  {
    MutexLock lock(&mutex);
    EXPECT_FALSE(joined);
  }
  gate.Open();
  joiner.join();
  EXPECT_TRUE(joined);
  EXPECT_TRUE(trials.WaitForRunEnd(0ms));
  trials.SetRunObserver(nullptr);
}

TEST_F(RunControlTest, ARunStartedWhileTheLastIsInItsCompletionBoxLeavesItToBeJoinedLater) {
  AddType("Short", 0);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(gate.WaitEntered(1));  // the first run's box is up
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_FALSE(trials.WaitForRunEnd(20ms));

  // The next run starts at once; the first worker is retired, not joined.
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(gate.WaitEntered(2));
  EXPECT_FALSE(trials.WaitForRunEnd(20ms));

  gate.Open();
  EXPECT_TRUE(trials.WaitForRunEnd(10000ms));
  trials.JoinWorkers();
  EXPECT_EQ(LogCount("Start Trial #1"), 2u);
  EXPECT_EQ(window.model_calls(),
            (std::vector<std::string>{"AddTrialTypeToList:Short", "SetCurrentTrialNumber:1",
                                      "SetCurrentTrialNumber:1", "OnStop", "OnStop"}));
  // A third run after both were joined starts and completes as usual.
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  EXPECT_TRUE(trials.WaitForRunEnd(10000ms));
  EXPECT_EQ(LogCount("Start Trial #1"), 3u);
}

}  // namespace
}  // namespace orvanta::testing
