// The fixed schedule on the trial worker with a stepped clock (every exchange
// takes 1 ms, every wait ends at its deadline): planned times of both modes,
// a late step, a pause and a run started at a later trial.
#include <gtest/gtest.h>

#include "tests/integration/run_env.h"
#include "trials/run_timing.h"

namespace orvanta::testing {
namespace {

class SteppedClock : public RunClock {
 public:
  TimePoint Now() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  bool WaitUntil(TimePoint deadline, StopSignal* stop) override {
    if (stop != nullptr && stop->IsRequested()) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (deadline > now_) now_ = deadline;
    return false;
  }
  void Advance(std::chrono::milliseconds d) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += d;
  }

 private:
  mutable std::mutex mutex_;
  TimePoint now_{std::chrono::hours(1)};
};

// Start event, start pulse 5 ms, duration 20 ms, end pulse 4 ms, end event,
// interval 30 ms: a nominal period of 59 ms.
class ScheduleTest : public ::testing::Test, public ModelEnv {
 protected:
  ScheduleTest() {
    trials.SetRunClock(&clock);
    Trial* t = AddType("A", 3, 20, 30);
    t->SetStartOfTrialGenerateEvent(true);
    t->SetStartOfTrialEventString("go");
    t->SetStartOfTrialGenerateTTLPulse(true);
    t->SetStartOfTrialTTLPulseDuration(5);
    t->SetEndOfTrialGenerateTTLPulse(true);
    t->SetEndOfTrialTTLPulseDuration(4);
    t->SetEndOfTrialGenerateEvent(true);
    scripted.answer = [this](const std::string& command) -> std::optional<std::string> {
      clock.Advance(1ms);
      if (extra) extra(command);
      return "0";
    };
  }
  ~ScheduleTest() override {
    trials.StopProcessingTrials();
    trials.JoinWorkers();
  }

  // When each command from the `first`-th on was handed over, in ms after
  // `origin`, per trial.
  std::vector<std::vector<long long>> SentMs(RunClock::TimePoint origin, size_t first = 0) const {
    std::vector<std::vector<long long>> out;
    const auto records = observer.commands();
    for (size_t i = first; i < records.size(); ++i) {
      const CommandRecord& r = records[i];
      if (out.size() < static_cast<size_t>(r.trialNumber)) out.resize(r.trialNumber);
      out[r.trialNumber - 1].push_back(
          std::chrono::duration_cast<std::chrono::microseconds>(r.sentAt - origin).count() / 1000);
    }
    return out;
  }

  SteppedClock clock;
  std::function<void(const std::string&)> extra;
};

TEST_F(ScheduleTest, FixedStepsKeepTheirPlannedTimesRelativeOnesAddTheExchanges) {
  trials.SetTimingMode(TimingMode::kFixed);
  const auto t0 = clock.Now();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  // Event, direction, set at the onset; clear 5 ms after the set was sent;
  // the end actions at onset + 5 + 20; the end clear 4 ms after its set;
  // the next onset at onset + 5 + 20 + 4 + 30.
  const std::vector<long long> trial = {0, 1, 2, 7, 25, 26, 30, 31};
  std::vector<std::vector<long long>> expected;
  for (long long onset : {0, 59, 118}) {
    expected.emplace_back();
    for (long long ms : trial) expected.back().push_back(onset + ms);
  }
  EXPECT_EQ(SentMs(t0), expected);
  EXPECT_EQ(LogCount("TrialContainer::ProcessTrials() - Warning"), 0u);

  // Relative: every wait counts from the return of the step before it.
  trials.SetTimingMode(TimingMode::kRelative);
  const auto t1 = clock.Now();
  const size_t first = observer.commands().size();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  const auto relative = SentMs(t1, first);
  ASSERT_EQ(relative.size(), 3u);
  EXPECT_EQ(relative[1], (std::vector<long long>{67, 68, 69, 75, 96, 97, 102, 103}));
}

TEST_F(ScheduleTest, ALateStepIsLoggedAndTheRunStartedLaterKeepsItsPlan) {
  trials.SetTimingMode(TimingMode::kFixed);
  // The set of trial 2's start pulse takes 10 ms instead of 1: its clear,
  // due 5 ms after the set was sent, comes 5 ms late.
  int sets = 0;
  extra = [&](const std::string& command) {
    if (command == "-SetDIOPortOutput \"VRXBD\" 0 1" && ++sets == 1) clock.Advance(9ms);
  };
  const auto t0 = clock.Now();
  ASSERT_EQ(trials.StartProcessingTrials(2), 0);
  ASSERT_TRUE(WaitForEnd());
  const auto sent = SentMs(t0);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_TRUE(sent[0].empty());
  EXPECT_EQ(sent[1], (std::vector<long long>{0, 1, 2, 12, 25, 26, 30, 31}));
  EXPECT_EQ(sent[2], (std::vector<long long>{59, 60, 61, 66, 84, 85, 89, 90}));
  EXPECT_TRUE(
      LogHas("TrialContainer::ProcessTrials() - Warning, trial #2: the end of the start "
             "pulse came 5.000 ms late; the fixed schedule keeps the planned times of the "
             "steps after it."));
  EXPECT_EQ(LogCount("TrialContainer::ProcessTrials() - Warning"), 1u);
}

TEST_F(ScheduleTest, PauseShiftsThePlanByTheTimePaused) {
  trials.SetTimingMode(TimingMode::kFixed);
  int endEvents = 0;
  extra = [&](const std::string& command) {
    if (command == "-PostEvent \"\" 0 0" && ++endEvents == 1) {
      trials.TogglePauseProcessingTrials();  // during trial 1's end event
    }
  };
  const auto t0 = clock.Now();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitUntil([&] {
    return LogHas(
        "TrialContainer::ProcessTrials() - Trial processing is paused before trial #2, "
        "waiting for Resume or Stop.");
  }));
  clock.Advance(100ms);
  trials.TogglePauseProcessingTrials();
  ASSERT_TRUE(WaitForEnd());
  const auto sent = SentMs(t0);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].front(), 159);
  EXPECT_EQ(sent[2].front(), 218);
  EXPECT_EQ(LogCount("TrialContainer::ProcessTrials() - Warning"), 0u);
}

}  // namespace
}  // namespace orvanta::testing
