// A trial type's start trigger: the trial's start waits for records of one
// acquisition object streamed by the server ("count" of them within
// "window" ms; count 1 is the next record), and gives up after "timeout" ms,
// then plays the trial anyway or skips it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

enum class TriggerTimeout { kPlay, kSkip };

// "Play", "Skip".
const char* TriggerTimeoutName(TriggerTimeout onTimeout);

struct TrialTrigger {
  bool enabled = false;  // a type without a trigger starts on the clock
  std::string object;    // the acquisition object, as the server names it
  int32_t count = 1;
  int32_t windowMs = 0;
  int32_t timeoutMs = 10000;
  TriggerTimeout onTimeout = TriggerTimeout::kPlay;

  bool operator==(const TrialTrigger&) const = default;
};

// The setup-file command and its line for type `typeName` (CR LF), e.g.
//   -SetStartOfTrialTrigger "Type" "SE1" 3 50 10000 Play
inline constexpr const char kTriggerCommand[] = "-SetStartOfTrialTrigger";
std::string TriggerSetupLine(const std::string& typeName, const TrialTrigger& trigger);

// The problems of a trigger a run would meet, one sentence each, naming the
// type: an object name that cannot be sent (empty, or holding a quote or a
// line break), an object not in `knownObjects` (only when that list is not
// empty), a count below 1, a window the count cannot fill at any rate (fewer
// than count - 1 ms: records are timed to the millisecond), a negative
// window, and a timeout of 0 or below.
std::vector<std::string> TriggerProblems(const std::string& typeName, const TrialTrigger& trigger,
                                         const std::vector<std::string>& knownObjects);

}  // namespace orvanta
