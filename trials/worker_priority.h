// Scheduling of the trial worker: the highest real-time priority the system
// grants and the smallest timer slack, so that its waits end as close to
// their deadlines as the timer allows.
#pragma once

namespace orvanta {

// What RaiseWorkerPriority obtained for the calling thread.
struct WorkerPriority {
  bool realtime = false;        // SCHED_FIFO was granted
  int priority = 0;             // the SCHED_FIFO priority, or the nice value
  bool fineTimerSlack = false;  // the timer slack is 1 ns
};

// Asks, for the calling thread only: SCHED_FIFO at its maximum priority, or
// at the highest the RLIMIT_RTPRIO limit allows; failing both, the lowest
// nice value allowed. Then a timer slack of 1 ns. Refusals are not errors:
// the thread keeps what it had.
// On Windows (worker_priority_win.cpp): the time-critical thread priority
// (`realtime`), and a 1 ms timer resolution (`fineTimerSlack`) until the
// thread ends.
WorkerPriority RaiseWorkerPriority();

}  // namespace orvanta
