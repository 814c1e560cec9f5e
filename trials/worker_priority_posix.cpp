#include "trials/worker_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace orvanta {

WorkerPriority RaiseWorkerPriority() {
  WorkerPriority result;

  const int maxPriority = sched_get_priority_max(SCHED_FIFO);
  if (maxPriority > 0) {
    sched_param param{};
    param.sched_priority = maxPriority;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
      result.realtime = true;
      result.priority = maxPriority;
    } else {
      // An unprivileged user may still be granted real-time priorities up to
      // the RLIMIT_RTPRIO limit.
      rlimit limit{};
      if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0) {
        param.sched_priority =
            static_cast<int>(std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(maxPriority)));
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
          result.realtime = true;
          result.priority = param.sched_priority;
        }
      }
    }
  }

  if (!result.realtime) {
    // Nice values are per thread on Linux. RLIMIT_NICE allows down to
    // 20 - limit; without privilege the thread keeps its value.
    const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    result.priority = current;
    for (int nice = -20; nice < current; ++nice) {
      if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) {
        result.priority = nice;
        break;
      }
    }
  }

  result.fineTimerSlack = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  return result;
}

}  // namespace orvanta
