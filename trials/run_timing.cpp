#include "trials/run_timing.h"

#include <cstdio>
#include <thread>

#include "platform/stop_signal.h"

namespace orvanta {

namespace {

std::chrono::milliseconds Ms(int32_t ms) { return std::chrono::milliseconds(ms < 0 ? 0 : ms); }

bool SameLetters(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    char d = b[i];
    if (d >= 'A' && d <= 'Z') d = static_cast<char>(d - 'A' + 'a');
    if (c != d) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

const char* TimingModeName(TimingMode mode) {
  return mode == TimingMode::kFixed ? "Fixed" : "Relative";
}

bool ParseTimingMode(const std::string& text, TimingMode& mode) {
  if (SameLetters(text, "Fixed")) {
    mode = TimingMode::kFixed;
    return true;
  }
  if (SameLetters(text, "Relative")) {
    mode = TimingMode::kRelative;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// PreciseRunClock

RunClock::TimePoint PreciseRunClock::Now() const { return std::chrono::steady_clock::now(); }

bool PreciseRunClock::WaitUntil(TimePoint deadline, StopSignal* stop) {
  // Sleep through most of the wait: interruptible, costs nothing.
  const TimePoint wake = deadline - spinMargin_;
  if (Now() < wake) {
    if (stop == nullptr) {
      std::this_thread::sleep_until(wake);
    } else if (stop->WaitUntil(wake)) {
      return true;
    }
  }
  // Then finish on the clock. The loop is bounded by the margin (plus
  // whatever the scheduler takes away) and sees a stop on every turn.
  while (Now() < deadline) {
    if (stop != nullptr && stop->IsRequested()) return true;
  }
  return stop != nullptr && stop->IsRequested();
}

// ---------------------------------------------------------------------------
// RunSchedule

RunSchedule::TimePoint RunSchedule::BeginTrial(TimePoint now) {
  if (mode_ == TimingMode::kRelative || !started_) {
    started_ = true;
    onset_ = now;
  } else {
    onset_ = nextOnset_;
  }
  // A trial whose card has no type has no durations: the next one starts at
  // the same planned time.
  trialEnd_ = onset_;
  nextOnset_ = onset_;
  return onset_;
}

RunSchedule::TimePoint RunSchedule::PulseClear(TimePoint setSent, TimePoint setReturned,
                                               int32_t widthMs) const {
  return (mode_ == TimingMode::kFixed ? setSent : setReturned) + Ms(widthMs);
}

RunSchedule::TimePoint RunSchedule::TrialEnd(TimePoint lastReturn, int32_t startPulseWidthMs,
                                             int32_t durationMs) {
  if (mode_ == TimingMode::kRelative) return lastReturn + Ms(durationMs);
  trialEnd_ = onset_ + Ms(startPulseWidthMs) + Ms(durationMs);
  nextOnset_ = trialEnd_;
  return trialEnd_;
}

RunSchedule::TimePoint RunSchedule::NextTrial(TimePoint lastReturn, int32_t endPulseWidthMs,
                                              int32_t intervalMs) {
  if (mode_ == TimingMode::kRelative) return lastReturn + Ms(intervalMs);
  nextOnset_ = trialEnd_ + Ms(endPulseWidthMs) + Ms(intervalMs);
  return nextOnset_;
}

void RunSchedule::Shift(Duration paused) {
  if (paused <= Duration::zero()) return;
  onset_ += paused;
  trialEnd_ += paused;
  nextOnset_ += paused;
}

RunSchedule::Duration RunSchedule::Lateness(TimePoint due, TimePoint now) const {
  if (mode_ != TimingMode::kFixed || now - due < kLateTolerance) return Duration::zero();
  return now - due;
}

std::string LateStepText(int32_t trialNumber, const std::string& what, RunSchedule::Duration late) {
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.3f", std::chrono::duration<double, std::milli>(late).count());
  return "TrialContainer::ProcessTrials() - Warning, trial #" + std::to_string(trialNumber) + ": " +
         what + " came " + ms +
         " ms late; the fixed schedule keeps the planned times of the steps after it.";
}

void TimingCheck::Add(RunSchedule::Duration deviation) {
  if (deviation < RunSchedule::Duration::zero()) deviation = -deviation;
  ++stepsChecked;
  if (deviation > std::chrono::milliseconds(toleranceMs < 0 ? 0 : toleranceMs)) ++stepsOut;
  if (deviation > worst) worst = deviation;
}

double TimingCheck::WorstMs() const {
  return std::chrono::duration<double, std::milli>(worst).count();
}

std::string TimingCheck::Describe() const {
  char worstText[40];
  std::snprintf(worstText, sizeof worstText, "%.3f", WorstMs());
  return std::to_string(stepsOut) + " of " + std::to_string(stepsChecked) +
         (stepsChecked == 1 ? " step" : " steps") + (stepsOut == 1 ? " was" : " were") +
         " more than " + std::to_string(toleranceMs) + " ms off their " +
         (mode == TimingMode::kFixed ? "planned times" : "nominal periods and widths") +
         ", the worst by " + worstText + " ms";
}

}  // namespace orvanta
