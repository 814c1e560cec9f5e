#include "trials/trial_trigger.h"

#include <algorithm>

namespace orvanta {

const char* TriggerTimeoutName(TriggerTimeout onTimeout) {
  return onTimeout == TriggerTimeout::kSkip ? "Skip" : "Play";
}

std::string TriggerSetupLine(const std::string& typeName, const TrialTrigger& trigger) {
  return std::string(kTriggerCommand) + " \"" + typeName + "\" \"" + trigger.object + "\" " +
         std::to_string(trigger.count) + " " + std::to_string(trigger.windowMs) + " " +
         std::to_string(trigger.timeoutMs) + " " + TriggerTimeoutName(trigger.onTimeout) + "\r\n";
}

std::vector<std::string> TriggerProblems(const std::string& typeName, const TrialTrigger& trigger,
                                         const std::vector<std::string>& knownObjects) {
  std::vector<std::string> problems;
  const std::string head = "Trial type \"" + typeName + "\": the start trigger";
  const std::string& object = trigger.object;
  if (object.empty()) {
    problems.push_back(head + " names no object.");
  } else if (object.find_first_of("\"\r\n") != std::string::npos) {
    problems.push_back(head + "'s object \"" + object +
                       "\" holds a quote or a line break; no server object can be named so.");
  } else if (!knownObjects.empty() &&
             std::find(knownObjects.begin(), knownObjects.end(), object) == knownObjects.end()) {
    problems.push_back(head + "'s object \"" + object + "\" is not one of the server's objects.");
  }
  if (trigger.count < 1) {
    problems.push_back(head + "'s count is " + std::to_string(trigger.count) +
                       "; it must be at least 1.");
  }
  if (trigger.windowMs < 0) {
    problems.push_back(head + "'s window is negative (" + std::to_string(trigger.windowMs) +
                       " ms).");
  } else if (trigger.count > 1 && trigger.windowMs < trigger.count - 1) {
    problems.push_back(head + "'s window (" + std::to_string(trigger.windowMs) +
                       " ms) is too short for " + std::to_string(trigger.count) +
                       " records at any rate (they need at least " +
                       std::to_string(trigger.count - 1) + " ms), so every wait would time out.");
  }
  if (trigger.timeoutMs <= 0) {
    problems.push_back(head + "'s timeout is " + std::to_string(trigger.timeoutMs) +
                       " ms; the trial would never wait for its records.");
  }
  return problems;
}

}  // namespace orvanta
