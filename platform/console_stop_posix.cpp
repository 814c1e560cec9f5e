// POSIX side of the console stop requests: SIGINT and SIGTERM are blocked in
// every thread and taken by sigwait() on a thread of their own.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include <utility>

#include "platform/console_stop.h"

namespace orvanta {

namespace {

sigset_t StopSignals(bool withWakeup) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // SIGUSR1 ends a watcher's thread.
  if (withWakeup) sigaddset(&signals, SIGUSR1);
  return signals;
}

}  // namespace

void PrepareConsoleStops() {
  std::signal(SIGPIPE, SIG_IGN);
  // Blocked before any thread starts, so that every thread inherits it and
  // only the one in sigwait() takes them.
  const sigset_t signals = StopSignals(true);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

struct ConsoleStopWatcher::Impl {
  std::function<void(int)> onStop;
  std::thread thread;

  void Loop() {
    const sigset_t signals = StopSignals(true);
    int count = 0;
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) continue;
      if (signal == SIGUSR1) return;
      onStop(++count);
    }
  }
};

ConsoleStopWatcher::ConsoleStopWatcher(std::function<void(int count)> onStop)
    : impl_(new Impl{std::move(onStop), {}}) {
  impl_->thread = std::thread([this] { impl_->Loop(); });
}

ConsoleStopWatcher::~ConsoleStopWatcher() {
  pthread_kill(impl_->thread.native_handle(), SIGUSR1);
  impl_->thread.join();
  delete impl_;
}

void WaitForConsoleStop() {
  const sigset_t signals = StopSignals(false);
  int signal = 0;
  while (sigwait(&signals, &signal) != 0) {
  }
}

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace orvanta
