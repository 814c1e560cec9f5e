// Windows side of the console stop requests: one SetConsoleCtrlHandler
// routine, which the system calls on a thread of its own for Ctrl+C,
// Ctrl+Break, the console window's close button, log-off and shut-down.
#include <windows.h>

#include <chrono>
#include <functional>
#include <utility>

#include "platform/console_stop.h"
#include "platform/mutex.h"

namespace orvanta {

namespace {

// How long a close, log-off or shut-down request waits for the run to end
// before it lets the system end the process (which allows about 5 s).
constexpr auto kCloseGrace = std::chrono::milliseconds(4500);

struct ConsoleStops {
  Mutex mutex;
  CondVar changed{&mutex};
  std::function<void(int)>* onStop GUARDED_BY(mutex) = nullptr;  // the watcher's, or none
  int count GUARDED_BY(mutex) = 0;                               // requests so far
};

ConsoleStops& Stops() {
  static ConsoleStops stops;
  return stops;
}

}  // namespace

namespace console_detail {

// The handler routine. Public for the tests, which cannot send a console
// event where no console exists.
BOOL WINAPI OnConsoleEvent(DWORD type) {
  const bool closing =
      type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
  if (!closing && type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  ConsoleStops& stops = Stops();
  MutexLock lock(&stops.mutex);
  const int count = ++stops.count;
  stops.changed.SignalAll();
  if (stops.onStop != nullptr) (*stops.onStop)(count);
  if (closing) {
    const auto deadline = std::chrono::steady_clock::now() + kCloseGrace;
    while (stops.onStop != nullptr && std::chrono::steady_clock::now() < deadline) {
      stops.changed.WaitUntil(deadline);
    }
  }
  return TRUE;
}

}  // namespace console_detail

void PrepareConsoleStops() {
  // A closed pipe gives a failed write here, never a signal.
  ::SetConsoleCtrlHandler(console_detail::OnConsoleEvent, TRUE);
}

struct ConsoleStopWatcher::Impl {
  std::function<void(int)> onStop;
};

ConsoleStopWatcher::ConsoleStopWatcher(std::function<void(int count)> onStop)
    : impl_(new Impl{std::move(onStop)}) {
  ConsoleStops& stops = Stops();
  MutexLock lock(&stops.mutex);
  stops.onStop = &impl_->onStop;
}

ConsoleStopWatcher::~ConsoleStopWatcher() {
  {
    ConsoleStops& stops = Stops();
    MutexLock lock(&stops.mutex);
    stops.onStop = nullptr;
    stops.changed.SignalAll();
  }
  delete impl_;
}

void WaitForConsoleStop() {
  ConsoleStops& stops = Stops();
  MutexLock lock(&stops.mutex);
  while (stops.count == 0) stops.changed.Wait();
}

bool StandardOutputIsTerminal() {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) return false;
  return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace orvanta
