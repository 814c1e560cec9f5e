#include "app/window_wait.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <thread>

namespace orvanta {
namespace {

constexpr QEventLoop::ProcessEventsFlags kNoUserInput =
    QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents;

}  // namespace

WaitCursor::WaitCursor() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    shown_ = true;
  }
}

WaitCursor::~WaitCursor() {
  if (shown_) QApplication::restoreOverrideCursor();
}

bool OnWindowThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void RunWhileWindowWaits(const std::function<void()>& call) {
  if (!OnWindowThread()) {
    call();
    return;
  }
  WaitCursor cursor;
  std::atomic<bool> done{false};
  QCoreApplication* app = QCoreApplication::instance();
  std::thread helper([&] {
    call();
    done.store(true);
    // Wakes the loop below; the event itself does nothing.
    QMetaObject::invokeMethod(
        app, [] {}, Qt::QueuedConnection);
  });
  while (!done.load()) QCoreApplication::processEvents(kNoUserInput);
  helper.join();
}

void PumpWithoutUserInput(std::chrono::milliseconds duration) {
  if (!OnWindowThread()) {
    std::this_thread::sleep_for(duration);
    return;
  }
  QElapsedTimer elapsed;
  elapsed.start();
  // The timer ends every wait for events in time to see the end.
  QTimer wake;
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(static_cast<int>(std::clamp<long long>(duration.count(), 1, 10)));
  while (elapsed.elapsed() < duration.count()) QCoreApplication::processEvents(kNoUserInput);
}

}  // namespace orvanta
