// The run's start, pause and stop, and the bookkeeping of worker threads that
// have not been joined yet.
//
// A run lives in mTrialProcessingThread while it is the current one. A new
// Start or a Stop moves it to mRetiredRuns, where it stays until its worker has
// ended and no Stop still waits for it; then whoever finds it there joins its
// thread after letting go of the run lock (ReapEndedRuns picks those runs).
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "log/log_file.h"
#include "trials/trial_container.h"
#include "trials/trigger_source.h"

namespace orvanta {

bool TrialContainer::IsProcessing() const {
  MutexLock lock(&mRunMutex);
  return mProcessing;
}

bool TrialContainer::IsPaused() const {
  MutexLock lock(&mRunMutex);
  return mPaused;
}

RunProgress TrialContainer::GetRunProgress() const {
  RunProgress progress = mProgress.Snapshot();
  if (progress.state == RunProgress::State::kRunning && IsPaused()) {
    progress.state = RunProgress::State::kPaused;
  }
  return progress;
}

std::vector<std::unique_ptr<TrialContainer::Run>> TrialContainer::ReapEndedRuns() {
  std::vector<std::unique_ptr<Run>> ended;
  for (auto it = mRetiredRuns.begin(); it != mRetiredRuns.end();) {
    if (MayJoin(**it)) {
      ended.push_back(std::move(*it));
      it = mRetiredRuns.erase(it);
    } else {
      ++it;
    }
  }
  return ended;
}

bool TrialContainer::MayJoin(const Run& run) const {
  // A worker never joins itself (a completion box's OnStop may lead here).
  return run.ended && run.stoppers == 0 && run.thread.get_id() != std::this_thread::get_id();
}

int TrialContainer::JoinRuns(std::vector<std::unique_ptr<Run>>& runs) {
  int error = 0;
  for (auto& run : runs) {
    if (!run->thread.joinable()) continue;
    try {
      run->thread.join();
    } catch (const std::system_error& e) {
      if (error == 0) error = e.code().value();
    }
  }
  return error;
}

int TrialContainer::StartProcessingTrials() { return StartProcessingTrials(1); }

int TrialContainer::StartProcessingTrials(int32_t firstTrial) {
  std::vector<std::unique_ptr<Run>> ended;
  bool started = true;
  {
    MutexLock lock(&mRunMutex);
    if (mPaused || mProcessing) return 0;
    mProcessing = true;

    // The thread of the last run is not needed any more; it is joined once
    // it has ended (it may still be in its completion box).
    if (mTrialProcessingThread) mRetiredRuns.push_back(std::move(mTrialProcessingThread));
    ended = ReapEndedRuns();

    auto run = std::make_unique<Run>();
    run->firstTrial = firstTrial < 1 ? 1 : firstTrial;
    run->timing = mTimingMode.load();
    run->toleranceMs = mTimingTolerance.load();
    Run* worker = run.get();
    try {
      run->thread = std::thread([this, worker] { ProcessTrials(*worker); });
    } catch (const std::system_error&) {
      started = false;
    }
    if (started) {
      mTrialProcessingThread = std::move(run);
    } else {
      mProcessing = false;
    }
  }
  // Ended workers have nothing left to do but return.
  JoinRuns(ended);
  if (!started) {
    Note(kLogError,
         "TrialContainer::StartProcessingTrials() - Error, unable to launch trial processing "
         "thread");
    return -1;
  }
  return 0;
}

int TrialContainer::TogglePauseProcessingTrials() {
  MutexLock lock(&mRunMutex);
  if (!mProcessing) return 0;
  mPaused = !mPaused;
  // Logged under the run lock, so that the worker's own pause line never
  // comes before this one.
  Note(kLogNotice, mPaused ? "TrialContainer::TogglePauseProcessingTrials() - Trial processing "
                             "paused, the run will wait before its next trial."
                           : "TrialContainer::TogglePauseProcessingTrials() - Trial processing "
                             "resumed.");
  mRunChanged.SignalAll();
  // A trial waiting for its start trigger stops waiting at once.
  if (TriggerSource* triggers = mTriggers.load()) triggers->Interrupt();
  return 0;
}

int TrialContainer::StopProcessingTrials() {
  Run* run = nullptr;
  {
    MutexLock lock(&mRunMutex);
    if (!mProcessing) return 0;
    mProcessing = false;
    mPaused = false;
    if (!mTrialProcessingThread) return 0;
    // The run leaves the current slot at once, so that a Start right after
    // this cannot take it away while we wait for it; it is joined below or,
    // if it outlasts the wait, later.
    mRetiredRuns.push_back(std::move(mTrialProcessingThread));
    run = mRetiredRuns.back().get();
    // Keeps JoinWorkers and StartProcessingTrials (on other threads) from
    // freeing the run while this call still waits for it.
    ++run->stoppers;
    // Under the run lock, so that a paused worker cannot miss it.
    run->stop.Request();
    mRunChanged.SignalAll();
    if (TriggerSource* triggers = mTriggers.load()) triggers->Interrupt();
  }

  std::vector<std::unique_ptr<Run>> ended;
  bool terminated = false;
  {
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    MutexLock lock(&mRunMutex);
    while (!run->ended) {
      if (!mRunChanged.WaitUntil(deadline)) break;
    }
    terminated = run->ended;
    --run->stoppers;
    ended = ReapEndedRuns();
    // `run` may be freed by others from here on.
    if (run->stoppers == 0) mRunChanged.SignalAll();
  }

  if (terminated) {
    Note(kLogNotice,
         "TrialContainer::StopProcessingTrials() - mTrialProcessingThread thread has been "
         "terminated successfully.");
  } else {
    Note(kLogError,
         "TrialContainer::StopProcessingTrials() - Error, mTrialProcessingThread thread was "
         "unable to terminate. lastError: " +
             std::to_string(ETIMEDOUT));
  }

  // The workers taken have ended (a run that outlasted the wait is joined
  // later): the join only collects their threads.
  const int waitError = JoinRuns(ended);
  if (waitError != 0) {
    Note(kLogError,
         "TrialContainer::StopProcessingTrials() - Error, call to WaitForSingleObject() failed for "
         "thread mTrialProcessingThread. lastError: " +
             std::to_string(waitError));
  } else {
    Note(kLogNotice,
         "TrialContainer::StopProcessingTrials() - WaitForSingleObject for "
         "mTrialProcessingThread thread completed successfully.");
  }
  return 0;
}

bool TrialContainer::RetiredRunsPending() const {
  for (const auto& r : mRetiredRuns) {
    // A run that a Stop on another thread still waits for is that Stop's
    // until it returns (at most its kStopWait).
    if (r->stoppers > 0) return true;
    if (!r->ended && r->thread.get_id() != std::this_thread::get_id()) return true;
  }
  return false;
}

void TrialContainer::JoinWorkers() {
  for (;;) {
    std::vector<std::unique_ptr<Run>> runs;
    {
      MutexLock lock(&mRunMutex);
      while (RetiredRunsPending()) mRunChanged.Wait();
      if (mTrialProcessingThread && mTrialProcessingThread->ended) {
        mRetiredRuns.push_back(std::move(mTrialProcessingThread));
      }
      runs = ReapEndedRuns();
    }
    if (runs.empty()) return;
    JoinRuns(runs);
  }
}

bool TrialContainer::AllRunsEnded() const {
  if (mTrialProcessingThread && !mTrialProcessingThread->ended) return false;
  for (const auto& r : mRetiredRuns) {
    if (!r->ended) return false;
  }
  return true;
}

bool TrialContainer::WaitForRunEnd(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(&mRunMutex);
  while (!AllRunsEnded()) {
    if (!mRunChanged.WaitUntil(deadline)) return AllRunsEnded();
  }
  return true;
}

void TrialContainer::MarkEnded(Run& run) {
  MutexLock lock(&mRunMutex);
  run.ended = true;
  // Signalled under the lock: once a waiter sees `ended`, the worker touches
  // nothing of the container any more.
  mRunChanged.SignalAll();
}

bool TrialContainer::WaitWhilePaused(Run& run, int32_t trialNumber, RunClock& clock,
                                     RunSchedule::Duration& paused) {
  paused = RunSchedule::Duration::zero();
  MutexLock lock(&mRunMutex);
  if (run.stop.IsRequested()) return false;
  if (!mPaused) return true;
  const auto heldFrom = clock.Now();
  Note(kLogNotice, "TrialContainer::ProcessTrials() - Trial processing is paused before trial #" +
                       std::to_string(trialNumber) + ", waiting for Resume or Stop.");
  while (mPaused && !run.stop.IsRequested()) mRunChanged.Wait();
  paused = clock.Now() - heldFrom;
  return !run.stop.IsRequested();
}

}  // namespace orvanta
