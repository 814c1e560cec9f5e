// A text field that takes digit keystrokes only, like a number-only edit
// control: any other typed character is refused, and pasted text must be a
// number. A refusal leaves the text as it was and is announced with
// inputRefused, so that the window can say why. Text set by the program is shown as it is (a
// negative value that a setup file stored still shows, and can be edited back to digits).
#pragma once

#include <QLineEdit>

namespace orvanta {

class DigitsLineEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit DigitsLineEdit(QWidget* parent = nullptr);

 signals:
  // A keystroke or a paste was refused; `reason` says why, for the user.
  void inputRefused(const QString& reason);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace orvanta
