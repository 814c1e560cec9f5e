#include "app/server_wait_dialog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

#include "app/window_wait.h"

namespace orvanta {

ServerWaitDialog::ServerWaitDialog(const QString& text, std::function<void()> cancel,
                                   QWidget* parent)
    : QDialog(parent), mCancel(std::move(cancel)) {
  setObjectName(QStringLiteral("serverWaitDialog"));
  setWindowTitle(QStringLiteral("Vintra Server"));
  setModal(true);
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
  show();
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
  // The dialog is modal, so the main window takes no input while it shows;
  // before it shows, user input waits.
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
