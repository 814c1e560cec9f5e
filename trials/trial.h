// One trial type: its name, timing, and what happens at the start and end of
// each of its trials. Settings only; it performs nothing itself.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/thread_annotations.h"

namespace orvanta {

class CardDeck;
class TrialContainer;

// Setters store values unchanged; range checks belong to the callers.
//
// Thread-safety: every getter and setter takes the record's own lock, so the
// trial worker can read a setting while the editor changes it. Each value is
// read at the moment it is used.
class Trial {
 public:
  Trial() = default;
  Trial(const Trial&) = delete;
  Trial& operator=(const Trial&) = delete;
  virtual ~Trial() = default;

  std::string GetName() const { return Read(mName); }
  void SetName(const std::string& name) { Write(mName, name); }

  int32_t GetTrialDuration() const { return Read(mTrialDuration); }
  void SetTrialDuration(int32_t value) { Write(mTrialDuration, value); }
  int32_t GetInterTrialInterval() const { return Read(mInterTrialInterval); }
  void SetInterTrialInterval(int32_t value) { Write(mInterTrialInterval, value); }
  bool GetStartOfTrialGenerateEvent() const { return Read(mStartOfTrialGenerateEvent); }
  void SetStartOfTrialGenerateEvent(bool value) { Write(mStartOfTrialGenerateEvent, value); }
  std::string GetStartOfTrialEventString() const { return Read(mStartOfTrialEventString); }
  void SetStartOfTrialEventString(const std::string& value) { Write(mStartOfTrialEventString, value); }
  int32_t GetStartOfTrialEventTTLValue() const { return Read(mStartOfTrialEventTTLValue); }
  void SetStartOfTrialEventTTLValue(int32_t value) { Write(mStartOfTrialEventTTLValue, value); }
  bool GetStartOfTrialGenerateTTLPulse() const { return Read(mStartOfTrialGenerateTTLPulse); }
  void SetStartOfTrialGenerateTTLPulse(bool value) { Write(mStartOfTrialGenerateTTLPulse, value); }
  int32_t GetStartOfTrialTTLPulseBitNumber() const { return Read(mStartOfTrialTTLPulseBitNumber); }
  void SetStartOfTrialTTLPulseBitNumber(int32_t value) { Write(mStartOfTrialTTLPulseBitNumber, value); }
  int32_t GetStartOfTrialTTLPulseDuration() const { return Read(mStartOfTrialTTLPulseDuration); }
  void SetStartOfTrialTTLPulseDuration(int32_t value) { Write(mStartOfTrialTTLPulseDuration, value); }
  int32_t GetStartOfTrialTTLPulseBoardNumber() const { return Read(mStartOfTrialTTLPulseBoardNumber); }
  void SetStartOfTrialTTLPulseBoardNumber(int32_t value) { Write(mStartOfTrialTTLPulseBoardNumber, value); }
  std::string GetStartOfTrialTTLPulseSubSystemName() const { return Read(mStartOfTrialTTLPulseSubSystemName); }
  void SetStartOfTrialTTLPulseSubSystemName(const std::string& value) { Write(mStartOfTrialTTLPulseSubSystemName, value); }
  bool GetEndOfTrialGenerateEvent() const { return Read(mEndOfTrialGenerateEvent); }
  void SetEndOfTrialGenerateEvent(bool value) { Write(mEndOfTrialGenerateEvent, value); }
  std::string GetEndOfTrialEventString() const { return Read(mEndOfTrialEventString); }
  void SetEndOfTrialEventString(const std::string& value) { Write(mEndOfTrialEventString, value); }
  int32_t GetEndOfTrialEventTTLValue() const { return Read(mEndOfTrialEventTTLValue); }
  void SetEndOfTrialEventTTLValue(int32_t value) { Write(mEndOfTrialEventTTLValue, value); }
  bool GetEndOfTrialGenerateTTLPulse() const { return Read(mEndOfTrialGenerateTTLPulse); }
  void SetEndOfTrialGenerateTTLPulse(bool value) { Write(mEndOfTrialGenerateTTLPulse, value); }
  int32_t GetEndOfTrialTTLPulseBitNumber() const { return Read(mEndOfTrialTTLPulseBitNumber); }
  void SetEndOfTrialTTLPulseBitNumber(int32_t value) { Write(mEndOfTrialTTLPulseBitNumber, value); }
  int32_t GetEndOfTrialTTLPulseDuration() const { return Read(mEndOfTrialTTLPulseDuration); }
  void SetEndOfTrialTTLPulseDuration(int32_t value) { Write(mEndOfTrialTTLPulseDuration, value); }
  int32_t GetEndOfTrialTTLPulseBoardNumber() const { return Read(mEndOfTrialTTLPulseBoardNumber); }
  void SetEndOfTrialTTLPulseBoardNumber(int32_t value) { Write(mEndOfTrialTTLPulseBoardNumber, value); }
  std::string GetEndOfTrialTTLPulseSubSystemName() const { return Read(mEndOfTrialTTLPulseSubSystemName); }
  void SetEndOfTrialTTLPulseSubSystemName(const std::string& value) { Write(mEndOfTrialTTLPulseSubSystemName, value); }
  bool GetPlayWavFile() const { return Read(mPlayWavFile); }
  void SetPlayWavFile(bool value) { Write(mPlayWavFile, value); }
  std::string GetWavFileName() const { return Read(mWavFileName); }
  void SetWavFileName(const std::string& value) { Write(mWavFileName, value); }
  int32_t GetWavFileBufferNumber() const { return Read(mWavFileBufferNumber); }
  void SetWavFileBufferNumber(int32_t value) { Write(mWavFileBufferNumber, value); }
  int32_t GetWavFileBoardNumber() const { return Read(mWavFileBoardNumber); }
  void SetWavFileBoardNumber(int32_t value) { Write(mWavFileBoardNumber, value); }
  std::string GetWavFileSubSystemName() const { return Read(mWavFileSubSystemName); }
  void SetWavFileSubSystemName(const std::string& value) { Write(mWavFileSubSystemName, value); }

  // The setup-file lines that recreate this type (CR LF each). The suit ID
  // comes from `trials`, the trial count from `deck`; a type that is not in
  // `trials` gets no "-SetTrialCount" line (the lookup logs why). Takes the
  // list's and the deck's locks before this record's, never while holding it.
  std::string GetSetupFileLines(TrialContainer& trials, CardDeck& deck) const;

 private:
  template <class T>
  T Read(const T& field) const {
    std::lock_guard<std::mutex> lock(mMutex);
    return field;
  }
  template <class T>
  void Write(T& field, const T& value) {
    std::lock_guard<std::mutex> lock(mMutex);
    field = value;
  }

  mutable std::mutex mMutex;  // guards every field below
  std::string mName GUARDED_BY(mMutex);
  int32_t mTrialDuration GUARDED_BY(mMutex) = 2000;
  int32_t mInterTrialInterval GUARDED_BY(mMutex) = 5000;
  bool mStartOfTrialGenerateEvent GUARDED_BY(mMutex) = false;
  std::string mStartOfTrialEventString GUARDED_BY(mMutex) = "";
  int32_t mStartOfTrialEventTTLValue GUARDED_BY(mMutex) = 0;
  bool mStartOfTrialGenerateTTLPulse GUARDED_BY(mMutex) = false;
  int32_t mStartOfTrialTTLPulseBitNumber GUARDED_BY(mMutex) = 0;
  int32_t mStartOfTrialTTLPulseDuration GUARDED_BY(mMutex) = 0;
  int32_t mStartOfTrialTTLPulseBoardNumber GUARDED_BY(mMutex) = 0;
  std::string mStartOfTrialTTLPulseSubSystemName GUARDED_BY(mMutex) = "VRXBD";
  bool mEndOfTrialGenerateEvent GUARDED_BY(mMutex) = false;
  std::string mEndOfTrialEventString GUARDED_BY(mMutex) = "";
  int32_t mEndOfTrialEventTTLValue GUARDED_BY(mMutex) = 0;
  bool mEndOfTrialGenerateTTLPulse GUARDED_BY(mMutex) = false;
  int32_t mEndOfTrialTTLPulseBitNumber GUARDED_BY(mMutex) = 0;
  int32_t mEndOfTrialTTLPulseDuration GUARDED_BY(mMutex) = 0;
  int32_t mEndOfTrialTTLPulseBoardNumber GUARDED_BY(mMutex) = 0;
  std::string mEndOfTrialTTLPulseSubSystemName GUARDED_BY(mMutex) = "VRXBD";
  bool mPlayWavFile GUARDED_BY(mMutex) = false;
  std::string mWavFileName GUARDED_BY(mMutex) = "";
  int32_t mWavFileBufferNumber GUARDED_BY(mMutex) = 0;
  int32_t mWavFileBoardNumber GUARDED_BY(mMutex) = 0;
  std::string mWavFileSubSystemName GUARDED_BY(mMutex) = "VRXBD";
};

}  // namespace orvanta
