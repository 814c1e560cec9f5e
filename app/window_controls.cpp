#include "app/window_controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVariant>

namespace orvanta {

void NameControl(QWidget* widget, const ctl::ControlName& control) {
  widget->setObjectName(QString::fromLatin1(control.name));
  if (control.id != 0) widget->setProperty("controlId", control.id);
}

QLabel* MakeLabel(const char* text, const ctl::ControlName& control) {
  return Named(new QLabel(QString::fromLatin1(text)), control);
}

QPushButton* MakeButton(const char* text, const ctl::ControlName& control) {
  auto* button = Named(new QPushButton(QString::fromLatin1(text)), control);
  // Enter never presses a button of this window.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QGroupBox* MakeGroup(const char* title, const ctl::ControlName& control) {
  return Named(new QGroupBox(QString::fromLatin1(title)), control);
}

QListWidget* MakeListBox(const ctl::ControlName& control) {
  auto* list = Named(new QListWidget, control);
  list->setSortingEnabled(false);  // new entries go to the end
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
  return list;
}

}  // namespace orvanta
