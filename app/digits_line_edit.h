// A text field that takes digit keystrokes only, like a number-only edit
// control: any other typed character is refused, and pasted text must be a
// number. Text set by the program is shown as it is (a negative value that a
// setup file stored still shows, and can be edited back to digits).
#pragma once

#include <QLineEdit>

namespace orvanta {

class DigitsLineEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit DigitsLineEdit(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace orvanta
