// One trial type: its name, timing, and what happens at the start and end of
// each of its trials. Settings only; it performs nothing itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/mutex.h"

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

  std::string GetName() const { return Read(&Trial::mName); }
  void SetName(const std::string& name) { Write(&Trial::mName, name); }

  int32_t GetTrialDuration() const { return Read(&Trial::mTrialDuration); }
  void SetTrialDuration(int32_t value) { Write(&Trial::mTrialDuration, value); }
  int32_t GetInterTrialInterval() const { return Read(&Trial::mInterTrialInterval); }
  void SetInterTrialInterval(int32_t value) { Write(&Trial::mInterTrialInterval, value); }
  bool GetStartOfTrialGenerateEvent() const { return Read(&Trial::mStartOfTrialGenerateEvent); }
  void SetStartOfTrialGenerateEvent(bool value) {
    Write(&Trial::mStartOfTrialGenerateEvent, value);
  }
  std::string GetStartOfTrialEventString() const { return Read(&Trial::mStartOfTrialEventString); }
  void SetStartOfTrialEventString(const std::string& value) {
    Write(&Trial::mStartOfTrialEventString, value);
  }
  int32_t GetStartOfTrialEventTTLValue() const { return Read(&Trial::mStartOfTrialEventTTLValue); }
  void SetStartOfTrialEventTTLValue(int32_t value) {
    Write(&Trial::mStartOfTrialEventTTLValue, value);
  }
  bool GetStartOfTrialGenerateTTLPulse() const {
    return Read(&Trial::mStartOfTrialGenerateTTLPulse);
  }
  void SetStartOfTrialGenerateTTLPulse(bool value) {
    Write(&Trial::mStartOfTrialGenerateTTLPulse, value);
  }
  int32_t GetStartOfTrialTTLPulseBitNumber() const {
    return Read(&Trial::mStartOfTrialTTLPulseBitNumber);
  }
  void SetStartOfTrialTTLPulseBitNumber(int32_t value) {
    Write(&Trial::mStartOfTrialTTLPulseBitNumber, value);
  }
  int32_t GetStartOfTrialTTLPulseDuration() const {
    return Read(&Trial::mStartOfTrialTTLPulseDuration);
  }
  void SetStartOfTrialTTLPulseDuration(int32_t value) {
    Write(&Trial::mStartOfTrialTTLPulseDuration, value);
  }
  int32_t GetStartOfTrialTTLPulseBoardNumber() const {
    return Read(&Trial::mStartOfTrialTTLPulseBoardNumber);
  }
  void SetStartOfTrialTTLPulseBoardNumber(int32_t value) {
    Write(&Trial::mStartOfTrialTTLPulseBoardNumber, value);
  }
  std::string GetStartOfTrialTTLPulseSubSystemName() const {
    return Read(&Trial::mStartOfTrialTTLPulseSubSystemName);
  }
  void SetStartOfTrialTTLPulseSubSystemName(const std::string& value) {
    Write(&Trial::mStartOfTrialTTLPulseSubSystemName, value);
  }
  bool GetEndOfTrialGenerateEvent() const { return Read(&Trial::mEndOfTrialGenerateEvent); }
  void SetEndOfTrialGenerateEvent(bool value) { Write(&Trial::mEndOfTrialGenerateEvent, value); }
  std::string GetEndOfTrialEventString() const { return Read(&Trial::mEndOfTrialEventString); }
  void SetEndOfTrialEventString(const std::string& value) {
    Write(&Trial::mEndOfTrialEventString, value);
  }
  int32_t GetEndOfTrialEventTTLValue() const { return Read(&Trial::mEndOfTrialEventTTLValue); }
  void SetEndOfTrialEventTTLValue(int32_t value) { Write(&Trial::mEndOfTrialEventTTLValue, value); }
  bool GetEndOfTrialGenerateTTLPulse() const { return Read(&Trial::mEndOfTrialGenerateTTLPulse); }
  void SetEndOfTrialGenerateTTLPulse(bool value) {
    Write(&Trial::mEndOfTrialGenerateTTLPulse, value);
  }
  int32_t GetEndOfTrialTTLPulseBitNumber() const {
    return Read(&Trial::mEndOfTrialTTLPulseBitNumber);
  }
  void SetEndOfTrialTTLPulseBitNumber(int32_t value) {
    Write(&Trial::mEndOfTrialTTLPulseBitNumber, value);
  }
  int32_t GetEndOfTrialTTLPulseDuration() const {
    return Read(&Trial::mEndOfTrialTTLPulseDuration);
  }
  void SetEndOfTrialTTLPulseDuration(int32_t value) {
    Write(&Trial::mEndOfTrialTTLPulseDuration, value);
  }
  int32_t GetEndOfTrialTTLPulseBoardNumber() const {
    return Read(&Trial::mEndOfTrialTTLPulseBoardNumber);
  }
  void SetEndOfTrialTTLPulseBoardNumber(int32_t value) {
    Write(&Trial::mEndOfTrialTTLPulseBoardNumber, value);
  }
  std::string GetEndOfTrialTTLPulseSubSystemName() const {
    return Read(&Trial::mEndOfTrialTTLPulseSubSystemName);
  }
  void SetEndOfTrialTTLPulseSubSystemName(const std::string& value) {
    Write(&Trial::mEndOfTrialTTLPulseSubSystemName, value);
  }
  bool GetPlayWavFile() const { return Read(&Trial::mPlayWavFile); }
  void SetPlayWavFile(bool value) { Write(&Trial::mPlayWavFile, value); }
  std::string GetWavFileName() const { return Read(&Trial::mWavFileName); }
  void SetWavFileName(const std::string& value) { Write(&Trial::mWavFileName, value); }
  int32_t GetWavFileBufferNumber() const { return Read(&Trial::mWavFileBufferNumber); }
  void SetWavFileBufferNumber(int32_t value) { Write(&Trial::mWavFileBufferNumber, value); }
  int32_t GetWavFileBoardNumber() const { return Read(&Trial::mWavFileBoardNumber); }
  void SetWavFileBoardNumber(int32_t value) { Write(&Trial::mWavFileBoardNumber, value); }
  std::string GetWavFileSubSystemName() const { return Read(&Trial::mWavFileSubSystemName); }
  void SetWavFileSubSystemName(const std::string& value) {
    Write(&Trial::mWavFileSubSystemName, value);
  }

  // The setup-file lines that recreate this type (CR LF each). The suit ID
  // comes from `trials`, the trial count from `deck`; a type that is not in
  // `trials` gets no "-SetTrialCount" line (the lookup logs why). Takes the
  // list's and the deck's locks before this record's, never while holding it.
  std::string GetSetupFileLines(TrialContainer& trials, CardDeck& deck) const;

 private:
  // One field, read or written under the record's lock. The field is named
  // by its member pointer, so that no reference to it leaves the lock.
  template <class T>
  T Read(T Trial::*field) const EXCLUDES(mMutex) {
    MutexLock lock(&mMutex);
    return this->*field;
  }
  template <class T>
  void Write(T Trial::*field, const T& value) EXCLUDES(mMutex) {
    MutexLock lock(&mMutex);
    this->*field = value;
  }

  mutable Mutex mMutex;  // guards every field below
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
