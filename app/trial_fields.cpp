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
#include "trials/trial.h"

namespace orvanta {

TrialFieldEdit::TrialFieldEdit(const TrialFieldUi& ui, const TrialEditLink& link)
    : ui_(ui),
      field_(FieldOf(ui.key)),
      link_(link),
      label_(MakeLabel(ui.labelText, ui.label)),
      edit_(Named(field_.kind == FieldKind::kInt ? new DigitsLineEdit : new QLineEdit, ui.edit)) {
  link_.rules.Watch(edit_, [this] { Commit(); });
}

std::string TrialFieldEdit::Shown(const Trial& trial) const {
  return field_.kind == FieldKind::kInt ? FormatNumber(field_.GetInt(trial))
                                        : field_.GetText(trial);
}

void TrialFieldEdit::Show(const Trial& trial) {
  edit_->setText(Q(Shown(trial)));
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
    edit_->setText(Q(Shown(*trial)));
    link_.rules.ShowErrorAfterCommit(kEmptyFieldMessage, edit_);
    return;
  }
  if (field_.kind == FieldKind::kInt) {
    if (link_.rules.RefuseOverRange(edit_, text, Shown(*trial))) return;
    field_.SetInt(*trial, ParseDigitsField(text));
  } else {
    field_.SetText(*trial, text);
  }
  link_.changed();
}

TrialSwitch::TrialSwitch(const TrialSwitchUi& ui, const TrialEditLink& link,
                         std::vector<TrialFieldEdit*> governed, QPushButton* governedButton)
    : ui_(ui),
      field_(FieldOf(ui.key)),
      link_(link),
      check_(Named(new QCheckBox(QString::fromLatin1(ui.text)), ui.check)),
      governed_(std::move(governed)),
      governedButton_(governedButton) {
  QObject::connect(check_, &QCheckBox::clicked, check_, [this] {
    Trial* trial = link_.currentTrial();
    if (trial == nullptr) return;
    field_.SetBool(*trial, check_->isChecked());
    link_.changed();
  });
}

void TrialSwitch::Show(const Trial& trial) {
  const bool checked = field_.GetBool(trial);
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
