#include "trigger/trigger_gate.h"

#include <thread>

namespace orvanta {

namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TriggerGate::OnRecord(const std::string& objectName) {
  // Unarmed, a record costs one load and never touches inside_, so that a
  // flood of records cannot hold up Arm's wait below.
  if (!armed_.load(std::memory_order_relaxed)) return;
  inside_.fetch_add(1, std::memory_order_seq_cst);
  if (armed_.load(std::memory_order_seq_cst) && !fired_.load(std::memory_order_acquire) &&
      objectName == object_) {
    const int64_t now = NowNs();
    while (ringBusy_.test_and_set(std::memory_order_acquire)) {
    }
    ring_[received_ % ring_.size()] = now;
    ++received_;
    const bool fire = !fired_.load(std::memory_order_relaxed) && Filled(now);
    if (fire) {
      arrivedNs_ = now;
      fired_.store(true, std::memory_order_release);
    }
    ringBusy_.clear(std::memory_order_release);
    if (fire) wake_.Signal();
  }
  inside_.fetch_sub(1, std::memory_order_seq_cst);
}

bool TriggerGate::Filled(int64_t now) const {
  const uint64_t count = static_cast<uint64_t>(count_);
  if (received_ < count) return false;
  // The oldest of the last `count` records, the newest being `now`.
  const int64_t oldest = ring_[(received_ - count) % ring_.size()];
  return now - oldest <= windowNs_;
}

void TriggerGate::Arm(const std::string& object, int32_t count, int32_t windowMs) {
  armed_.store(false, std::memory_order_seq_cst);
  // A receive thread that read armed_ as true before the store above is
  // inside; one that comes later sees it false. Wait for the ones inside.
  while (inside_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  object_ = object;
  count_ = count < 1 ? 1 : count;
  windowNs_ = static_cast<int64_t>(windowMs < 0 ? 0 : windowMs) * 1000000;
  ring_.assign(static_cast<size_t>(count_), 0);
  received_ = 0;
  arrivedNs_ = 0;
  fired_.store(false, std::memory_order_relaxed);
  interrupted_.store(false, std::memory_order_relaxed);
  armed_.store(true, std::memory_order_seq_cst);
}

TriggerWaitEnd TriggerGate::WaitUntil(TimePoint deadline, TimePoint& arrivedAt) {
  for (;;) {
    if (fired_.load(std::memory_order_acquire)) {
      arrivedAt = TimePoint(
          std::chrono::duration_cast<TimePoint::duration>(std::chrono::nanoseconds(arrivedNs_)));
      return TriggerWaitEnd::kFired;
    }
    if (interrupted_.load(std::memory_order_acquire)) return TriggerWaitEnd::kInterrupted;
    if (std::chrono::steady_clock::now() >= deadline) return TriggerWaitEnd::kTimedOut;
    wake_.WaitUntil(deadline);
  }
}

void TriggerGate::Disarm() { armed_.store(false, std::memory_order_seq_cst); }

void TriggerGate::Interrupt() {
  interrupted_.store(true, std::memory_order_release);
  wake_.Signal();
}

}  // namespace orvanta
