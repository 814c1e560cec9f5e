#include "app/trigger_group.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "app/digits.h"
#include "app/digits_line_edit.h"
#include "app/edit_rules.h"
#include "app/window_controls.h"
#include "app/window_texts.h"
#include "trials/trial.h"

namespace orvanta {
namespace {

TriggerTimeout TimeoutAt(int index) {
  return index == 1 ? TriggerTimeout::kSkip : TriggerTimeout::kPlay;
}

}  // namespace

TriggerGroup::TriggerGroup(const TrialEditLink& link)
    : link_(link),
      check_(
          Named(new QCheckBox(QStringLiteral("Wait for Trigger")), ctl::kStartWaitForTriggerCheck)),
      objectLabel_(MakeLabel("Object", ctl::kStartTriggerObjectLabel)),
      object_(Named(new QComboBox, ctl::kStartTriggerObjectCombo)),
      numbers_{{{MakeLabel("Count", ctl::kStartTriggerCountLabel),
                 Named(new DigitsLineEdit, ctl::kStartTriggerCountEdit), &TrialTrigger::count, 1,
                 kTriggerCountMessage},
                {MakeLabel("Window (ms)", ctl::kStartTriggerWindowLabel),
                 Named(new DigitsLineEdit, ctl::kStartTriggerWindowEdit), &TrialTrigger::windowMs,
                 0, kTriggerNegativeMessage},
                {MakeLabel("Timeout (ms)", ctl::kStartTriggerTimeoutLabel),
                 Named(new DigitsLineEdit, ctl::kStartTriggerTimeoutEdit), &TrialTrigger::timeoutMs,
                 0, kTriggerNegativeMessage}}},
      onTimeoutLabel_(MakeLabel("On Time-out", ctl::kStartTriggerOnTimeoutLabel)),
      onTimeout_(Named(new QComboBox, ctl::kStartTriggerOnTimeoutCombo)) {
  object_->setEditable(true);
  NameControl(object_->lineEdit(), ctl::kStartTriggerObjectEdit);
  // A typed name is the field's value, not a new entry of the server's list.
  object_->setInsertPolicy(QComboBox::NoInsert);
  object_->setMinimumWidth(100);
  for (TriggerTimeout choice : {TriggerTimeout::kPlay, TriggerTimeout::kSkip}) {
    onTimeout_->addItem(QString::fromLatin1(TriggerTimeoutName(choice)));
  }

  QObject::connect(check_, &QCheckBox::clicked, check_, [this](bool checked) {
    Write([checked](TrialTrigger& trigger) { trigger.enabled = checked; });
  });
  link_.rules.Watch(object_, [this] { CommitObject(); });
  for (const Number& number : numbers_) {
    link_.rules.Watch(number.edit, [this, &number] { CommitNumber(number); });
  }
  QObject::connect(onTimeout_, &QComboBox::activated, onTimeout_, [this](int index) {
    if (link_.rules.held()) return;
    Write([index](TrialTrigger& trigger) { trigger.onTimeout = TimeoutAt(index); });
  });
}

void TriggerGroup::AddTo(QGridLayout* grid, int column) {
  int row = 0;
  grid->addWidget(check_, row++, column, 1, 2);
  grid->addWidget(objectLabel_, row, column);
  grid->addWidget(object_, row++, column + 1);
  for (const Number& number : numbers_) {
    grid->addWidget(number.label, row, column);
    grid->addWidget(number.edit, row++, column + 1);
  }
  grid->addWidget(onTimeoutLabel_, row, column);
  grid->addWidget(onTimeout_, row, column + 1);
}

void TriggerGroup::Show(const Trial& trial) {
  const TrialTrigger trigger = trial.GetStartTrigger();
  check_->setChecked(trigger.enabled);
  check_->setEnabled(true);
  if (!trigger.enabled) {
    EmptyFields();
    return;
  }
  ShowFields(trigger);
  if (objects_.empty() && wanted_) wanted_();
}

void TriggerGroup::Clear() {
  check_->setChecked(false);
  check_->setEnabled(false);
  EmptyFields();
}

bool TriggerGroup::inUse() const { return check_->isEnabled() && check_->isChecked(); }

void TriggerGroup::SetObjects(const std::vector<std::string>& names) {
  objects_ = names;
  const QSignalBlocker blocker(object_);
  // Refilling the list would put its first entry in the field.
  const QString text = object_->currentText();
  object_->clear();
  for (const std::string& name : names) object_->addItem(Q(name));
  object_->setEditText(text);
}

void TriggerGroup::ShowFields(const TrialTrigger& trigger) {
  const QSignalBlocker blocker(onTimeout_);
  object_->setEditText(Q(trigger.object));
  for (const Number& number : numbers_) {
    number.edit->setText(Q(FormatNumber(trigger.*number.member)));
  }
  onTimeout_->setCurrentIndex(trigger.onTimeout == TriggerTimeout::kSkip ? 1 : 0);
  EnableFields(true);
}

void TriggerGroup::EmptyFields() {
  const QSignalBlocker blocker(onTimeout_);
  object_->setEditText(QString());
  for (const Number& number : numbers_) number.edit->clear();
  onTimeout_->setCurrentIndex(-1);
  EnableFields(false);
}

void TriggerGroup::EnableFields(bool enabled) {
  for (QWidget* widget :
       {static_cast<QWidget*>(objectLabel_), static_cast<QWidget*>(object_),
        static_cast<QWidget*>(onTimeoutLabel_), static_cast<QWidget*>(onTimeout_)}) {
    widget->setEnabled(enabled);
  }
  for (const Number& number : numbers_) {
    number.label->setEnabled(enabled);
    number.edit->setEnabled(enabled);
  }
}

void TriggerGroup::Write(const std::function<void(TrialTrigger&)>& change) {
  Trial* trial = link_.currentTrial();
  if (trial == nullptr) return;
  TrialTrigger trigger = trial->GetStartTrigger();
  change(trigger);
  trial->SetStartTrigger(trigger);
  link_.changed();
}

void TriggerGroup::CommitObject() {
  Trial* trial = link_.currentTrial();
  if (trial == nullptr) return;
  const std::string text = S(object_->currentText());
  const std::string previous = trial->GetStartTrigger().object;
  // A trigger just switched on has no object yet: passing through the empty
  // field is no mistake; emptying a named one is.
  if (text.empty()) {
    if (previous.empty()) return;
    object_->setEditText(Q(previous));
    link_.rules.ShowErrorAfterCommit(kEmptyFieldMessage, object_->lineEdit());
    return;
  }
  Write([&text](TrialTrigger& trigger) { trigger.object = text; });
}

void TriggerGroup::CommitNumber(const Number& number) {
  Trial* trial = link_.currentTrial();
  if (trial == nullptr) return;
  const int32_t previous = trial->GetStartTrigger().*number.member;
  const std::string text = S(number.edit->text());
  if (text.empty()) {
    number.edit->setText(Q(FormatNumber(previous)));
    link_.rules.ShowErrorAfterCommit(kEmptyFieldMessage, number.edit);
    return;
  }
  if (link_.rules.RefuseOverRange(number.edit, text, FormatNumber(previous))) return;
  const int32_t value = ParseDigitsField(text);
  // A value a setup file stored is kept as it is; only a new one is judged.
  if (value < number.least && value != previous) {
    number.edit->setText(Q(FormatNumber(previous)));
    link_.rules.ShowErrorAfterCommit(number.refusal, number.edit);
    return;
  }
  Write([&number, value](TrialTrigger& trigger) { trigger.*number.member = value; });
}

}  // namespace orvanta
