#include "app/edit_rules.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>

#include "app/digits.h"
#include "app/window_controls.h"
#include "app/window_texts.h"

namespace orvanta {
namespace {

constexpr const char kOverRangeMessage[] =
    "Unable to set new value, the number is too large for this field (at most 2147483647).  The "
    "previous value was not changed.";

}  // namespace

EditRules::EditRules(MessageBoxes& boxes) : boxes_(boxes) {}

void EditRules::Watch(QLineEdit* edit, std::function<void()> commit, bool holdDuring) {
  fields_[edit] = Field{std::move(commit), holdDuring};
  edit->installEventFilter(this);
  connect(edit, &QObject::destroyed, this, [this, edit] { fields_.erase(edit); });
}

void EditRules::Watch(QComboBox* combo, std::function<void()> commit) {
  QLineEdit* edit = combo->lineEdit();
  fields_[edit] = Field{std::move(commit), true};
  combo->installEventFilter(this);
  connect(edit, &QObject::destroyed, this, [this, edit] { fields_.erase(edit); });
  connect(combo, &QComboBox::activated, this, [this, edit] { Commit(edit); });
}

void EditRules::Commit(QLineEdit* edit) {
  if (held() || !edit->isEnabled()) return;
  const auto it = fields_.find(edit);
  if (it == fields_.end()) return;
  // A copy: the commit may show the type again, which leaves the table as it
  // is, but the call must not depend on that.
  const Field field = it->second;
  if (!field.holdDuring) {
    field.commit();
    return;
  }
  Hold hold(*this);
  field.commit();
}

bool EditRules::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    auto* focus = static_cast<QFocusEvent*>(event);
    if (focus->reason() != Qt::PopupFocusReason) {
      if (auto* edit = qobject_cast<QLineEdit*>(watched)) Commit(edit);
      if (auto* combo = qobject_cast<QComboBox*>(watched); combo && combo->lineEdit()) {
        Commit(combo->lineEdit());
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

void EditRules::ShowError(const std::string& text) {
  lastMessage_ = text;
  boxes_.Show(lastMessage_, kTrialTypePropertiesError, BoxIcon::kError, BoxButtons::kOk);
}

void EditRules::ShowErrorAfterCommit(const std::string& text, QLineEdit* field) {
  lastMessage_ = text;
  QPointer<QLineEdit> target(field);
  QMetaObject::invokeMethod(
      this,
      [this, text, target] {
        boxes_.Show(text, kTrialTypePropertiesError, BoxIcon::kError, BoxButtons::kOk);
        if (target && target->isEnabled()) target->setFocus(Qt::OtherFocusReason);
      },
      Qt::QueuedConnection);
}

bool EditRules::RefuseOverRange(QLineEdit* edit, const std::string& text,
                                const std::string& previous) {
  if (!DigitsFieldOverflows(text)) return false;
  edit->setText(Q(previous));
  ShowErrorAfterCommit(kOverRangeMessage, edit);
  return true;
}

}  // namespace orvanta
