#include "app/digits_line_edit.h"

#include <QKeyEvent>
#include <QValidator>

namespace orvanta {
namespace {

// Accepts digits, optionally after one leading minus sign (only the program
// writes that sign; the keystroke filter below never lets the user type it).
class NumberTextValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*pos*/) const override {
    int start = 0;
    if (input.startsWith(QLatin1Char('-'))) start = 1;
    for (int i = start; i < input.size(); ++i) {
      if (input.at(i) < QLatin1Char('0') || input.at(i) > QLatin1Char('9')) return Invalid;
    }
    if (start == 1 && input.size() == 1) return Intermediate;
    return Acceptable;
  }
};

}  // namespace

DigitsLineEdit::DigitsLineEdit(QWidget* parent) : QLineEdit(parent) {
  setValidator(new NumberTextValidator(this));
  // A paste (or any other change) that is not a number.
  connect(this, &QLineEdit::inputRejected, this, [this] {
    emit inputRefused(QStringLiteral("Only the digits 0 to 9 can be entered in this field."));
  });
}

void DigitsLineEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool shortcut =
      event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (!shortcut && !text.isEmpty() && text.at(0).isPrint()) {
    for (QChar c : text) {
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
        event->accept();  // refused: the keystroke is swallowed
        emit inputRefused(QStringLiteral("\"%1\" was not entered: only the digits 0 to 9 can be "
                                         "typed in this field.")
                              .arg(text));
        return;
      }
    }
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace orvanta
