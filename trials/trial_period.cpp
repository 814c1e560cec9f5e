#include "trials/trial_period.h"

#include "trials/trial.h"

namespace orvanta {

namespace {

int64_t NonNegative(int32_t value) { return value < 0 ? 0 : value; }

}  // namespace

TrialPeriod NominalTrialPeriod(int32_t durationMs, int32_t intervalMs, bool startPulse,
                               int32_t startPulseMs, bool endPulse, int32_t endPulseMs) {
  TrialPeriod p;
  p.periodMs = NonNegative(durationMs) + NonNegative(intervalMs);
  if (startPulse) {
    p.startPulseMs = NonNegative(startPulseMs);
    p.periodMs += p.startPulseMs;
  }
  if (endPulse) {
    p.endPulseMs = NonNegative(endPulseMs);
    p.periodMs += p.endPulseMs;
  }
  return p;
}

TrialPeriod NominalTrialPeriod(const Trial& trial) {
  return NominalTrialPeriod(
      trial.GetTrialDuration(), trial.GetInterTrialInterval(),
      trial.GetStartOfTrialGenerateTTLPulse(), trial.GetStartOfTrialTTLPulseDuration(),
      trial.GetEndOfTrialGenerateTTLPulse(), trial.GetEndOfTrialTTLPulseDuration());
}

}  // namespace orvanta
