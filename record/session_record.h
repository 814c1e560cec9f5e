// The session record of one run: a fresh folder holding
//   setup.cfg      the whole setup as Save writes it, order included
//   session.json   what ran, where, when, and how it ended
//   timeline.csv   one row per command exchange (see timeline_file.h)
//   trials.tsv     one row per trial: trial, type, start_us, end_us, outcome
//   events.tsv     one row per event, TTL pulse and wav playback, with
//   events.json    its column descriptions (the BIDS events convention)
//   failures.tsv   one row per exchange the server failed (a Stop's cut-short
//                  exchange is not one): trial, step, command, sent_us,
//                  status, reason, failed_us (when the exchange gave up)
//   triggers.tsv   a run whose setup has start triggers: one row per
//                  triggered trial (trigger_summary.h); then the timeline
//                  has its trigger columns and rows, trials.tsv its trigger
//                  and trigger_latency_ms columns, and session.json its
//                  "triggers" summary
//   report.html    the timing report, written when the run ends
//   session.lock   held by the running process and removed at the end; a
//                  record whose lock is free while session.json still says
//                  "running" was interrupted
// setup.cfg and session.json are written whole at Begin and session.json is
// replaced atomically at the end; every other file gets its rows as they
// happen: the worker only formats a row and queues it, and a writer thread of
// the record hands the queued rows to the system every 5 ms, so that neither
// file writes nor thread wake-ups delay the run. A crash of the process loses
// at most the rows of its last 5 ms.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "record/json.h"
#include "record/record_io.h"
#include "record/record_reader.h"
#include "record/timeline_file.h"
#include "trials/run_observer.h"
#include "trials/run_timing.h"

namespace orvanta {
class TrialContainer;
}

namespace orvanta::record {

inline constexpr char kRecordsFolderName[] = "OrvantaSessions";

// The nominal timing of one trial type, for the report.
struct TrialTypeTiming {
  std::string name;
  int64_t periodMs = 0;       // duration + interval + the widths of the pulses switched on
  int64_t startPulseMs = -1;  // -1: no start pulse
  int64_t endPulseMs = -1;    // -1: no end pulse
  bool startTrigger = false;  // the type waits for a start trigger
};

// The timing of every trial type of `trials` (NominalTrialPeriod in
// trials/trial_period.h; negative settings count 0).
// Call on the thread that edits the trial list.
std::vector<TrialTypeTiming> TrialTypeTimings(TrialContainer& trials);

// What the front end knows about the run when it starts.
struct SessionSetup {
  std::string frontEnd;                   // "orvanta-run" or "Orvanta"
  std::string version;                    // the program version
  std::string setupText;                  // the bytes Save would write now
  std::vector<std::string> setupSources;  // the setup files the setup came from
  bool hasSeed = false;
  uint32_t seed = 0;
  std::string server;
  bool negotiate = true;
  int negotiationPort = 0;
  int messagePort = 0;
  int32_t firstTrial = 1;
  int32_t numTrials = 0;                            // cards in the whole order
  int64_t replyTimeoutMs = 0;                       // 0: replies are awaited for ever
  std::string timing;                               // the worker's timing mode (TimingModeName)
  int32_t toleranceMs = kDefaultTimingToleranceMs;  // the run's timing tolerance
  // The record this run continues; empty for none. Its folder is then named
  // after the first of setupSources (the continued run's own sources) with
  // "_resumed" added.
  std::string resumes;
  std::vector<TrialTypeTiming> types;
};

// "<yyyy-mm-dd_hh-mm-ss>_<stem>" for a run starting now: the stem of the
// first setup source without its extension, or "session"; a resumed run's
// name ends in "_resumed".
std::string RecordFolderName(const std::vector<std::string>& setupSources,
                             std::chrono::system_clock::time_point now, bool resumed = false);

// Whether record folders can be made in `recordsFolder`: creates it when
// missing, then makes a probe folder with a file in it and removes them
// again. False with the reason (as Begin would give it) otherwise.
bool CheckRecordsFolder(const std::string& recordsFolder, std::string& error);

// The setup sources a resumed run lists: those of the record it continues
// (its session.json's setup_source), or that record's setup.cfg when it
// names none or cannot be read.
std::vector<std::string> ResumedSetupSources(const std::string& recordFolder);

// Writes the record while it listens to the worker. Begin on the front
// end's thread before the run starts; the RunObserver calls come on the
// worker's thread; the accessors are thread-safe. The object must outlive
// every run it observed (the worker keeps its pointer for the whole run).
class SessionRecord : public RunObserver {
 public:
  SessionRecord() = default;
  SessionRecord(const SessionRecord&) = delete;
  SessionRecord& operator=(const SessionRecord&) = delete;
  ~SessionRecord() override;

  // Creates the folder in `recordsFolder`, takes the run lock, writes
  // setup.cfg and session.json ("running"), and opens the row files. False
  // with a reason when any of it fails (nothing is recorded then).
  bool Begin(const std::string& recordsFolder, const SessionSetup& setup, std::string& error)
      EXCLUDES(mutex_);

  void OnRunStarted(int32_t firstTrial, int32_t numTrials,
                    std::chrono::steady_clock::time_point startedAt) override EXCLUDES(mutex_);
  void OnTrialStarted(int32_t trialNumber, const std::string& trialName,
                      std::chrono::steady_clock::time_point startedAt) override EXCLUDES(mutex_);
  void OnCommand(const CommandRecord& record) override EXCLUDES(mutex_);
  // Ignored unless the setup has a start trigger (SessionSetup::types).
  void OnTrigger(const TriggerRecord& record) override EXCLUDES(mutex_);
  // Closes the rows, writes the final session.json and the report, and
  // releases the run lock.
  void OnRunEnded(const RunSummary& end) override EXCLUDES(mutex_);

  // "Session report: <path>" once the report is written, else empty.
  std::string CompletionNote() override EXCLUDES(mutex_);
  // kWritten when every file of the record was written whole.
  RunRecordState RecordState() override EXCLUDES(mutex_);

  // Ends a record whose run never started (the worker could not be
  // launched): outcome "failed". Does nothing after the run has ended.
  void Abandon() EXCLUDES(mutex_);

  std::string folder() const EXCLUDES(mutex_);
  // The report's path once it has been written, else empty.
  std::string reportPath() const EXCLUDES(mutex_);
  std::string outcome() const EXCLUDES(mutex_);
  int64_t failedCommands() const EXCLUDES(mutex_);
  // False when a file of the record could not be written whole; `problem`
  // says which.
  bool ok(std::string* problem = nullptr) const EXCLUDES(mutex_);

 private:
  struct OpenTrial {
    int32_t number = 0;
    std::string name;
    int64_t startUs = 0;
    bool failed = false;
    std::string trigger;  // its trigger's outcome; empty for none
    int64_t triggerLatencyUs = -1;
    // "completed", "failed" or "skipped" (no type, or its trigger skipped it).
    std::string Outcome() const;
  };
  struct OpenAction {  // a pulse or a wav playback while its commands come
    bool active = false;
    std::string type;
    int32_t trial = 0;
    int64_t onsetUs = -1;
    std::string value = "n/a";
    bool acknowledged = true;
  };

  int64_t Micros(std::chrono::steady_clock::time_point t) const REQUIRES(mutex_);
  void CloseTrial(int64_t endUs, const std::string& outcome) REQUIRES(mutex_);
  void WriteEvent(double onsetUs, double durationUs, const std::string& type,
                  const std::string& value, int32_t trial, bool acknowledged) REQUIRES(mutex_);
  void FlushAction() REQUIRES(mutex_);
  void TrackEvents(const CommandRecord& record) REQUIRES(mutex_);
  bool WriteSession(const std::string& outcome, std::string& error) REQUIRES(mutex_);
  // The "timing" object of session.json: the mode and the tolerance, and once
  // the run has ended its check.
  Json TimingJson(const TimingCheck* check) const REQUIRES(mutex_);
  // Ends the record with `outcome`; the open trial gets `lastTrialOutcome`,
  // or its own (completed, failed or skipped) when that is empty.
  void Finish(const std::string& outcome, const std::string& lastTrialOutcome, int64_t endUs)
      REQUIRES(mutex_);
  // Queues `row` for `file`; the writer thread writes it.
  void Queue(RowFile* file, std::string row) EXCLUDES(queueMutex_);
  void WriterLoop() EXCLUDES(queueMutex_);
  // Writes what is queued, then ends the writer thread.
  void StopWriter() EXCLUDES(queueMutex_);

  mutable Mutex mutex_;
  std::string folder_ GUARDED_BY(mutex_);
  std::string reportPath_ GUARDED_BY(mutex_);
  Json session_ GUARDED_BY(mutex_);
  // Written by the writer thread alone while it runs (Begin to Finish).
  RowFile timeline_;
  RowFile trials_;
  RowFile events_;
  RowFile failures_;
  RowFile triggers_;
  Mutex queueMutex_;
  CondVar queueChanged_{&queueMutex_};
  std::deque<std::pair<RowFile*, std::string>> queue_ GUARDED_BY(queueMutex_);
  bool stopWriter_ GUARDED_BY(queueMutex_) = false;
  std::thread writer_;
  RunLock lock_ GUARDED_BY(mutex_);
  bool begun_ GUARDED_BY(mutex_) = false;
  bool running_ GUARDED_BY(mutex_) = false;
  bool ended_ GUARDED_BY(mutex_) = false;
  std::string outcome_ GUARDED_BY(mutex_) = "running";
  std::string problem_ GUARDED_BY(mutex_);
  std::chrono::steady_clock::time_point start_ GUARDED_BY(mutex_);
  OpenTrial trial_ GUARDED_BY(mutex_);
  OpenAction action_ GUARDED_BY(mutex_);
  int64_t failed_ GUARDED_BY(mutex_) = 0;
  std::string timingMode_ GUARDED_BY(mutex_);
  int32_t toleranceMs_ GUARDED_BY(mutex_) = kDefaultTimingToleranceMs;
  // Whether the setup has a start trigger: the trigger rows and columns.
  bool hasTriggers_ GUARDED_BY(mutex_) = false;
  std::vector<TriggerRow> triggerRows_ GUARDED_BY(mutex_);
};

// One field of a TSV row: tabs and line breaks become spaces.
std::string TsvField(const std::string& text);

}  // namespace orvanta::record
