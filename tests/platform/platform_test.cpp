#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "fakes/fakes.h"
#include "platform/mutex.h"
#include "platform/paths.h"
#include "platform/stop_signal.h"
#include "platform/text_format.h"
#include "platform/window_listener.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;

// A waiter wakes for the flag set under the mutex by another thread, and a
// wait with nobody to signal times out.
TEST(CondVarTest, WakesForASignalAndTimesOutWithout) {
  Mutex mutex;
  CondVar cv(&mutex);
  bool ready = false;  // guarded by mutex
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    MutexLock lock(&mutex);
    ready = true;
    cv.SignalAll();
  });
  {
    MutexLock lock(&mutex);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!ready && cv.WaitUntil(deadline)) {
    }
    EXPECT_TRUE(ready);
    EXPECT_FALSE(cv.WaitFor(5ms));
  }
  setter.join();
}

TEST(MainWindowRefTest, CallsAreSkippedUntilAWindowRegisters) {
  MainWindowRef slot;
  testing::RecordingWindow window;
  EXPECT_FALSE(slot.Call([](WindowListener& w) { w.OnStop(); }));
  slot.Register(&window);
  EXPECT_TRUE(slot.Call([](WindowListener& w) { w.SetCurrentTrialNumber(2); }));
  slot.Unregister();
  EXPECT_FALSE(slot.Call([](WindowListener& w) { w.OnStop(); }));
  EXPECT_EQ(window.calls(), std::vector<std::string>{"SetCurrentTrialNumber:2"});
}

// A window that logs while it handles a call re-enters the slot on the same
// thread; that must not deadlock.
TEST(MainWindowRefTest, ReentrantCallOnTheSameThread) {
  MainWindowRef slot;
  testing::RecordingWindow window;
  slot.Register(&window);
  slot.Call([&](WindowListener& w) {
    w.AddTrialTypeToList("A");
    slot.Call([](WindowListener& inner) { inner.AddLogMessage("nested"); });
  });
  EXPECT_EQ(window.calls(),
            (std::vector<std::string>{"AddTrialTypeToList:A", "AddLogMessage:nested"}));
}

TEST(StopSignalTest, WaitRunsItsFullLengthWithoutARequest) {
  StopSignal stop;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(stop.WaitFor(20ms));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 20ms);
}

TEST(StopSignalTest, NegativeWaitReturnsAtOnce) {
  StopSignal stop;
  EXPECT_FALSE(stop.WaitFor(-5000ms));
}

TEST(StopSignalTest, RequestFromAnotherThreadEndsALongWait) {
  StopSignal stop;
  std::thread t([&] {
    std::this_thread::sleep_for(10ms);
    stop.Request();
  });
  EXPECT_TRUE(stop.WaitFor(std::chrono::hours(1)));
  t.join();
  EXPECT_TRUE(stop.IsRequested());
  stop.Reset();
  EXPECT_FALSE(stop.IsRequested());
}

TEST(PathsTest, CurrentDirectoryEndsWithTheSeparator) {
  const std::string dir = CurrentDirectoryWithSeparator();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), PathSeparator());
  EXPECT_EQ(dir.front(), '/');
}

// Texts past the formatter's stack buffer take its second path; both must
// give exactly what printf would.
TEST(TextFormatTest, ShortAndLongTextsComeOutWhole) {
  EXPECT_EQ("", text_format::Format("%s", ""));
  EXPECT_EQ("Trial 3 of -12: tone", text_format::Format("Trial %d of %d: %s", 3, -12, "tone"));
  const std::string long_word(511, 'x');
  EXPECT_EQ(long_word + "|7", text_format::Format("%s|%d", long_word.c_str(), 7));
  EXPECT_EQ(long_word + "ab", text_format::Format("%sab", long_word.c_str()));
}

}  // namespace
}  // namespace orvanta
