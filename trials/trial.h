// One trial type: its name, timing, and what happens at the start and end of
// each of its trials. Settings only; it performs nothing itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/mutex.h"
#include "trials/trial_edge.h"
#include "trials/trial_trigger.h"

namespace orvanta {

class CardDeck;
class TrialContainer;
struct TrialField;

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

  // Everything of one edge at once, read or written under one lock.
  TrialEdge GetEdge(EdgeSide side) const {
    MutexLock lock(&mMutex);
    return EdgeOf(side);
  }
  void SetEdge(EdgeSide side, const TrialEdge& edge) {
    MutexLock lock(&mMutex);
    EdgeOf(side) = edge;
  }

  int32_t GetTrialDuration() const { return Read(&Trial::mTrialDuration); }
  void SetTrialDuration(int32_t value) { Write(&Trial::mTrialDuration, value); }
  int32_t GetInterTrialInterval() const { return Read(&Trial::mInterTrialInterval); }
  void SetInterTrialInterval(int32_t value) { Write(&Trial::mInterTrialInterval, value); }
  bool GetStartOfTrialGenerateEvent() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::generateEvent);
  }
  void SetStartOfTrialGenerateEvent(bool value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::generateEvent, value);
  }
  std::string GetStartOfTrialEventString() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::eventString);
  }
  void SetStartOfTrialEventString(const std::string& value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::eventString, value);
  }
  int32_t GetStartOfTrialEventTTLValue() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::eventTTLValue);
  }
  void SetStartOfTrialEventTTLValue(int32_t value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::eventTTLValue, value);
  }
  bool GetStartOfTrialGenerateTTLPulse() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::generateTTLPulse);
  }
  void SetStartOfTrialGenerateTTLPulse(bool value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::generateTTLPulse, value);
  }
  int32_t GetStartOfTrialTTLPulseBitNumber() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::pulseBitNumber);
  }
  void SetStartOfTrialTTLPulseBitNumber(int32_t value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::pulseBitNumber, value);
  }
  int32_t GetStartOfTrialTTLPulseDuration() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::pulseDuration);
  }
  void SetStartOfTrialTTLPulseDuration(int32_t value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::pulseDuration, value);
  }
  int32_t GetStartOfTrialTTLPulseBoardNumber() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::pulseBoardNumber);
  }
  void SetStartOfTrialTTLPulseBoardNumber(int32_t value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::pulseBoardNumber, value);
  }
  std::string GetStartOfTrialTTLPulseSubSystemName() const {
    return ReadEdge(EdgeSide::kStart, &TrialEdge::pulseSubSystemName);
  }
  void SetStartOfTrialTTLPulseSubSystemName(const std::string& value) {
    WriteEdge(EdgeSide::kStart, &TrialEdge::pulseSubSystemName, value);
  }
  bool GetEndOfTrialGenerateEvent() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::generateEvent);
  }
  void SetEndOfTrialGenerateEvent(bool value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::generateEvent, value);
  }
  std::string GetEndOfTrialEventString() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::eventString);
  }
  void SetEndOfTrialEventString(const std::string& value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::eventString, value);
  }
  int32_t GetEndOfTrialEventTTLValue() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::eventTTLValue);
  }
  void SetEndOfTrialEventTTLValue(int32_t value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::eventTTLValue, value);
  }
  bool GetEndOfTrialGenerateTTLPulse() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::generateTTLPulse);
  }
  void SetEndOfTrialGenerateTTLPulse(bool value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::generateTTLPulse, value);
  }
  int32_t GetEndOfTrialTTLPulseBitNumber() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::pulseBitNumber);
  }
  void SetEndOfTrialTTLPulseBitNumber(int32_t value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::pulseBitNumber, value);
  }
  int32_t GetEndOfTrialTTLPulseDuration() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::pulseDuration);
  }
  void SetEndOfTrialTTLPulseDuration(int32_t value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::pulseDuration, value);
  }
  int32_t GetEndOfTrialTTLPulseBoardNumber() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::pulseBoardNumber);
  }
  void SetEndOfTrialTTLPulseBoardNumber(int32_t value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::pulseBoardNumber, value);
  }
  std::string GetEndOfTrialTTLPulseSubSystemName() const {
    return ReadEdge(EdgeSide::kEnd, &TrialEdge::pulseSubSystemName);
  }
  void SetEndOfTrialTTLPulseSubSystemName(const std::string& value) {
    WriteEdge(EdgeSide::kEnd, &TrialEdge::pulseSubSystemName, value);
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

  // The start trigger (none by default): the trial's start waits for it.
  TrialTrigger GetStartTrigger() const { return Read(&Trial::mStartTrigger); }
  void SetStartTrigger(const TrialTrigger& trigger) { Write(&Trial::mStartTrigger, trigger); }

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

  template <class T>
  T ReadEdge(EdgeSide side, T TrialEdge::*field) const EXCLUDES(mMutex) {
    MutexLock lock(&mMutex);
    return EdgeOf(side).*field;
  }
  template <class T>
  void WriteEdge(EdgeSide side, T TrialEdge::*field, const T& value) EXCLUDES(mMutex) {
    MutexLock lock(&mMutex);
    EdgeOf(side).*field = value;
  }
  TrialEdge& EdgeOf(EdgeSide side) REQUIRES(mMutex) {
    return side == EdgeSide::kStart ? mStart : mEnd;
  }
  const TrialEdge& EdgeOf(EdgeSide side) const REQUIRES(mMutex) {
    return side == EdgeSide::kStart ? mStart : mEnd;
  }
  // The setup-file text of one field's value, as a save writes it.
  std::string SetupValueText(const TrialField& field) const REQUIRES(mMutex);

  // The field table names the fields by their member pointers.
  friend struct TrialFieldAccess;

  mutable Mutex mMutex;  // guards every field below
  std::string mName GUARDED_BY(mMutex);
  int32_t mTrialDuration GUARDED_BY(mMutex) = 2000;
  int32_t mInterTrialInterval GUARDED_BY(mMutex) = 5000;
  TrialEdge mStart GUARDED_BY(mMutex);
  TrialEdge mEnd GUARDED_BY(mMutex);
  bool mPlayWavFile GUARDED_BY(mMutex) = false;
  std::string mWavFileName GUARDED_BY(mMutex) = "";
  int32_t mWavFileBufferNumber GUARDED_BY(mMutex) = 0;
  int32_t mWavFileBoardNumber GUARDED_BY(mMutex) = 0;
  std::string mWavFileSubSystemName GUARDED_BY(mMutex) = "VRXBD";
  TrialTrigger mStartTrigger GUARDED_BY(mMutex);
};

}  // namespace orvanta
