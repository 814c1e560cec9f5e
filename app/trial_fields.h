// The editor's view of one field of a trial type (a label and a line edit)
// and of one switch (a check box with the fields and the button it
// governs). Each shows the type the editor shows and commits into it; the
// part that holds them (EdgePanel, WavGroup, TrialTypeEditor) lays out their
// controls.
//
// Owner: the part that holds them; the controls are that part's Qt children.
// Thread: the window thread.
#pragma once

#include <functional>
#include <vector>

#include "app/trial_field_table.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orvanta {

class EditRules;

// Where the fields find the type being edited, and whom they tell that a
// value was written into it.
struct TrialEditLink {
  EditRules& rules;
  std::function<Trial*()> currentTrial;  // null when no type is shown
  std::function<void()> changed;         // the editor shows the type again
};

class TrialFieldEdit {
 public:
  // Creates the label and the edit (a digits field for numbers), named as
  // `ui` says, and has the edit commit by the window's rules.
  TrialFieldEdit(const TrialFieldUi& ui, const TrialEditLink& link);
  TrialFieldEdit(const TrialFieldEdit&) = delete;
  TrialFieldEdit& operator=(const TrialFieldEdit&) = delete;

  QLabel* label() const { return label_; }
  QLineEdit* edit() const { return edit_; }
  // The type's value, enabled.
  void Show(const Trial& trial);
  // Empty and disabled.
  void Empty();

 private:
  void Commit();

  // The value as the field shows it.
  std::string Shown(const Trial& trial) const;

  const TrialFieldUi& ui_;
  const TrialField& field_;
  TrialEditLink link_;
  QLabel* label_;
  QLineEdit* edit_;
};

class TrialSwitch {
 public:
  // Creates the check box named as `ui` says; a click writes the type.
  TrialSwitch(const TrialSwitchUi& ui, const TrialEditLink& link,
              std::vector<TrialFieldEdit*> governed, QPushButton* governedButton = nullptr);
  TrialSwitch(const TrialSwitch&) = delete;
  TrialSwitch& operator=(const TrialSwitch&) = delete;

  QCheckBox* check() const { return check_; }
  // The type's choice, enabled; the governed fields show while it is on and
  // are empty and disabled while it is off.
  void Show(const Trial& trial);
  // Unchecked and disabled with its fields and button.
  void Clear();

 private:
  const TrialSwitchUi& ui_;
  const TrialField& field_;
  TrialEditLink link_;
  QCheckBox* check_;
  std::vector<TrialFieldEdit*> governed_;
  QPushButton* governedButton_;
};

}  // namespace orvanta
