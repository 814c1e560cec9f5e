#include "script/command_processor.h"

#include <climits>

#include "log/log_file.h"
#include "platform/text_format.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"
#include "trials/trial_fields.h"

namespace orvanta {

using text_format::Format;

namespace {

bool IsBlank(char c) {
  // The white space that trimming removes (the C locale's isspace).
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SplitCommandArguments(const std::string& line, std::vector<std::string>& arguments,
                           std::string& unmatched) {
  arguments.clear();
  std::string rest = line;
  for (char& c : rest) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  while (!rest.empty()) {
    size_t first = 0;
    while (first < rest.size() && IsBlank(rest[first])) ++first;
    size_t last = rest.size();
    while (last > first && IsBlank(rest[last - 1])) --last;
    rest = rest.substr(first, last - first);

    std::string argument;
    if (!rest.empty() && rest[0] == '"') {
      rest.erase(0, 1);
      // The search for the closing quote starts at the second character of
      // what remains: a quoted argument always holds at least one character.
      const size_t close = rest.find('"', 1);
      if (close == std::string::npos) {
        unmatched = rest;
        return false;
      }
      argument = rest.substr(0, close);
      rest.erase(0, close + 1);
    } else {
      const size_t space = rest.find(' ');
      if (space == std::string::npos) {
        argument = rest;
        rest.clear();
      } else {
        argument = rest.substr(0, space);
        rest.erase(0, space + 1);
      }
    }
    arguments.push_back(argument);
  }
  return true;
}

bool IsNumericString(const std::string& text) {
  if (text.empty()) return false;
  bool seenPoint = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') continue;
    if (i == 0 && (c == '-' || c == '+')) continue;
    if (c == '.' && !seenPoint) {
      seenPoint = true;
      continue;
    }
    return false;
  }
  return true;
}

int32_t AsciiToInt32(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a magnitude that stops growing once it is past the range,
  // so no digit string can overflow.
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (magnitude > limit) magnitude = limit;
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

CommandProcessor::CommandProcessor(LogFile& log, TrialContainer& trials, CardDeck& deck)
    : log_(log), trials_(trials), deck_(deck) {
  using P = CommandProcessor;
  mCommandTable = {
      {"-SetLogFile", &P::SetLogFile, 1},
      {"-AddTrial", &P::AddTrial, 1},
  };
  // The trial type fields, in the field table's order; the count has a
  // handler of its own (it is kept by the deck and checks the name first).
  for (const TrialField& field : TrialFields()) {
    Handler handler = &P::SetTrialCount;
    if (!field.InDeck()) {
      handler = field.kind == FieldKind::kBool  ? &P::SetTrialBoolean
                : field.kind == FieldKind::kInt ? &P::SetTrialInteger
                                                : &P::SetTrialText;
    }
    mCommandTable.push_back({field.command.c_str(), handler, 2, &field});
  }
  mCommandTable.push_back({kTriggerCommand, &P::SetStartOfTrialTrigger, 6});
  mCommandTable.insert(mCommandTable.end(), {
                                                {"-SetShuffleType", &P::SetShuffleType, 1},
                                                {"-SetShuffleMaxConsecutiveTypeCount",
                                                 &P::SetShuffleMaxConsecutiveTypeCount, 1},
                                                {"-SetTrialOrder", &P::SetTrialOrder, 2},
                                                {"-SetTimingMode", &P::SetTimingMode, 1},
                                                {"-SetTimingTolerance", &P::SetTimingTolerance, 1},
                                            });
}

CommandProcessor::~CommandProcessor() = default;

int CommandProcessor::Fail(const std::string& message) {
  mMessage = message;
  log_.WriteLogEntry(kLogError, mMessage);
  return -1;
}

int CommandProcessor::ParseCommandString(const std::string& commandLine) {
  std::string unmatched;
  if (!SplitCommandArguments(commandLine, mArguments, unmatched)) {
    mArguments.clear();
    return Fail(
        Format("CommandProcessor::ParseCommandString() - Error Processing command string, "
               "unable to find matching double quotes. command string: %s",
               unmatched.c_str()));
  }
  return 0;
}

int CommandProcessor::ProcessCommandString(const std::string& commandLine) {
  if (commandLine.empty()) return -1;
  if (ParseCommandString(commandLine) != 0) return -1;
  if (mArguments.empty()) {
    return Fail(
        "CommandProcessor::ProcessCommandString() - Error processing command string, parsed "
        "argument list came back empty");
  }
  for (const CommandEntry& entry : mCommandTable) {
    if (EqualsIgnoringCase(mArguments[0], entry.name)) {
      mField = entry.field;
      return (this->*entry.handler)();
    }
  }
  return Fail(
      Format("CommandProcessor::ProcessCommandString() - Invalid Command Line Syntax, Unrecognized "
             "Command: %s",
             mArguments[0].c_str()));
}

bool CommandProcessor::CheckArgumentCount(const char* handler, const char* command, int expected) {
  const int given = static_cast<int>(mArguments.size()) - 1;
  if (given == expected) return true;
  Fail(
      Format("CommandProcessor::%s() - The %s command expects %d arguments.  There were %d "
             "specifed.",
             handler, command, expected, given));
  return false;
}

bool CommandProcessor::CheckNumeric(const char* handler, int argumentNumber) {
  const std::string& value = mArguments[static_cast<size_t>(argumentNumber)];
  if (IsNumericString(value)) return true;
  Fail(
      Format("CommandProcessor::%s() - Error, invalid argument received. Argument %d must be a "
             "numeric value.  Argument %d: %s",
             handler, argumentNumber, argumentNumber, value.c_str()));
  return false;
}

bool CommandProcessor::CheckBoolean(const char* handler, int argumentNumber, bool& value) {
  const std::string& text = mArguments[static_cast<size_t>(argumentNumber)];
  if (EqualsIgnoringCase(text, "true")) {
    value = true;
    return true;
  }
  if (EqualsIgnoringCase(text, "false")) {
    value = false;
    return true;
  }
  Fail(
      Format("CommandProcessor::%s() - Error, invalid argument. Argument %d must be equal to one "
             "of the following(true,false) Argument %d: %s",
             handler, argumentNumber, argumentNumber, text.c_str()));
  return false;
}

Trial* CommandProcessor::FieldTrial() {
  if (!CheckArgumentCount(mField->HandlerName(), mField->command.c_str(), 2)) return nullptr;
  Trial* trial = nullptr;
  if (trials_.GetTrial(mArguments[1], trial) != 0) return nullptr;
  return trial;
}

int CommandProcessor::SetTrialInteger() {
  Trial* trial = FieldTrial();
  if (trial == nullptr) return -1;
  if (!CheckNumeric(mField->HandlerName(), 2)) return -1;
  mField->SetInt(*trial, AsciiToInt32(mArguments[2]));
  return 0;
}

int CommandProcessor::SetTrialBoolean() {
  Trial* trial = FieldTrial();
  if (trial == nullptr) return -1;
  bool value = false;
  if (!CheckBoolean(mField->HandlerName(), 2, value)) return -1;
  mField->SetBool(*trial, value);
  return 0;
}

int CommandProcessor::SetTrialText() {
  Trial* trial = FieldTrial();
  if (trial == nullptr) return -1;
  mField->SetText(*trial, mArguments[2]);
  return 0;
}

int CommandProcessor::SetLogFile() {
  if (!CheckArgumentCount("SetLogFile", "-SetLogFile", 1)) return -1;
  // An empty name fails the same way whether or not switching is on.
  if (!mLogFileSwitching && !mArguments[1].empty()) {
    mSkippedLogFiles.push_back(mArguments[1]);
    return 0;
  }
  return log_.SetLogFilename(mArguments[1]);
}

std::vector<std::string> CommandProcessor::TakeSkippedLogFiles() {
  std::vector<std::string> skipped;
  skipped.swap(mSkippedLogFiles);
  return skipped;
}

int CommandProcessor::AddTrial() {
  if (!CheckArgumentCount("AddTrial", "-AddTrial", 1)) return -1;
  return trials_.AddTrial(mArguments[1]);
}

int CommandProcessor::SetTrialCount() {
  if (!CheckArgumentCount("SetTrialCount", "-SetTrialCount", 2)) return -1;
  if (trials_.IsTrialNameUnused(mArguments[1])) {
    return Fail(Format(
        "CommandProcessor::SetTrialCount() - Error, the trial name was not found.  Trial Name: %s",
        mArguments[1].c_str()));
  }
  if (!CheckNumeric("SetTrialCount", 2)) return -1;
  const int32_t count = AsciiToInt32(mArguments[2]);
  int32_t suitID = 0;
  if (trials_.GetSuitID(mArguments[1], suitID) != 0) return -1;
  return deck_.SetNumCardsInSuit(suitID, count);
}

int CommandProcessor::SetStartOfTrialTrigger() {
  const char* handler = "SetStartOfTrialTrigger";
  if (!CheckArgumentCount(handler, kTriggerCommand, 6)) return -1;
  Trial* trial = nullptr;
  if (trials_.GetTrial(mArguments[1], trial) != 0) return -1;
  for (int argument = 3; argument <= 5; ++argument) {
    if (!CheckNumeric(handler, argument)) return -1;
  }
  TrialTrigger trigger;
  trigger.enabled = true;
  trigger.object = mArguments[2];
  trigger.count = AsciiToInt32(mArguments[3]);
  trigger.windowMs = AsciiToInt32(mArguments[4]);
  trigger.timeoutMs = AsciiToInt32(mArguments[5]);
  if (trigger.count < 1) {
    return Fail(Format(
        "CommandProcessor::SetStartOfTrialTrigger() - Error, invalid argument. Argument 3 must be "
        "at least 1.  Argument 3: %s",
        mArguments[3].c_str()));
  }
  if (EqualsIgnoringCase(mArguments[6], "Skip")) {
    trigger.onTimeout = TriggerTimeout::kSkip;
  } else if (!EqualsIgnoringCase(mArguments[6], "Play")) {
    return Fail(Format(
        "CommandProcessor::SetStartOfTrialTrigger() - Error, invalid argument. Argument 6 must be "
        "equal to one of the following(Play,Skip) Argument 6: %s",
        mArguments[6].c_str()));
  }
  trial->SetStartTrigger(trigger);
  return 0;
}

int CommandProcessor::SetShuffleType() {
  if (!CheckArgumentCount("SetShuffleType", "-SetShuffleType", 1)) return -1;
  if (EqualsIgnoringCase(mArguments[1], "Normal")) {
    deck_.SetShuffleType(Normal);
    return 0;
  }
  if (EqualsIgnoringCase(mArguments[1], "Group")) {
    deck_.SetShuffleType(Group);
    return 0;
  }
  return Fail(
      Format("CommandProcessor::SetShuffleType() - Error, invalid argument. Argument 1 "
             "must be equal to one of the following(Normal,Group) Argument 1: %s",
             mArguments[1].c_str()));
}

int CommandProcessor::SetShuffleMaxConsecutiveTypeCount() {
  if (!CheckArgumentCount("SetShuffleMaxConsecutiveTypeCount", "-SetShuffleMaxConsecutiveTypeCount",
                          1)) {
    return -1;
  }
  if (!CheckNumeric("SetShuffleMaxConsecutiveTypeCount", 1)) return -1;
  return deck_.SetMaxConsectutiveSameSuitCards(AsciiToInt32(mArguments[1]));
}

int CommandProcessor::SetTrialOrder() {
  if (!CheckArgumentCount("SetTrialOrder", "-SetTrialOrder", 2)) return -1;
  int32_t suitID = 0;
  if (trials_.GetSuitID(mArguments[1], suitID) != 0) return -1;
  if (!CheckNumeric("SetTrialOrder", 2)) return -1;
  return deck_.SetSuitPosition(suitID, AsciiToInt32(mArguments[2]));
}

// The run's timing: "Relative" (each wait counts from the step before it) or
// "Fixed" (every step at its planned time from the run's start).
int CommandProcessor::SetTimingMode() {
  if (!CheckArgumentCount("SetTimingMode", "-SetTimingMode", 1)) return -1;
  TimingMode mode = TimingMode::kRelative;
  if (!ParseTimingMode(mArguments[1], mode)) {
    return Fail(
        Format("CommandProcessor::SetTimingMode() - Error, invalid argument. Argument 1 "
               "must be equal to one of the following(Fixed,Relative) Argument 1: %s",
               mArguments[1].c_str()));
  }
  trials_.SetTimingMode(mode);
  return 0;
}

// The run's timing tolerance in milliseconds (0 or more).
int CommandProcessor::SetTimingTolerance() {
  if (!CheckArgumentCount("SetTimingTolerance", "-SetTimingTolerance", 1)) return -1;
  if (!CheckNumeric("SetTimingTolerance", 1)) return -1;
  const int32_t ms = AsciiToInt32(mArguments[1]);
  if (ms < 0) {
    return Fail(
        Format("CommandProcessor::SetTimingTolerance() - Error, invalid argument. Argument 1 "
               "must be 0 or more milliseconds.  Argument 1: %s",
               mArguments[1].c_str()));
  }
  trials_.SetTimingTolerance(ms);
  return 0;
}

}  // namespace orvanta
