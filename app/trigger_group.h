// The start trigger of a trial type in the editor's start panel: the "Wait
// for Trigger" check box and the fields it governs, the acquisition object
// (an editable combo box listing the server's objects once the window has
// them, plain text entry before), the count, the window and the timeout in
// ms and what a time-out does (Play or Skip). The fields are empty and
// disabled while the box is off. Each commit reads the type's trigger,
// changes the one value and writes it back (Trial::SetStartTrigger); a
// refused value shows the editor's error box (EditRules) and the previous
// value again.
//
// Owner: EdgePanel (the start side's); the controls are the panel's Qt
// children. Thread: the window thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/trial_fields.h"
#include "trials/trial_trigger.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;

namespace orvanta {

class TriggerGroup {
 public:
  explicit TriggerGroup(const TrialEditLink& link);
  TriggerGroup(const TriggerGroup&) = delete;
  TriggerGroup& operator=(const TriggerGroup&) = delete;

  // Places the controls in `grid`, in tab order, one per row from the top
  // in the columns `column` (labels) and `column` + 1 (fields).
  void AddTo(QGridLayout* grid, int column);

  // The type's trigger, the box enabled; the fields as the box says.
  void Show(const Trial& trial);
  // No type: unchecked, everything empty and disabled.
  void Clear();

  // The server's acquisition objects as the object's list (empty: no list).
  // The text in the field stays as it is.
  void SetObjects(const std::vector<std::string>& names);
  // Called whenever the group is shown with its box on and no list of
  // objects: the window fetches one when it is connected.
  void SetObjectsWanted(std::function<void()> wanted) { wanted_ = std::move(wanted); }
  // Shown with its box on.
  bool inUse() const;

 private:
  // One number of the trigger and the least value it takes.
  struct Number {
    QLabel* label;
    QLineEdit* edit;
    int32_t TrialTrigger::*member;
    int32_t least;
    const char* refusal;  // the box's text for a value below `least`
  };

  void ShowFields(const TrialTrigger& trigger);
  void EmptyFields();
  void EnableFields(bool enabled);
  // Reads the trigger of the type shown, lets `change` alter it, writes it
  // back and has the editor show the type again.
  void Write(const std::function<void(TrialTrigger&)>& change);
  void CommitObject();
  void CommitNumber(const Number& number);

  TrialEditLink link_;
  QCheckBox* check_;
  QLabel* objectLabel_;
  QComboBox* object_;
  std::array<Number, 3> numbers_;
  QLabel* onTimeoutLabel_;
  QComboBox* onTimeout_;
  std::vector<std::string> objects_;
  std::function<void()> wanted_;
};

}  // namespace orvanta
