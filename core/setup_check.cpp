#include "core/setup_check.h"

#include <algorithm>
#include <utility>

#include "trials/trial.h"
#include "trials/trial_fields.h"

namespace orvanta {

namespace {

// The checked fields, in the order of their checks.
std::vector<const TrialField*> CheckedFields() {
  std::vector<const TrialField*> fields;
  for (const TrialField& field : TrialFields()) {
    if (field.check != FieldCheck::kNone) fields.push_back(&field);
  }
  std::stable_sort(fields.begin(), fields.end(), [](const TrialField* a, const TrialField* b) {
    return a->checkOrder < b->checkOrder;
  });
  return fields;
}

// The problem of one field's value in `trial`, or "" when there is none.
std::string FieldProblem(const TrialField& field, const Trial& trial) {
  if (!field.switchedBy.empty()) {
    const TrialField* which = FindTrialFieldByKey(field.switchedBy);
    if (which == nullptr || !which->GetBool(trial)) return std::string();
  }
  if (field.check == FieldCheck::kEmpty) {
    return field.GetText(trial).empty() ? field.checkPhrase : std::string();
  }
  const int32_t value = field.GetInt(trial);
  if (field.InRange(value)) return std::string();
  const std::string number = std::to_string(value);
  switch (field.check) {
    case FieldCheck::kRunsAsZero:
      return field.checkPhrase + " is negative (" + number + " ms); it would be run as 0.";
    case FieldCheck::kNegative:
      return field.checkPhrase + " is negative (" + number + ").";
    case FieldCheck::kOutsideRange:
      return field.checkPhrase + " is " + number + ", outside " + std::to_string(field.range.min) +
             ".." + std::to_string(field.range.max) + ": the pulse would set no bit.";
    default:
      break;
  }
  return std::string();
}

}  // namespace

std::vector<std::string> FindSetupProblems(ProgramCore& core, int32_t startAt,
                                           const std::vector<std::string>& knownObjects) {
  std::vector<std::string> problems;
  static const std::vector<const TrialField*> checked = CheckedFields();
  for (const std::string& name : core.trials().GetTrialNames()) {
    Trial* trial = nullptr;
    int32_t suit = -1;
    if (core.trials().GetTrial(name, trial) != 0 || trial == nullptr ||
        core.trials().GetSuitID(name, suit) != 0) {
      continue;
    }
    const std::string type = "Trial type \"" + name + "\": ";
    int32_t count = 0;
    if (core.deck().GetNumCardsInSuit(suit, count) == 0 && count == 0) {
      problems.push_back(type + "its trial count is 0, so it never runs.");
    }
    for (const TrialField* field : checked) {
      if (std::string problem = FieldProblem(*field, *trial); !problem.empty()) {
        problems.push_back(type + problem);
      }
    }
    if (const TrialTrigger trigger = trial->GetStartTrigger(); trigger.enabled) {
      for (std::string& problem : TriggerProblems(name, trigger, knownObjects)) {
        problems.push_back(std::move(problem));
      }
    }
  }
  // Names and texts a saved setup file would not carry back, empty subsystem
  // names among them.
  for (const std::string& problem : core.config().FindUnreadableValues()) {
    problems.push_back(problem);
  }
  const int32_t numCards = core.deck().GetNumCards();
  if (numCards == 0) {
    problems.emplace_back("The run order is empty: there are no trials to run.");
  } else if (startAt > numCards) {
    problems.push_back("--start-at " + std::to_string(startAt) +
                       " is beyond the last trial of the run order (" + std::to_string(numCards) +
                       ").");
  }
  return problems;
}

}  // namespace orvanta
