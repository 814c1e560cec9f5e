// The trial list: owns the trial types of the current setup and ties each to
// a suit of the card deck by its suit ID. The same class runs the trial
// sequence on a worker thread and sends each trial's commands to the
// acquisition server (trials/trial_run.cpp).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/stop_signal.h"
#include "platform/window_listener.h"
#include "trials/run_observer.h"
#include "trials/run_progress.h"
#include "trials/run_timing.h"
#include "trials/trial.h"

namespace orvanta {

class CardDeck;
class CommandChannel;
class TriggerSource;
enum class TriggerWaitEnd;
class LogFile;

// Status results: 0 success, -1 failure (logged at ERROR with the texts of
// the trial list); out-parameters are written only on success. Names are
// compared byte for byte.
//
// Thread-safety: the list is guarded by the container's own lock, so the
// trial worker can look types up while the window edits. Trial pointers
// handed out stay valid until the type is removed; the window does not remove
// types during a run. The window listener is called after the lock is
// released.
//
// The run. StartProcessingTrials starts one worker thread that plays the card
// deck once: per card, the start actions (event, wav, pulse), the trial
// duration, the end actions (pulse, event) and the interval. Each action is
// one or more command exchanges over the CommandChannel, each logged with its
// reply. Start, TogglePause and Stop may be called from any thread (the
// window's, a signal handler thread, a destructor).
//  - Stop is immediate: every wait of the worker (durations, intervals,
//    pulses, pauses and the wait for a reply) ends at once, and nothing more
//    is sent or logged by that run, except that a Stop during a TTL pulse
//    (with its bit set) sends the one command that resets that port, with a
//    bound, and logs it. Stop returns within about 500 ms even while the
//    server does not answer.
//  - Trouble: every failed exchange of a run is logged at ERROR with the
//    trial number, the command and the reason (ExchangeStatus). When the
//    connection is lost (closed, reset, broken reply, not connected) the run
//    ends at once, as a Stop does, resetting a pulse in progress, and shows
//    a failure box instead of "Trials Completed Successfully". Failed
//    exchanges on a connection that holds let the run go on; its end box
//    then counts them and names the first. The observer's OnRunEnded gets
//    the same summary (RunSummary).
//  - Pause: a paused run finishes the trial it is in (through its interval)
//    and waits before the next trial until resumed or stopped. A pause during
//    the last trial lets the run complete.
//  - Negative durations and intervals are waits of 0.
//  - Timing (run_timing.h): relative by default, each wait counting from the
//    return of the step before it; with the fixed schedule every step has a
//    planned time from the run's start, a step that comes late is logged at
//    WARNING with how late it was, and later steps keep their planned times.
//    A pause moves the plan by the time paused; a run started at a later
//    trial plans from that trial. Every run checks its timing against its
//    tolerance (TimingCheck): fixed, each wait's lateness; relative, each
//    trial's period and each pulse's width against their nominal values.
//  - The end: the worker works out the run's one verdict (RunVerdict: its
//    outcome, its timing check and whether the observer wrote a record),
//    logs it with the run's end time, tells the progress tracker and shows
//    it in the end box ("Trials Completed Successfully" only when nothing
//    qualifies it).
//  - The worker runs at the highest real-time priority the system grants,
//    with the smallest timer slack; every wait ends at a steady-clock
//    deadline, sleeping until shortly before it and finishing on the clock
//    (PreciseRunClock), and stays interruptible by Stop throughout.
// Lock order: the run lock, then the list lock, then the deck's, then the
// log's. The worker holds none of them while it waits or exchanges.
//
// Lifetime: the deck, the log, the window slot, the message boxes and the
// channel must outlive every run. Whoever destroys the deck or the channel
// before the container first calls StopProcessingTrials and JoinWorkers; the
// destructor does both as well.
class TrialContainer {
 public:
  // The bound of the port reset that a run ended during a TTL pulse sends.
  static constexpr std::chrono::milliseconds kPulseResetBound{2000};
  // How long Stop waits for the worker: a worker that still resets a pulse
  // port gets the whole of that reset's bound.
  static constexpr std::chrono::milliseconds kStopWait =
      kPulseResetBound + std::chrono::milliseconds(500);

  // None of the arguments is owned; all must outlive the container. Without
  // `boxes`, the completion box of a run is skipped.
  TrialContainer(LogFile& log, CardDeck& deck, MainWindowRef& window);
  TrialContainer(LogFile& log, CardDeck& deck, MainWindowRef& window, MessageBoxes& boxes);
  TrialContainer(const TrialContainer&) = delete;
  TrialContainer& operator=(const TrialContainer&) = delete;
  // Stops a run that is still going and waits for its worker.
  virtual ~TrialContainer();

  // Adds a type with default settings. Its suit (one card) is added to the
  // deck, which is rebuilt in its unshuffled order; the window is told.
  int AddTrial(const std::string& name);
  // Removes the type and its suit; the other cards keep their order. The
  // window is told.
  int RemoveTrial(const std::string& name);
  int GetTrial(const std::string& name, Trial*& trial);
  int GetTrial(int32_t suitID, Trial*& trial);
  int GetSuitID(const std::string& name, int32_t& suitID);
  bool IsTrialNameUnused(const std::string& name) const;

  // The type names in list order (order of addition).
  std::vector<std::string> GetTrialNames() const;
  int GetNumTrials() const;

  // Every type's setup-file lines in list order, each block followed by one
  // empty line (CR LF). Empty for an empty list.
  std::string GetSetupFileLines();

  std::string GetMessage() const;

  // ---- The run ----

  // The exchange every trial command goes through (the server client). Not
  // owned; set it once at start-up, before the first run. Without a channel
  // every exchange fails (the commands are still logged, with empty replies,
  // and the run goes on: nothing is counted as trouble).
  void SetCommandChannel(CommandChannel* channel);
  // Where a trial's start trigger waits for the server's records (see
  // TriggerSource). Not owned; set it once at start-up, before the first
  // run. Without one, a run whose types have triggers fails at its start.
  void SetTriggerSource(TriggerSource* source);
  // Told about the run's progress on the worker thread (see RunObserver). Not
  // owned; null removes it. Set it while no run is going.
  void SetRunObserver(RunObserver* observer);

  // The timing of the runs started from now on (a run keeps the mode it
  // started with). Relative by default. Thread-safe.
  void SetTimingMode(TimingMode mode);
  TimingMode GetTimingMode() const;
  // The timing tolerance of the runs started from now on, in milliseconds
  // (kDefaultTimingToleranceMs by default): a step further than this from
  // its plan (fixed) or nominal value (relative) puts the run's timing
  // outside the tolerance. Negative values count as 0. Thread-safe.
  void SetTimingTolerance(int32_t ms);
  int32_t GetTimingTolerance() const;
  // The setup-file lines of the timing: "-SetTimingMode Fixed" when the
  // fixed schedule is chosen and "-SetTimingTolerance N" when the tolerance
  // is not the default, each with CR LF; nothing otherwise, so that setups
  // that never chose them save exactly as before.
  std::string GetTimingSetupLines() const;
  // The worker's clock and waits (tests use a stepped fake). Not owned; null
  // restores the real one. Set it while no run is going.
  void SetRunClock(RunClock* clock);

  // Starts a run over the whole order. 0 (also when a run is already going
  // or paused: nothing happens then), or -1 when the thread cannot be made.
  int StartProcessingTrials() EXCLUDES(mRunMutex);
  // Starts a run at trial `firstTrial` (1-based) of the order, to resume an
  // interrupted session: the cards before it are dealt silently, and trials
  // and log lines keep the numbers of the whole order. Values below 1 count
  // as 1; beyond the last trial the run completes at once.
  int StartProcessingTrials(int32_t firstTrial) EXCLUDES(mRunMutex);
  // While a run is going, pauses or resumes it and logs which. Always 0.
  int TogglePauseProcessingTrials() EXCLUDES(mRunMutex);
  // Ends the run at once (see above) and logs the two stop lines. Returns 0;
  // nothing happens when no run is going. Safe at program end and from the
  // destructor.
  int StopProcessingTrials() EXCLUDES(mRunMutex);
  // Waits for the threads of ended runs (joins them). Call after
  // StopProcessingTrials at shutdown; it blocks while a completed run's
  // worker is still in its completion box.
  void JoinWorkers() EXCLUDES(mRunMutex);

  bool IsProcessing() const EXCLUDES(mRunMutex);
  bool IsPaused() const EXCLUDES(mRunMutex);
  // How far the current or last run has got (any thread; cheap enough to
  // read a few times a second). The state reads kPaused while a running run
  // is paused.
  RunProgress GetRunProgress() const EXCLUDES(mRunMutex);
  // Waits until the worker of the last run started has ended: completed
  // (after its completion box and the window's OnStop call) or stopped. True
  // at once when there is none; false when `timeout` passed first.
  bool WaitForRunEnd(std::chrono::milliseconds timeout) EXCLUDES(mRunMutex);

  // The trial output commands. Each formats its command texts, exchanges
  // them one by one and logs every one with its reply at NOTICE; the reply
  // is held per call (empty at first, replaced only by a received reply).
  // Always 0. The run calls them on the worker; called directly, they run on
  // the caller's thread and cannot be stopped.
  int PostEvent(std::string eventString, int32_t ttlValue);
  int GenerateTTLPulse(std::string subSystemName, int32_t boardNumber, int32_t bitNumber,
                       int32_t duration);
  int PlayWavFile(std::string fileName, std::string subSystemName, int32_t boardNumber,
                  int32_t bufferNumber);

  // The whole port's value for a pulse on `bitNumber`: 2 to that power taken
  // as a signed 16-bit number (bit 15 gives -32768); 0 outside 0..15.
  static int32_t PortValueForBit(int32_t bitNumber);

 private:
  // One run: its worker thread and the stop request that ends every wait of
  // it. `ended` and `stoppers` are guarded by the container's mRunMutex, which
  // the analysis cannot name from here: they are read and written only by
  // members that hold it or REQUIRE it.
  struct Run {
    StopSignal stop;
    int32_t firstTrial = 1;
    TimingMode timing = TimingMode::kRelative;
    int32_t toleranceMs = kDefaultTimingToleranceMs;
    std::thread thread;
    // The worker has finished everything it does. Guarded by the
    // container's mRunMutex.
    bool ended = false;
    // StopProcessingTrials calls still waiting for this run; while above 0
    // the run is theirs and nobody else may join or free it. Guarded by
    // mRunMutex.
    int stoppers = 0;
  };
  struct Step;

  // Sets mMessage, logs it at ERROR and returns -1. Takes the lock itself;
  // call it without holding mMutex.
  int Fail(const std::string& message) EXCLUDES(mMutex);
  // Sets mMessage and logs it at `level`.
  void Note(int level, const std::string& message) EXCLUDES(mMutex);
  // Index of the first type with this name, or -1.
  int FindByName(const std::string& name) const REQUIRES(mMutex);

  // The worker thread's body.
  void ProcessTrials(Run& run) EXCLUDES(mRunMutex);
  // Waits while the run is paused; `paused` receives how long it was held.
  // False when the run was stopped.
  bool WaitWhilePaused(Run& run, int32_t trialNumber, RunClock& clock,
                       RunSchedule::Duration& paused) EXCLUDES(mRunMutex);
  // The trial type dealt as `suitID`, or null.
  std::shared_ptr<Trial> TrialOfSuit(int32_t suitID) EXCLUDES(mMutex);
  // Plays one edge of `trial`: the start posts its event, plays the wav and
  // sends its pulse; the end sends its pulse and posts its event. Each part
  // reads its settings when its turn comes. `pulseWidth` receives the width
  // the pulse was played with (0 without one). False when the run must end.
  bool PlayEdge(Step& step, const Trial& trial, EdgeSide side, int32_t& pulseWidth);
  // Start triggers (trigger_wait.cpp). At the run's start: opens the streams
  // of the trigger objects of the types dealt in the run; true when it did.
  // A failure is set in end.triggerFailure (logged), and the run plays no
  // trial.
  bool OpenTriggers(Run& run, TriggerSource* triggers, RunSummary& end) EXCLUDES(mMutex);
  // Waits for `trigger` before the trial's start, ending at once on Stop;
  // a Pause ends the wait, holds the run and waits anew once resumed. The
  // schedule and step.mark move by the time waited. kFired leaves the
  // record in step.firedTrigger (told when the first start command goes
  // out); a time-out is logged and told at once.
  TriggerWaitEnd WaitForTrigger(Run& run, Step& step, const TrialTrigger& trigger,
                                TriggerSource* triggers) EXCLUDES(mRunMutex);
  // Tells the observer of step.firedTrigger and logs its latency.
  void NoteTrigger(Step& step);
  // After the last trial or a stop: the run's outcome, its log lines, box and
  // observers. The caller marks the run ended afterwards.
  void FinishRun(Run& run, RunSummary& end, int32_t numCards, RunClock& clock,
                 RunObserver* observer) EXCLUDES(mRunMutex);
  // The output commands within a step of a run. False when Stop cut them
  // short; nothing more may be sent or logged then.
  bool PostEventIn(Step& step, const std::string& eventString, int32_t ttlValue);
  bool GenerateTTLPulseIn(Step& step, const std::string& subSystemName, int32_t boardNumber,
                          int32_t bitNumber, int32_t duration);
  bool PlayWavFileIn(Step& step, const std::string& fileName, const std::string& subSystemName,
                     int32_t boardNumber, int32_t bufferNumber);
  // One exchange: sends `command` unless the run is stopping and writes the
  // reply into `reply` (empty when none arrived). Logs the NOTICE line
  // `sentLine` + the shown reply for a replied exchange, for one that may
  // have reached the server without a reply (the reply empty), and outside
  // a run; within a run a failure then gets its ERROR line and is counted.
  // False when Stop cut it short or the connection was lost; nothing more
  // may be sent then (but a pulse reset).
  bool Exchange(Step& step, const std::string& command, std::string& reply,
                const std::string& sentLine);
  // Waits until `deadline`; in a fixed-schedule run a deadline already
  // passed is logged at WARNING as `what` coming late. False when the run
  // was stopped.
  bool WaitUntil(Step& step, RunClock::TimePoint deadline, const char* what);
  // After a Stop or a lost connection during a pulse: sends the one reset
  // command of that pulse, bounded, and logs what became of it.
  void ResetPendingPulse(Step& step);
  // Marks the run's worker as ended and wakes waiters.
  void MarkEnded(Run& run) EXCLUDES(mRunMutex);
  // Takes out of mRetiredRuns the runs that may be joined now (MayJoin); the
  // caller joins them (JoinRuns) after letting go of the run lock.
  std::vector<std::unique_ptr<Run>> ReapEndedRuns() REQUIRES(mRunMutex);
  // The run's worker has ended, no Stop waits for it and it is not the
  // calling thread.
  bool MayJoin(const Run& run) const REQUIRES(mRunMutex);
  // Joins the runs' threads; the first join error (0 when none).
  static int JoinRuns(std::vector<std::unique_ptr<Run>>& runs);
  // A Stop still waits for a retired run, or a retired worker (not the
  // calling thread) has not ended yet.
  bool RetiredRunsPending() const REQUIRES(mRunMutex);
  // Every worker started has ended.
  bool AllRunsEnded() const REQUIRES(mRunMutex);

  LogFile& log_;
  CardDeck& deck_;
  MainWindowRef& window_;
  MessageBoxes* const boxes_;  // null: no completion box
  std::atomic<CommandChannel*> mChannel{nullptr};
  std::atomic<RunObserver*> mObserver{nullptr};
  std::atomic<TriggerSource*> mTriggers{nullptr};
  std::atomic<TimingMode> mTimingMode{TimingMode::kRelative};
  std::atomic<int32_t> mTimingTolerance{kDefaultTimingToleranceMs};
  PreciseRunClock mPreciseClock;
  std::atomic<RunClock*> mClock{&mPreciseClock};
  // What the worker last reported of the run (its own leaf lock).
  RunProgressTracker mProgress;

  // Guards the list and mMessage. Lock order: this lock, then the deck's, then
  // the log's; a Trial's own lock is taken last and held only briefly.
  mutable Mutex mMutex;
  std::vector<std::shared_ptr<Trial>> mTrials GUARDED_BY(mMutex);
  std::vector<int32_t> mSuitIDs GUARDED_BY(mMutex);
  std::string mMessage GUARDED_BY(mMutex);
  int32_t mNextSuitID GUARDED_BY(mMutex) = 0;

  // Guards the run's state. Taken before mMutex when both are needed.
  mutable Mutex mRunMutex;
  // Wakes Stop and WaitForRunEnd when a worker ends, and a paused worker when
  // it is resumed or stopped.
  CondVar mRunChanged{&mRunMutex};
  // The current or last run (its thread and stop signal), or none.
  std::unique_ptr<Run> mTrialProcessingThread GUARDED_BY(mRunMutex);
  // Runs whose thread has not been joined yet (a stop that outlasted its
  // wait, or a completed run replaced by a new one before its end).
  std::vector<std::unique_ptr<Run>> mRetiredRuns GUARDED_BY(mRunMutex);
  bool mProcessing GUARDED_BY(mRunMutex) = false;
  bool mPaused GUARDED_BY(mRunMutex) = false;
};

}  // namespace orvanta
