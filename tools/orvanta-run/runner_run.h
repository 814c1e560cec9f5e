// The run half of orvanta-run: checking a loaded setup, the timeline file,
// the progress line, and the session that connects, runs the order, waits
// for its end and disconnects.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/output_file.h"
#include "platform/stop_signal.h"
#include "record/timeline_file.h"
#include "tools/orvanta-run/runner_options.h"
#include "tools/orvanta-run/runner_setup.h"
#include "trials/run_observer.h"

namespace orvanta::runner {

// The problems of the loaded setup that would spoil a run, one sentence
// each, in trial list order: pulse bits outside 0..15, negative durations,
// intervals, pulse widths, board or buffer numbers, empty subsystem names of
// actions that are switched on, wav playback without a file, types with no
// trials, start trigger problems (their objects compared with --objects
// when it was given), values a saved setup file cannot carry, an empty run
// order, and a --start-at beyond it. Empty when there is nothing to report.
std::vector<std::string> CheckSetup(RunnerProgram& program, const RunnerOptions& options);

// The line of a run's start trigger figures, "start triggers: 3 waits, 1
// timed out (0 skipped)"; empty for a run without trigger waits.
std::string TriggerFigures(const RunSummary& end);

// The nominal length of each trial of the order, in milliseconds: duration,
// interval and the widths of the pulses that are switched on (negative values
// count as 0). A card without a type counts 0.
std::vector<int64_t> NominalTrialLengths(RunnerProgram& program);

// Writes one CSV row per command of the run, flushed row by row:
//   trial,type,step,command,reply,sent_us,replied_us,status
// Times are microseconds since the run started on the steady clock; sent_us
// is empty for a command that was not sent, replied_us when no reply came.
// status is "replied", "no reply" or "not sent". The reply is shown as in
// the log (control characters escaped, cut after 1,000 characters). Fields
// holding a comma, a double quote or a line break are quoted, with quotes
// doubled. A setup with start triggers adds the columns object, outcome,
// arrived_us and latency_ms and a "trigger" row per triggered trial
// (record/timeline_file.h).
class TimelineFile {
 public:
  TimelineFile() = default;
  TimelineFile(const TimelineFile&) = delete;
  TimelineFile& operator=(const TimelineFile&) = delete;
  ~TimelineFile();

  // Creates the file by the OutputFile rules (an earlier timeline of that
  // name is moved aside; a file of other content, a symbolic link or a file
  // another program holds is refused) and writes the header row, with the
  // trigger columns when `triggers` (the setup has a start trigger). False
  // with the reason when it cannot be had or written.
  bool Open(const std::string& path, OutputFileFailure& failure, bool triggers = false)
      EXCLUDES(mutex_);
  void SetRunStart(std::chrono::steady_clock::time_point start) EXCLUDES(mutex_);
  void Write(const CommandRecord& record) EXCLUDES(mutex_);
  // The trigger row; nothing unless opened with `triggers`.
  void Write(const TriggerRecord& record) EXCLUDES(mutex_);
  // True while every row so far has been written whole.
  bool ok() const EXCLUDES(mutex_);

  // One field of a row, quoted when it needs to be.
  static std::string CsvField(const std::string& text);

 private:
  mutable Mutex mutex_;
  std::unique_ptr<OutputFile> file_ GUARDED_BY(mutex_);
  std::chrono::steady_clock::time_point start_ GUARDED_BY(mutex_);
  bool ok_ GUARDED_BY(mutex_) = true;
  bool triggers_ GUARDED_BY(mutex_) = false;

  void WriteRow(const std::string& row) REQUIRES(mutex_);
};

// "trial 3 of 9  Tone  elapsed 0:04  left 0:08" from the run's state.
std::string FormatProgress(int32_t trial, int32_t numTrials, const std::string& name,
                           int64_t elapsedMs, int64_t leftMs);

// Follows the run for the timeline and the progress line. Thread-safe: the
// worker reports, the main thread reads.
class RunnerObserver : public RunObserver {
 public:
  // `timeline`, `echo` and `next` may be null; `lengths` are the nominal
  // trial lengths of the whole order. Every call is passed on to `next` (the
  // session record) after this observer's own work.
  RunnerObserver(TimelineFile* timeline, StreamLogEcho* echo, std::vector<int64_t> lengths,
                 RunObserver* next = nullptr);

  void OnRunStarted(int32_t firstTrial, int32_t numTrials,
                    std::chrono::steady_clock::time_point startedAt) override EXCLUDES(mutex_);
  void OnTrialStarted(int32_t trialNumber, const std::string& trialName,
                      std::chrono::steady_clock::time_point startedAt) override EXCLUDES(mutex_);
  void OnCommand(const CommandRecord& record) override;
  void OnTrigger(const TriggerRecord& record) override;
  void OnRunEnded(const RunSummary& end) override EXCLUDES(mutex_);
  // The session record's state; without one, kNotWritten (orvanta-run keeps
  // records unless told not to).
  RunRecordState RecordState() override;

  // The progress line now, or empty before the run has started and after
  // it has ended.
  std::string ProgressLine() const EXCLUDES(mutex_);
  // Shows the progress line on the echo's status line. Once the run has
  // ended the status line stays empty.
  void RefreshProgress() EXCLUDES(mutex_);
  bool Completed() const EXCLUDES(mutex_);
  // How the run ended (meaningful once it has ended).
  RunSummary End() const EXCLUDES(mutex_);
  // The trial the run was at (0 before the first).
  int32_t CurrentTrial() const EXCLUDES(mutex_);
  int32_t NumTrials() const EXCLUDES(mutex_);

 private:
  TimelineFile* const timeline_;
  StreamLogEcho* const echo_;
  RunObserver* const next_;
  const std::vector<int64_t> lengths_;

  mutable Mutex mutex_;
  bool started_ GUARDED_BY(mutex_) = false;
  bool ended_ GUARDED_BY(mutex_) = false;
  bool completed_ GUARDED_BY(mutex_) = false;
  RunSummary end_ GUARDED_BY(mutex_);
  int32_t firstTrial_ GUARDED_BY(mutex_) = 1;
  int32_t numTrials_ GUARDED_BY(mutex_) = 0;
  int32_t trial_ GUARDED_BY(mutex_) = 0;
  std::string name_ GUARDED_BY(mutex_);
  std::chrono::steady_clock::time_point runStart_ GUARDED_BY(mutex_);
  std::chrono::steady_clock::time_point trialStart_ GUARDED_BY(mutex_);

  std::string ProgressLineLocked() const REQUIRES(mutex_);
};

// Stop requests from outside (SIGINT, SIGTERM), handed to the session.
// Thread-safe.
class StopRequest {
 public:
  void Request() {
    {
      MutexLock lock(&mutex_);
      requested_ = true;
    }
    cv_.SignalAll();
    signal_.Request();
  }
  // Requested together with this request: cancels the connect and the
  // connection check.
  const StopSignal& Signal() const { return signal_; }
  bool IsRequested() const {
    MutexLock lock(&mutex_);
    return requested_;
  }
  // Waits until requested or `timeout` has passed; true when requested.
  bool WaitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(&mutex_);
    while (!requested_) {
      if (!cv_.WaitUntil(deadline)) break;
    }
    return requested_;
  }

 private:
  mutable Mutex mutex_;
  CondVar cv_{&mutex_};
  bool requested_ GUARDED_BY(mutex_) = false;
  StopSignal signal_;
};

// The run half: opens the timeline, connects (kExitConnectFailed when the
// connect or the connection check fails), begins the session record unless
// options.noRecord (kExitSetupFailed when it cannot be written), runs the order from
// options.startAt, shows the progress line on `echo` when `progress` is set,
// waits for the end, and disconnects. A stop request (from a signal) cancels
// the connect or stops the run through StopProcessingTrials; the result is
// then kExitRunStopped. An empty run order is refused (kExitSetupFailed)
// before anything is connected. A run that failed (lost connection, failed
// commands) gives kExitRunTrouble with a summary line. Every run that
// started ends with the line "verdict: <the run's verdict>"; a run with
// start trigger waits gets the TriggerFigures line before it; a run that
// could not start its triggers (their streams) gives kExitRunTrouble with
// its reason. A run whose timing was outside the tolerance gets a warning
// line first, and
// kExitTimingOutside when options.strictTiming (and it completed). Messages go to `err`, one line
// each, after the entries echoed before them.
int RunSession(RunnerProgram& program, const RunnerOptions& options, StreamLogEcho& echo,
               bool progress, StopRequest& stop, std::FILE* err);

}  // namespace orvanta::runner
