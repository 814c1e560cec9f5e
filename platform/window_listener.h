// The calls the model makes on the main window, and the program-wide slot
// through which they reach it (the role of gMainWindow).
#pragma once

#include <string>

#include "platform/mutex.h"

namespace orvanta {

// Implemented by the main window. Every call may come from any thread (the
// log's writers, the trial worker) and must not block the caller: an
// implementation hands the call over to its own thread and returns.
class WindowListener {
 public:
  virtual ~WindowListener() = default;

  // A trial type was added to / removed from the trial list.
  virtual void AddTrialTypeToList(const std::string& name) = 0;
  virtual void RemoveTrialTypeFromList(const std::string& name) = 0;
  // One complete log entry (tag, time stamp, " - ", text; no line end).
  virtual void AddLogMessage(const std::string& line) = 0;
  // The trial worker is about to run trial `number` (1-based).
  virtual void SetCurrentTrialNumber(int number) = 0;
  // The trial worker finished a run.
  virtual void OnStop() = 0;
  // The run has just ended (its progress says how), before the worker shows
  // its end box: the window shows the run's end and the connection's state
  // first, so that the box never sits over a window that still says
  // otherwise.
  virtual void OnRunEnding() {}
};

// Holds the registered window, or none. Callers reach the window only through
// Call(), which skips the call while no window is registered. Unregister()
// waits for calls in flight, so after it returns no call reaches the window.
//
// Thread-safe. A call may re-enter the slot on the same thread (a window that
// logs while handling a call), so the lock is recursive.
class MainWindowRef {
 public:
  MainWindowRef() = default;
  MainWindowRef(const MainWindowRef&) = delete;
  MainWindowRef& operator=(const MainWindowRef&) = delete;

  void Register(WindowListener* window) {
    RecursiveMutexLock lock(&mutex_);
    window_ = window;
  }
  void Unregister() {
    RecursiveMutexLock lock(&mutex_);
    window_ = nullptr;
  }
  bool IsRegistered() const {
    RecursiveMutexLock lock(&mutex_);
    return window_ != nullptr;
  }

  // Runs fn(window) under the slot's lock; returns false (and does nothing)
  // while no window is registered. fn must not block.
  template <class Fn>
  bool Call(Fn&& fn) {
    RecursiveMutexLock lock(&mutex_);
    if (window_ == nullptr) return false;
    fn(*window_);
    return true;
  }

 private:
  mutable RecursiveMutex mutex_;
  WindowListener* window_ GUARDED_BY(mutex_) = nullptr;
};

}  // namespace orvanta
