// The trial type's fields as the editor shows them: for each, the label's
// text, the control names (control_ids.h) and the Trial's accessors. The
// start and the end of a trial differ only in this data (kStartOfTrialUi,
// kEndOfTrialUi); one EdgePanel class shows either. Qt-free.
#pragma once

#include <cstdint>
#include <string>

#include "app/control_ids.h"
#include "trials/trial.h"

namespace orvanta {

// One text or digits field: exactly one accessor pair is set.
struct TrialFieldUi {
  const char* labelText;
  ctl::ControlName label;
  ctl::ControlName edit;
  int32_t (Trial::*getNumber)() const;
  void (Trial::*setNumber)(int32_t);
  std::string (Trial::*getText)() const;
  void (Trial::*setText)(const std::string&);
  bool allowEmpty;  // an emptied text field is a value, not a mistake
};

constexpr TrialFieldUi NumberFieldUi(const char* labelText, ctl::ControlName label,
                                     ctl::ControlName edit, int32_t (Trial::*get)() const,
                                     void (Trial::*set)(int32_t)) {
  return {labelText, label, edit, get, set, nullptr, nullptr, false};
}

constexpr TrialFieldUi TextFieldUi(const char* labelText, ctl::ControlName label,
                                   ctl::ControlName edit, std::string (Trial::*get)() const,
                                   void (Trial::*set)(const std::string&), bool allowEmpty) {
  return {labelText, label, edit, nullptr, nullptr, get, set, allowEmpty};
}

// A check box of the trial type; it governs the fields listed with it.
struct TrialSwitchUi {
  const char* text;
  ctl::ControlName check;
  bool (Trial::*get)() const;
  void (Trial::*set)(bool);
};

// One side of a trial: its event and its TTL pulse.
struct EdgeSideUi {
  const char* title;
  ctl::ControlName group;
  TrialSwitchUi event;
  TrialFieldUi eventString;
  TrialFieldUi ttlValue;
  TrialSwitchUi pulse;
  TrialFieldUi bitNumber;
  TrialFieldUi pulseDuration;
  TrialFieldUi boardNumber;
  TrialFieldUi subSystemName;
};

extern const EdgeSideUi kStartOfTrialUi;
extern const EdgeSideUi kEndOfTrialUi;

// The timing of the type.
extern const TrialFieldUi kTrialDurationUi;
extern const TrialFieldUi kInterTrialIntervalUi;

// The wav file of the type.
extern const TrialSwitchUi kPlayWavFileUi;
extern const TrialFieldUi kWavFileNameUi;
extern const TrialFieldUi kWavBufferNumberUi;
extern const TrialFieldUi kWavBoardNumberUi;
extern const TrialFieldUi kWavSubSystemNameUi;

}  // namespace orvanta
