#include "trials/trial.h"

#include <string>

#include "trials/card_deck.h"
#include "trials/trial_container.h"

namespace orvanta {

namespace {

// One setup line per value: command, quoted trial name, value; CR LF.
class SetupLines {
 public:
  explicit SetupLines(const std::string& name) : name_(name) {}

  void Command(const char* command) { text_ += std::string(command) + " \"" + name_ + "\"\r\n"; }
  void Int(const char* command, int32_t value) { Line(command, std::to_string(value)); }
  void Bool(const char* command, bool value) { Line(command, value ? "true" : "false"); }
  // Strings are written between quotes as they stand, without escaping.
  void String(const char* command, const std::string& value) { Line(command, "\"" + value + "\""); }
  void StringIfSet(const char* command, const std::string& value) {
    if (!value.empty()) String(command, value);
  }

  const std::string& text() const { return text_; }

 private:
  void Line(const char* command, const std::string& value) {
    text_ += std::string(command) + " \"" + name_ + "\" " + value + "\r\n";
  }

  const std::string& name_;
  std::string text_;
};

}  // namespace

std::string Trial::GetSetupFileLines(TrialContainer& trials, CardDeck& deck) const {
  // The count lives in the deck, reached through the suit ID. Neither the
  // list nor the deck is asked while this record's lock is held.
  const std::string name = GetName();
  int32_t suitID = 0;
  int32_t count = 0;
  const bool have_count =
      trials.GetSuitID(name, suitID) == 0 && deck.GetNumCardsInSuit(suitID, count) == 0;

  // One consistent snapshot of the settings, in case the editor is changing
  // them meanwhile.
  MutexLock lock(&mMutex);
  SetupLines lines(name);
  lines.Command("-AddTrial");
  // A type that is not in the list has no count to write; the lookup has
  // logged why.
  if (have_count) lines.Int("-SetTrialCount", count);
  lines.Int("-SetTrialDuration", mTrialDuration);
  lines.Int("-SetInterTrialInterval", mInterTrialInterval);
  lines.Bool("-SetPlayWavFile", mPlayWavFile);
  lines.StringIfSet("-SetWavFileName", mWavFileName);
  lines.Int("-SetWavFileBufferNumber", mWavFileBufferNumber);
  lines.Int("-SetWavFileBoardNumber", mWavFileBoardNumber);
  lines.String("-SetWavFileSubSystemName", mWavFileSubSystemName);
  lines.Bool("-SetStartOfTrialGenerateEvent", mStartOfTrialGenerateEvent);
  lines.StringIfSet("-SetStartOfTrialEventString", mStartOfTrialEventString);
  lines.Int("-SetStartOfTrialEventTTLValue", mStartOfTrialEventTTLValue);
  lines.Bool("-SetStartOfTrialGenerateTTLPulse", mStartOfTrialGenerateTTLPulse);
  lines.Int("-SetStartOfTrialTTLPulseBitNumber", mStartOfTrialTTLPulseBitNumber);
  lines.Int("-SetStartOfTrialTTLPulseDuration", mStartOfTrialTTLPulseDuration);
  lines.Int("-SetStartOfTrialTTLPulseBoardNumber", mStartOfTrialTTLPulseBoardNumber);
  lines.String("-SetStartOfTrialTTLPulseSubSystemName", mStartOfTrialTTLPulseSubSystemName);
  lines.Bool("-SetEndOfTrialGenerateEvent", mEndOfTrialGenerateEvent);
  lines.StringIfSet("-SetEndOfTrialEventString", mEndOfTrialEventString);
  lines.Int("-SetEndOfTrialEventTTLValue", mEndOfTrialEventTTLValue);
  lines.Bool("-SetEndOfTrialGenerateTTLPulse", mEndOfTrialGenerateTTLPulse);
  lines.Int("-SetEndOfTrialTTLPulseBitNumber", mEndOfTrialTTLPulseBitNumber);
  lines.Int("-SetEndOfTrialTTLPulseDuration", mEndOfTrialTTLPulseDuration);
  lines.Int("-SetEndOfTrialTTLPulseBoardNumber", mEndOfTrialTTLPulseBoardNumber);
  lines.String("-SetEndOfTrialTTLPulseSubSystemName", mEndOfTrialTTLPulseSubSystemName);
  return lines.text();
}

}  // namespace orvanta
