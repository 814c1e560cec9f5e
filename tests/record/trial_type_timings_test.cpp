// The record's trial types and the runner's time left count the same
// nominal period (trials/trial_period.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "record/session_record.h"
#include "support/program_env.h"
#include "trials/run_progress.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta::testing {
namespace {

TEST(TrialTypeTimingsTest, MatchTheNominalTrialLengths) {
  ProgramEnv env(ProgramEnv::Options{.folderPrefix = "orvanta-record-"});
  TrialContainer& trials = env.trials;
  ASSERT_EQ(trials.AddTrial("A"), 0);
  ASSERT_EQ(trials.AddTrial("B"), 0);
  Trial* a = nullptr;
  Trial* b = nullptr;
  ASSERT_EQ(trials.GetTrial("A", a), 0);
  ASSERT_EQ(trials.GetTrial("B", b), 0);
  a->SetTrialDuration(30);
  a->SetInterTrialInterval(10);
  a->SetStartOfTrialGenerateTTLPulse(true);
  a->SetStartOfTrialTTLPulseDuration(5);
  a->SetEndOfTrialTTLPulseDuration(9);  // switched off: not counted
  a->SetStartTrigger({.enabled = true, .object = "SE1"});
  b->SetTrialDuration(-7);
  b->SetInterTrialInterval(12);
  b->SetEndOfTrialGenerateTTLPulse(true);
  b->SetEndOfTrialTTLPulseDuration(-3);

  const std::vector<record::TrialTypeTiming> timings = record::TrialTypeTimings(trials);
  ASSERT_EQ(timings.size(), 2u);
  EXPECT_EQ(timings[0].name, "A");
  EXPECT_EQ(timings[0].periodMs, 45);
  EXPECT_EQ(timings[0].startPulseMs, 5);
  EXPECT_EQ(timings[0].endPulseMs, -1);
  EXPECT_TRUE(timings[0].startTrigger);
  EXPECT_FALSE(timings[1].startTrigger);
  EXPECT_EQ(timings[1].name, "B");
  EXPECT_EQ(timings[1].periodMs, 12);
  EXPECT_EQ(timings[1].startPulseMs, -1);
  EXPECT_EQ(timings[1].endPulseMs, 0);
  // One card of each type: the lengths in order are the same periods.
  EXPECT_EQ(NominalTrialLengths(trials, env.deck),
            (std::vector<int64_t>{timings[0].periodMs, timings[1].periodMs}));
}

}  // namespace
}  // namespace orvanta::testing
