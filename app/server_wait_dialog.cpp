#include "app/server_wait_dialog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <atomic>
#include <thread>

#include "app/window_wait.h"

namespace orvanta {

// Drops the user's input to every window but the dialog while it shows: the
// main window takes no clicks, keys or shortcuts. Close requests, paint and
// timer events pass.
class ServerWaitDialog::InputGate : public QObject {
 public:
  explicit InputGate(ServerWaitDialog* dialog) : QObject(dialog), dialog_(dialog) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!IsUserInput(event->type())) return false;
    if (auto* widget = qobject_cast<QWidget*>(watched)) return widget->window() != dialog_;
    if (auto* window = qobject_cast<QWindow*>(watched)) return window != dialog_->windowHandle();
    return true;  // a shortcut aimed at an action of another window
  }

 private:
  static bool IsUserInput(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::NonClientAreaMouseButtonPress:
      case QEvent::NonClientAreaMouseButtonRelease:
      case QEvent::NonClientAreaMouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::Shortcut:
      case QEvent::ShortcutOverride:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::TabletMove:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
      case QEvent::InputMethod:
        return true;
      default:
        return false;
    }
  }

  ServerWaitDialog* dialog_;
};

ServerWaitDialog::ServerWaitDialog(const QString& text, std::function<void()> cancel,
                                   QWidget* parent)
    : QDialog(parent), mCancel(std::move(cancel)) {
  setObjectName(QStringLiteral("serverWaitDialog"));
  setWindowTitle(QStringLiteral("Vintra Server"));
  // Not modal: see Start.
  setWindowModality(Qt::NonModal);
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(text, this);
  label->setObjectName(QStringLiteral("serverWaitText"));
  layout->addWidget(label);
  mElapsedText = new QLabel(this);
  mElapsedText->setObjectName(QStringLiteral("serverWaitElapsed"));
  layout->addWidget(mElapsedText);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  mCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  mCancelButton->setObjectName(QStringLiteral("serverWaitCancel"));
  buttons->addWidget(mCancelButton);
  layout->addLayout(buttons);
  connect(mCancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
  mTicker = new QTimer(this);
  mTicker->setInterval(200);
  connect(mTicker, &QTimer::timeout, this, [this] { UpdateElapsed(); });
}

void ServerWaitDialog::Start() {
  mElapsed.start();
  UpdateElapsed();
  mTicker->start();
  if (mGate == nullptr) {
    mGate = new InputGate(this);
    QCoreApplication::instance()->installEventFilter(mGate);
  }
  show();
  raise();
  activateWindow();
}

void ServerWaitDialog::hideEvent(QHideEvent* event) {
  if (mGate != nullptr) {
    QCoreApplication::instance()->removeEventFilter(mGate);
    delete mGate;
    mGate = nullptr;
  }
  QDialog::hideEvent(event);
}

void ServerWaitDialog::reject() { OnCancel(); }

void ServerWaitDialog::OnCancel() {
  if (mCancelled) return;
  mCancelled = true;
  mCancelButton->setEnabled(false);
  mElapsedText->setText(QStringLiteral("Cancelling..."));
  mTicker->stop();
  if (mCancel) mCancel();
}

void ServerWaitDialog::UpdateElapsed() {
  const qint64 seconds = mElapsed.isValid() ? mElapsed.elapsed() / 1000 : 0;
  mElapsedText->setText(QStringLiteral("Elapsed: %1 s").arg(seconds));
}

bool RunWithServerWaitDialog(QWidget* parent, const QString& text, int showAfterMs,
                             const std::function<bool()>& call,
                             const std::function<void()>& cancel) {
  if (!OnWindowThread()) return call();
  WaitCursor cursor;
  std::atomic<bool> done{false};
  bool result = false;
  QCoreApplication* app = QCoreApplication::instance();
  std::thread helper([&] {
    result = call();
    done.store(true);
    // Wakes the loop below; the event itself does nothing.
    QMetaObject::invokeMethod(
        app, [] {}, Qt::QueuedConnection);
  });
  ServerWaitDialog dialog(text, cancel, parent);
  QTimer showTimer;
  showTimer.setSingleShot(true);
  QObject::connect(&showTimer, &QTimer::timeout, &dialog, [&] {
    if (!done.load()) dialog.Start();
  });
  showTimer.start(showAfterMs);
  // While the dialog shows, it drops the other windows' input, but lets a
  // close request of the main window through (which cancels the wait);
  // before it shows, user input (a close request too) waits.
  while (!done.load()) {
    QCoreApplication::processEvents(dialog.isVisible() ? QEventLoop::WaitForMoreEvents
                                                       : QEventLoop::ExcludeUserInputEvents |
                                                             QEventLoop::WaitForMoreEvents);
  }
  helper.join();
  dialog.hide();
  return result;
}

}  // namespace orvanta
