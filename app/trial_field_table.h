// The trial type's fields as the editor shows them: for each, the label's
// text, the control names (control_ids.h) and the row of the field table. The
// start and the end of a trial differ only in this data (kStartOfTrialUi,
// kEndOfTrialUi); one EdgePanel class shows either. Qt-free.
#pragma once

#include "app/control_ids.h"
#include "trials/trial_fields.h"

namespace orvanta {

// One text or digits field. `key` names its row of the trial type's field
// table (trials/trial_fields.h), which says whether it holds digits or text
// and reads and writes the Trial under the Trial's lock.
struct TrialFieldUi {
  const char* labelText;
  ctl::ControlName label;
  ctl::ControlName edit;
  const char* key;
  bool allowEmpty;  // an emptied text field is a value, not a mistake
};

constexpr TrialFieldUi NumberFieldUi(const char* labelText, ctl::ControlName label,
                                     ctl::ControlName edit, const char* key) {
  return {labelText, label, edit, key, false};
}

constexpr TrialFieldUi TextFieldUi(const char* labelText, ctl::ControlName label,
                                   ctl::ControlName edit, const char* key, bool allowEmpty) {
  return {labelText, label, edit, key, allowEmpty};
}

// A check box of the trial type; it governs the fields listed with it.
struct TrialSwitchUi {
  const char* text;
  ctl::ControlName check;
  const char* key;
};

// The row of the field table that `key` names. A key without a row stops
// the program when the editor is built, which every window test does.
const TrialField& FieldOf(const char* key);

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
  bool startTrigger;  // the side has the start trigger's group (TriggerGroup)
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
