// Makers of the main window's controls: each control gets its stable name
// (objectName) and its template number (property "controlId") from
// control_ids.h. Used by the window's parts as they build themselves.
// Window thread.
#pragma once

#include <QString>

#include <string>

#include "app/control_ids.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

namespace orvanta {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline std::string S(const QString& text) { return text.toStdString(); }

// Gives a control its stable name and its template number.
void NameControl(QWidget* widget, const ctl::ControlName& control);

template <class W>
W* Named(W* widget, const ctl::ControlName& control) {
  NameControl(widget, control);
  return widget;
}

QLabel* MakeLabel(const char* text, const ctl::ControlName& control);
// A button that Enter never presses.
QPushButton* MakeButton(const char* text, const ctl::ControlName& control);
QGroupBox* MakeGroup(const char* title, const ctl::ControlName& control);
// A single-selection list whose new entries go to the end.
QListWidget* MakeListBox(const ctl::ControlName& control);

}  // namespace orvanta
