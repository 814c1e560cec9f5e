// Stop requests from the console, for the command-line programs: SIGINT
// (Ctrl+C) and SIGTERM here; Ctrl+C, Ctrl+Break, closing the console window,
// logging off and shutting down on Windows (console_stop_win.cpp).
#pragma once

#include <functional>

namespace orvanta {

// Call first in main(), before any thread starts. From then on stop
// requests are held for a ConsoleStopWatcher or WaitForConsoleStop instead
// of ending the program, and a closed output pipe no longer ends it either
// (writes to it just fail).
void PrepareConsoleStops();

// While it lives, every stop request calls `onStop` with its number (1 for
// the first), on a thread of its own, never inside a signal handler. The
// destructor waits for a call in progress; afterwards no call comes. One
// watcher at a time.
//
// On Windows the system ends the process soon after a console window was
// closed (or the user logs off); the request then waits, a few seconds at
// most, for the watcher to be destroyed, so that the run is stopped and its
// files closed first.
class ConsoleStopWatcher {
 public:
  explicit ConsoleStopWatcher(std::function<void(int count)> onStop);
  ~ConsoleStopWatcher();
  ConsoleStopWatcher(const ConsoleStopWatcher&) = delete;
  ConsoleStopWatcher& operator=(const ConsoleStopWatcher&) = delete;

 private:
  struct Impl;
  Impl* impl_;
};

// Blocks the calling thread until a stop request arrives.
void WaitForConsoleStop();

// True when standard output is a terminal that takes the progress line's
// escape sequences (on Windows: a console, whose virtual-terminal mode
// this turns on).
bool StandardOutputIsTerminal();

}  // namespace orvanta
