#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/wake_event.h"

namespace orvanta {

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t),
              "the futex word is the atomic itself");

uint32_t* Word(std::atomic<uint32_t>& word) { return reinterpret_cast<uint32_t*>(&word); }

}  // namespace

WakeEvent::WakeEvent() = default;
WakeEvent::~WakeEvent() = default;

void WakeEvent::Signal() {
  if (signalled_.exchange(1, std::memory_order_release) == 0) {
    syscall(SYS_futex, Word(signalled_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
}

bool WakeEvent::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (signalled_.exchange(0, std::memory_order_acquire) != 0) return true;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
    timeout.tv_nsec = static_cast<long>(ns % 1000000000);
    // Sleeps only while the word is still 0; a Signal in between makes it
    // return at once (EAGAIN).
    syscall(SYS_futex, Word(signalled_), FUTEX_WAIT_PRIVATE, 0, &timeout, nullptr, 0);
  }
}

}  // namespace orvanta
