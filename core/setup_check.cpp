#include "core/setup_check.h"

#include "trials/trial.h"

namespace orvanta {

namespace {

// The problems of one pulse that is switched on.
void CheckPulse(std::vector<std::string>& problems, const std::string& type, const char* which,
                int32_t bit, int32_t width, int32_t board) {
  if (bit < 0 || bit > 15) {
    problems.push_back(type + "the " + which + " pulse's bit number is " + std::to_string(bit) +
                       ", outside 0..15: the pulse would set no bit.");
  }
  if (width < 0) {
    problems.push_back(type + "the " + which + " pulse's duration is negative (" +
                       std::to_string(width) + " ms); it would be run as 0.");
  }
  if (board < 0) {
    problems.push_back(type + "the " + which + " pulse's board number is negative (" +
                       std::to_string(board) + ").");
  }
}

}  // namespace

std::vector<std::string> FindSetupProblems(ProgramCore& core, int32_t startAt) {
  std::vector<std::string> problems;
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
    if (trial->GetTrialDuration() < 0) {
      problems.push_back(type + "the trial duration is negative (" +
                         std::to_string(trial->GetTrialDuration()) + " ms); it would be run as 0.");
    }
    if (trial->GetInterTrialInterval() < 0) {
      problems.push_back(type + "the inter-trial interval is negative (" +
                         std::to_string(trial->GetInterTrialInterval()) +
                         " ms); it would be run as 0.");
    }
    if (trial->GetStartOfTrialGenerateTTLPulse()) {
      CheckPulse(problems, type, "start", trial->GetStartOfTrialTTLPulseBitNumber(),
                 trial->GetStartOfTrialTTLPulseDuration(),
                 trial->GetStartOfTrialTTLPulseBoardNumber());
    }
    if (trial->GetEndOfTrialGenerateTTLPulse()) {
      CheckPulse(problems, type, "end", trial->GetEndOfTrialTTLPulseBitNumber(),
                 trial->GetEndOfTrialTTLPulseDuration(), trial->GetEndOfTrialTTLPulseBoardNumber());
    }
    if (trial->GetPlayWavFile()) {
      if (trial->GetWavFileName().empty()) {
        problems.push_back(type + "wav playback is switched on, but no wav file is set.");
      }
      if (trial->GetWavFileBoardNumber() < 0) {
        problems.push_back(type + "the wav playback's board number is negative (" +
                           std::to_string(trial->GetWavFileBoardNumber()) + ").");
      }
      if (trial->GetWavFileBufferNumber() < 0) {
        problems.push_back(type + "the wav playback's buffer number is negative (" +
                           std::to_string(trial->GetWavFileBufferNumber()) + ").");
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
