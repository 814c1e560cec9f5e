// The nominal period of a trial type: the time one trial of it takes by its
// settings, from its start to the next trial's start. The window's and the
// runner's time left, and the session record's trial types, count with it.
#pragma once

#include <cstdint>

namespace orvanta {

class Trial;

struct TrialPeriod {
  int64_t periodMs = 0;       // duration + interval + the widths of the pulses switched on
  int64_t startPulseMs = -1;  // -1: no start pulse
  int64_t endPulseMs = -1;    // -1: no end pulse
};

// From the settings themselves; negative durations, intervals and widths
// count as 0.
TrialPeriod NominalTrialPeriod(int32_t durationMs, int32_t intervalMs, bool startPulse,
                               int32_t startPulseMs, bool endPulse, int32_t endPulseMs);

// From a trial type's current settings.
TrialPeriod NominalTrialPeriod(const Trial& trial);

}  // namespace orvanta
