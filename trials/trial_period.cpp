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
  const TrialEdge start = trial.GetEdge(EdgeSide::kStart);
  const TrialEdge end = trial.GetEdge(EdgeSide::kEnd);
  return NominalTrialPeriod(trial.GetTrialDuration(), trial.GetInterTrialInterval(),
                            start.generateTTLPulse, start.pulseDuration, end.generateTTLPulse,
                            end.pulseDuration);
}

}  // namespace orvanta
