#include <windows.h>

#include "platform/wake_event.h"

namespace orvanta {

WakeEvent::WakeEvent() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

WakeEvent::~WakeEvent() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

void WakeEvent::Signal() {
  if (signalled_.exchange(1, std::memory_order_release) == 0 && handle_ != nullptr) {
    SetEvent(static_cast<HANDLE>(handle_));
  }
}

bool WakeEvent::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (signalled_.exchange(0, std::memory_order_acquire) != 0) return true;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    // Rounded up: a wait never ends before its deadline.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    if (handle_ == nullptr) {
      Sleep(1);
      continue;
    }
    WaitForSingleObject(static_cast<HANDLE>(handle_), static_cast<DWORD>(ms));
  }
}

}  // namespace orvanta
