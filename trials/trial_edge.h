// What happens at one edge of a trial, its start or its end: an event posted
// to the acquisition server and a TTL pulse on a digital port. A trial type
// holds one for each edge; the worker plays both with the same code.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

enum class EdgeSide { kStart, kEnd };

struct TrialEdge {
  bool generateEvent = false;
  std::string eventString;
  int32_t eventTTLValue = 0;
  bool generateTTLPulse = false;
  int32_t pulseBitNumber = 0;
  int32_t pulseDuration = 0;  // the pulse's width in ms
  int32_t pulseBoardNumber = 0;
  std::string pulseSubSystemName = "VRXBD";

  bool operator==(const TrialEdge&) const = default;
};

}  // namespace orvanta
