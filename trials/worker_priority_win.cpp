// Windows side of the worker's scheduling: the time-critical thread priority
// and a 1 ms system timer resolution for as long as the worker thread lives
// (one thread per run), so that its waits end within a millisecond of their
// deadlines instead of the default 15.6 ms tick.
#include <windows.h>
// after windows.h, which it needs
#include <timeapi.h>

#include "trials/worker_priority.h"

namespace orvanta {

namespace {

// Gives the timer resolution back when the thread that asked for it ends.
struct TimerResolution {
  bool raised = false;
  ~TimerResolution() {
    if (raised) ::timeEndPeriod(1);
  }
};

}  // namespace

WorkerPriority RaiseWorkerPriority() {
  WorkerPriority result;
  if (::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
    result.realtime = true;
  }
  result.priority = ::GetThreadPriority(::GetCurrentThread());
  thread_local TimerResolution resolution;
  if (!resolution.raised) resolution.raised = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  result.fineTimerSlack = resolution.raised;
  return result;
}

}  // namespace orvanta
