// The timing of a run: when each wait of the trial worker ends.
//
// Two modes:
//  - relative (the default, as the setup and the trial logic describe it):
//    each wait counts from the return of the step before it, so the time the
//    exchanges take adds to every trial;
//  - fixed: every step has a planned time counted from the run's start as
//    the sum of the nominal durations before it. Exchanges happen inside the
//    planned waits; a step that comes late is reported, and the steps after
//    it keep their planned times, so the run does not drift.
//
// RunSchedule is the arithmetic of both modes; RunClock is the worker's seam
// to the steady clock and its waits (PreciseRunClock the real one, a stepped
// fake in the tests).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace orvanta {

class StopSignal;

enum class TimingMode { kRelative = 0, kFixed = 1 };

// "Relative" or "Fixed", as setup files and the runner write them.
const char* TimingModeName(TimingMode mode);
// Reads "Relative" or "Fixed", ignoring letter case. False for anything else
// (`mode` is then unchanged).
bool ParseTimingMode(const std::string& text, TimingMode& mode);

// The worker's time: reads the steady clock and waits for deadlines on it.
class RunClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~RunClock() = default;
  // Thread-safe.
  virtual TimePoint Now() const = 0;
  // Waits until `deadline`, or until `stop` (null: none) is requested. True
  // when the wait ended because of the stop. A deadline in the past returns
  // at once.
  virtual bool WaitUntil(TimePoint deadline, StopSignal* stop) = 0;
};

// The steady clock, with waits that end close to their deadline: the thread
// sleeps on the stop signal until `spinMargin` before the deadline, then
// spins on the clock, checking the stop request on every turn, until the
// deadline. A stop ends either phase at once. The spin costs CPU: at most
// `spinMargin` per wait, less the time the sleep overshot.
class PreciseRunClock : public RunClock {
 public:
  static constexpr std::chrono::microseconds kDefaultSpinMargin{200};
  explicit PreciseRunClock(std::chrono::microseconds spinMargin = kDefaultSpinMargin)
      : spinMargin_(spinMargin) {}
  TimePoint Now() const override;
  bool WaitUntil(TimePoint deadline, StopSignal* stop) override;

 private:
  const std::chrono::microseconds spinMargin_;
};

// The planned times of one run. Used by the trial worker only (one thread).
//
// Per trial, the worker asks in this order: BeginTrial; for a start pulse
// PulseClear; TrialEnd; for an end pulse PulseClear; NextTrial. Arguments in
// milliseconds are the trial's nominal settings; negative values count as 0.
// `lastReturn` is when the step before the wait returned (the last exchange
// or wait); relative mode counts from it, fixed mode ignores it.
class RunSchedule {
 public:
  using TimePoint = RunClock::TimePoint;
  using Duration = std::chrono::steady_clock::duration;

  // Lateness below this is the timer's and the exchanges' jitter within the
  // setup's millisecond resolution, not a late step.
  static constexpr std::chrono::milliseconds kLateTolerance{1};

  explicit RunSchedule(TimingMode mode) : mode_(mode) {}
  TimingMode mode() const { return mode_; }

  // A trial begins and the worker is ready for it at `now`. Returns the
  // trial's onset: `now` in relative mode and for the first trial of the run
  // (which starts the plan, also when the run starts at a later trial);
  // otherwise the planned onset.
  TimePoint BeginTrial(TimePoint now);
  // When a pulse whose set was handed to the socket at `setSent` and whose
  // exchange returned at `setReturned` is cleared: fixed, `width` after the
  // send; relative, `width` after the return.
  TimePoint PulseClear(TimePoint setSent, TimePoint setReturned, int32_t widthMs) const;
  // When the end-of-trial actions start. Fixed: onset + start pulse width
  // (pass 0 without a start pulse) + duration. Relative: lastReturn +
  // duration.
  TimePoint TrialEnd(TimePoint lastReturn, int32_t startPulseWidthMs, int32_t durationMs);
  // When the next trial starts. Fixed: the planned trial end + end pulse
  // width (0 without an end pulse) + interval. Relative: lastReturn +
  // interval.
  TimePoint NextTrial(TimePoint lastReturn, int32_t endPulseWidthMs, int32_t intervalMs);
  // The run was held `paused` by a pause; the plan moves by that time.
  void Shift(Duration paused);

  // How late a step due at `due` is at `now`: zero when on time or within
  // kLateTolerance. Only fixed-mode steps can be late.
  Duration Lateness(TimePoint due, TimePoint now) const;

 private:
  const TimingMode mode_;
  bool started_ = false;
  TimePoint onset_{};      // the current trial's planned onset
  TimePoint trialEnd_{};   // its planned end-of-trial actions
  TimePoint nextOnset_{};  // the next trial's planned onset
};

// The timing tolerance of a run when none is set, in milliseconds.
inline constexpr int32_t kDefaultTimingToleranceMs = 5;

// How far a run's steps strayed from their plan (fixed schedule: each wait's
// lateness against its planned time) or from their nominal values (relative:
// each trial's period and each pulse's width), against the run's tolerance.
// Filled by the trial worker alone; read once the run has ended.
struct TimingCheck {
  TimingMode mode = TimingMode::kRelative;
  int32_t toleranceMs = kDefaultTimingToleranceMs;
  int32_t stepsChecked = 0;
  int32_t stepsOut = 0;           // steps whose deviation was above the tolerance
  RunSchedule::Duration worst{};  // the largest deviation of any step

  // Counts one step that was `deviation` off (its size counts).
  void Add(RunSchedule::Duration deviation);
  bool Within() const { return stepsOut == 0; }
  double WorstMs() const;
  // "3 of 54 steps were more than 5 ms off their planned times, the worst by
  // 6003.125 ms" (relative: "off their nominal periods and widths").
  std::string Describe() const;
};

// The WARNING text of a late step: `what` came `late` late in trial
// `trialNumber`, e.g. "the end of the start pulse".
std::string LateStepText(int32_t trialNumber, const std::string& what, RunSchedule::Duration late);

}  // namespace orvanta
