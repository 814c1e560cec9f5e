// Waiting on the window thread without freezing the window. Qt-based.
#pragma once

#include <chrono>
#include <functional>

namespace orvanta {

// Runs `call` on a helper thread and returns when it has returned. Meanwhile
// the window thread keeps its event loop going for everything but the user's
// input: the windows repaint, timers fire, and the calls the log and the trial
// worker queue to the window are carried out. Key presses and mouse clicks
// wait until the call is over. The wait cursor is shown for the duration.
//
// Called on the application's thread. Called on any other thread, or without
// a QApplication, `call` simply runs on the caller's thread.
//
// `call` must not touch widgets; whatever it shares with the window thread
// must be safe to use from another thread.
void RunWhileWindowWaits(const std::function<void()>& call);

// Keeps the window thread's event loop going, as above (no user input), for
// about `duration`. Returns at once off the application's thread (after
// sleeping `duration`).
void PumpWithoutUserInput(std::chrono::milliseconds duration);

// True on the application's (window) thread of a running QCoreApplication.
bool OnWindowThread();

// Shows the wait cursor for its lifetime (nothing without a QApplication).
// Window thread only; may be nested.
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  bool shown_ = false;
};

}  // namespace orvanta
