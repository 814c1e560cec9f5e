#include "trials/trial_period.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "trials/trial.h"

namespace orvanta {
namespace {

struct PeriodCase {
  int32_t duration, interval;
  bool startPulse;
  int32_t startWidth;
  bool endPulse;
  int32_t endWidth;
  int64_t period, startPulseMs, endPulseMs;
};

// Pulses lengthen the trial only when switched on; negative settings count 0.
const PeriodCase kCases[] = {
    {0, 0, false, 0, false, 0, 0, -1, -1},
    {20, 10, false, 99, false, 99, 30, -1, -1},
    {30, 10, true, 5, false, 7, 45, 5, -1},
    {30, 10, false, 5, true, 7, 47, -1, 7},
    {30, 10, true, 5, true, 7, 52, 5, 7},
    {30, 10, true, 0, true, 0, 40, 0, 0},
    {-7, -1, true, -5, true, -9, 0, 0, 0},
    {2147483647, 2147483647, true, 2147483647, true, 2147483647, 4 * int64_t{2147483647},
     2147483647, 2147483647},
};

TEST(TrialPeriodTest, DurationIntervalAndTheSwitchedOnPulses) {
  for (const PeriodCase& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.duration << " " << c.interval << " " << c.startPulse
                                      << c.startWidth << " " << c.endPulse << c.endWidth);
    const TrialPeriod p = NominalTrialPeriod(c.duration, c.interval, c.startPulse, c.startWidth,
                                             c.endPulse, c.endWidth);
    EXPECT_EQ(p.periodMs, c.period);
    EXPECT_EQ(p.startPulseMs, c.startPulseMs);
    EXPECT_EQ(p.endPulseMs, c.endPulseMs);

    Trial trial;
    trial.SetTrialDuration(c.duration);
    trial.SetInterTrialInterval(c.interval);
    trial.SetStartOfTrialGenerateTTLPulse(c.startPulse);
    trial.SetStartOfTrialTTLPulseDuration(c.startWidth);
    trial.SetEndOfTrialGenerateTTLPulse(c.endPulse);
    trial.SetEndOfTrialTTLPulseDuration(c.endWidth);
    const TrialPeriod fromTrial = NominalTrialPeriod(trial);
    EXPECT_EQ(fromTrial.periodMs, c.period);
    EXPECT_EQ(fromTrial.startPulseMs, c.startPulseMs);
    EXPECT_EQ(fromTrial.endPulseMs, c.endPulseMs);
  }
}

}  // namespace
}  // namespace orvanta
