#include "app/qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include "platform/mutex.h"

namespace orvanta {
namespace {

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kError:
      return QMessageBox::Critical;
    case BoxIcon::kWarning:
      return QMessageBox::Warning;
    case BoxIcon::kInformation:
      return QMessageBox::Information;
    case BoxIcon::kQuestion:
      return QMessageBox::Question;
    case BoxIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

// Box texts use CR LF line ends; the widget wants plain line feeds.
QString ToDisplayText(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

bool OnApplicationThread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

// Shared with the queued calls, so that a call still in the queue never
// touches a destroyed QtMessageBoxes.
struct QtMessageBoxes::State {
  QPointer<QWidget> owner;  // window thread only

  Mutex mutex;
  CondVar answered{&mutex};
  bool closed GUARDED_BY(mutex) = false;

  BoxResult ShowHere(const std::string& text, const std::string& caption, BoxIcon icon,
                     BoxButtons buttons) {
    QMessageBox::StandardButtons qtButtons = QMessageBox::Ok;
    if (buttons == BoxButtons::kOkCancel) qtButtons = QMessageBox::Ok | QMessageBox::Cancel;
    if (buttons == BoxButtons::kYesNo) qtButtons = QMessageBox::Yes | QMessageBox::No;
    if (buttons == BoxButtons::kAddReplaceCancel) qtButtons = QMessageBox::NoButton;
    // Without an owner the box belongs to whatever window is in front.
    QWidget* parent = owner.data();
    if (parent == nullptr) parent = QApplication::activeModalWidget();
    if (parent == nullptr) parent = QApplication::activeWindow();
    QMessageBox box(ToQtIcon(icon), QString::fromStdString(caption), ToDisplayText(text), qtButtons,
                    parent);
    box.setTextFormat(Qt::PlainText);
    // A yes/no question is answered No by Enter: the answer that needs no
    // thought changes nothing.
    if (buttons == BoxButtons::kYesNo) box.setDefaultButton(QMessageBox::No);
    box.setObjectName(QStringLiteral("messageBox"));
    if (buttons == BoxButtons::kAddReplaceCancel) {
      QPushButton* add = box.addButton(QStringLiteral("Add"), QMessageBox::AcceptRole);
      QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
      QPushButton* cancel = box.addButton(QMessageBox::Cancel);
      add->setObjectName(QStringLiteral("addButton"));
      replace->setObjectName(QStringLiteral("replaceButton"));
      box.setDefaultButton(add);
      box.setEscapeButton(cancel);
      box.exec();
      if (box.clickedButton() == add) return BoxResult::kAdd;
      if (box.clickedButton() == replace) return BoxResult::kReplace;
      return BoxResult::kCancel;
    }
    switch (box.exec()) {
      case QMessageBox::Cancel:
        return BoxResult::kCancel;
      case QMessageBox::Yes:
        return BoxResult::kYes;
      case QMessageBox::No:
        return BoxResult::kNo;
      case QMessageBox::Ok:
        return BoxResult::kOk;
      default:
        // Closed from the title bar or with Escape.
        return buttons == BoxButtons::kOk ? BoxResult::kOk : UnansweredResult(buttons);
    }
  }
};

QtMessageBoxes::QtMessageBoxes() : state_(std::make_shared<State>()) {}

QtMessageBoxes::~QtMessageBoxes() { Close(); }

BoxResult QtMessageBoxes::UnansweredResult(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::kOkCancel:
    case BoxButtons::kAddReplaceCancel:
      return BoxResult::kCancel;
    case BoxButtons::kYesNo:
      return BoxResult::kNo;
    case BoxButtons::kOk:
      break;
  }
  return BoxResult::kOk;
}

void QtMessageBoxes::SetOwner(QWidget* owner) { state_->owner = owner; }

void QtMessageBoxes::Close() {
  {
    MutexLock lock(&state_->mutex);
    state_->closed = true;
  }
  state_->answered.SignalAll();
}

BoxResult QtMessageBoxes::Show(const std::string& text, const std::string& caption, BoxIcon icon,
                               BoxButtons buttons) {
  if (QCoreApplication::instance() == nullptr) {
    // No window system at all: fall back to the headless form.
    return StderrMessageBoxes().Show(text, caption, icon, buttons);
  }
  if (OnApplicationThread()) return state_->ShowHere(text, caption, icon, buttons);

  // Another thread: queue the box to the window thread and wait for it.
  struct Request {
    bool done = false;
    bool abandoned = false;
    BoxResult result = BoxResult::kOk;
  };
  auto request = std::make_shared<Request>();
  std::shared_ptr<State> state = state_;
  {
    MutexLock lock(&state->mutex);
    if (state->closed) return UnansweredResult(buttons);
  }
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [state, request, text, caption, icon, buttons] {
        {
          MutexLock lock(&state->mutex);
          if (request->abandoned || state->closed) return;
        }
        const BoxResult result = state->ShowHere(text, caption, icon, buttons);
        {
          MutexLock lock(&state->mutex);
          request->result = result;
          request->done = true;
        }
        state->answered.SignalAll();
      },
      Qt::QueuedConnection);

  MutexLock lock(&state->mutex);
  while (!request->done && !state->closed) state->answered.Wait();
  if (request->done) return request->result;
  request->abandoned = true;
  return UnansweredResult(buttons);
}

}  // namespace orvanta
