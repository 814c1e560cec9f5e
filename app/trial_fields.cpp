#include "app/trial_fields.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "app/digits.h"
#include "app/digits_line_edit.h"
#include "app/edit_rules.h"
#include "app/window_controls.h"
#include "app/window_texts.h"

namespace orvanta {

TrialFieldEdit::TrialFieldEdit(const TrialFieldUi& ui, const TrialEditLink& link)
    : ui_(ui),
      link_(link),
      label_(MakeLabel(ui.labelText, ui.label)),
      edit_(Named(ui.getNumber != nullptr ? new DigitsLineEdit : new QLineEdit, ui.edit)) {
  link_.rules.Watch(edit_, [this] { Commit(); });
}

void TrialFieldEdit::Show(const Trial& trial) {
  if (ui_.getNumber != nullptr) {
    edit_->setText(Q(FormatNumber((trial.*ui_.getNumber)())));
  } else {
    edit_->setText(Q((trial.*ui_.getText)()));
  }
  edit_->setEnabled(true);
  label_->setEnabled(true);
}

void TrialFieldEdit::Empty() {
  edit_->clear();
  edit_->setEnabled(false);
  label_->setEnabled(false);
}

void TrialFieldEdit::Commit() {
  Trial* trial = link_.currentTrial();
  if (trial == nullptr) return;
  const std::string text = S(edit_->text());
  if (text.empty() && !ui_.allowEmpty) {
    if (ui_.getNumber != nullptr) {
      edit_->setText(Q(FormatNumber((trial->*ui_.getNumber)())));
    } else {
      edit_->setText(Q((trial->*ui_.getText)()));
    }
    link_.rules.ShowErrorAfterCommit(kEmptyFieldMessage, edit_);
    return;
  }
  if (ui_.setNumber != nullptr) {
    if (link_.rules.RefuseOverRange(edit_, text, FormatNumber((trial->*ui_.getNumber)()))) return;
    (trial->*ui_.setNumber)(ParseDigitsField(text));
  } else {
    (trial->*ui_.setText)(text);
  }
  link_.changed();
}

TrialSwitch::TrialSwitch(const TrialSwitchUi& ui, const TrialEditLink& link,
                         std::vector<TrialFieldEdit*> governed, QPushButton* governedButton)
    : ui_(ui),
      link_(link),
      check_(Named(new QCheckBox(QString::fromLatin1(ui.text)), ui.check)),
      governed_(std::move(governed)),
      governedButton_(governedButton) {
  QObject::connect(check_, &QCheckBox::clicked, check_, [this] {
    Trial* trial = link_.currentTrial();
    if (trial == nullptr) return;
    (trial->*ui_.set)(check_->isChecked());
    link_.changed();
  });
}

void TrialSwitch::Show(const Trial& trial) {
  const bool checked = (trial.*ui_.get)();
  check_->setChecked(checked);
  check_->setEnabled(true);
  for (TrialFieldEdit* field : governed_) {
    if (checked) {
      field->Show(trial);
    } else {
      field->Empty();
    }
  }
  if (governedButton_ != nullptr) governedButton_->setEnabled(checked);
}

void TrialSwitch::Clear() {
  check_->setChecked(false);
  check_->setEnabled(false);
  for (TrialFieldEdit* field : governed_) field->Empty();
  if (governedButton_ != nullptr) governedButton_->setEnabled(false);
}

}  // namespace orvanta
