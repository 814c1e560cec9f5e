#include "tools/orvanta-run/runner_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "client/socket_layer.h"
#include "core/setup_check.h"
#include "platform/version.h"
#include "record/session_record.h"
#include "record/timeline_file.h"
#include "trials/run_progress.h"
#include "trials/run_timing.h"
#include "trials/run_verdict.h"
#include "trials/trial.h"

namespace orvanta::runner {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the progress line is redrawn.
constexpr std::chrono::milliseconds kProgressPeriod{200};

int64_t MicrosBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
  return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
}

}  // namespace

std::vector<std::string> CheckSetup(RunnerProgram& program, const RunnerOptions& options) {
  return FindSetupProblems(program.core, options.startAt, options.knownObjects);
}

std::vector<int64_t> NominalTrialLengths(RunnerProgram& program) {
  return orvanta::NominalTrialLengths(program.trials, program.deck);
}

// ---- Timeline ----

// The header and the rows are the session record's timeline's own.
using record::kTimelineHeader;

TimelineFile::~TimelineFile() = default;

bool TimelineFile::Open(const std::string& path, OutputFileFailure& failure, bool triggers) {
  MutexLock lock(&mutex_);
  triggers_ = triggers;
  // An existing timeline is known by the start of its header row, which the
  // timelines of earlier versions share.
  file_ = OpenOutputFile(path, record::kTimelineHeaderStem, failure);
  if (file_ == nullptr) return false;
  if (std::fputs(triggers ? record::kTimelineTriggerHeader : kTimelineHeader, file_->stream()) <
          0 ||
      std::fflush(file_->stream()) != 0) {
    failure = {OutputFileFailure::kCannotCreate, std::strerror(errno)};
    return false;
  }
  return true;
}

void TimelineFile::SetRunStart(SteadyClock::time_point start) {
  MutexLock lock(&mutex_);
  start_ = start;
}

std::string TimelineFile::CsvField(const std::string& text) { return record::CsvField(text); }

void TimelineFile::Write(const CommandRecord& record) {
  MutexLock lock(&mutex_);
  if (file_ == nullptr) return;
  WriteRow(record::FormatTimelineRow(record, start_, triggers_));
}

void TimelineFile::Write(const TriggerRecord& record) {
  MutexLock lock(&mutex_);
  if (file_ == nullptr || !triggers_) return;
  WriteRow(record::FormatTimelineTriggerRow(record, start_));
}

void TimelineFile::WriteRow(const std::string& row) {
  // Flushed per row: a crash loses nothing already sent.
  if (std::fwrite(row.data(), 1, row.size(), file_->stream()) != row.size() ||
      std::fflush(file_->stream()) != 0) {
    ok_ = false;
  }
}

bool TimelineFile::ok() const {
  MutexLock lock(&mutex_);
  return ok_;
}

// ---- Progress ----

std::string FormatProgress(int32_t trial, int32_t numTrials, const std::string& name,
                           int64_t elapsedMs, int64_t leftMs) {
  return "trial " + std::to_string(trial) + " of " + std::to_string(numTrials) + "  " + name +
         "  elapsed " + FormatRunDuration(elapsedMs) + "  left " + FormatRunDuration(leftMs);
}

RunnerObserver::RunnerObserver(TimelineFile* timeline, StreamLogEcho* echo,
                               std::vector<int64_t> lengths, RunObserver* next)
    : timeline_(timeline), echo_(echo), next_(next), lengths_(std::move(lengths)) {}

void RunnerObserver::OnRunStarted(int32_t firstTrial, int32_t numTrials,
                                  SteadyClock::time_point startedAt) {
  if (timeline_ != nullptr) timeline_->SetRunStart(startedAt);
  {
    MutexLock lock(&mutex_);
    started_ = true;
    firstTrial_ = firstTrial;
    numTrials_ = numTrials;
    runStart_ = startedAt;
    trialStart_ = startedAt;
  }
  if (next_ != nullptr) next_->OnRunStarted(firstTrial, numTrials, startedAt);
}

void RunnerObserver::OnTrialStarted(int32_t trialNumber, const std::string& trialName,
                                    SteadyClock::time_point startedAt) {
  {
    MutexLock lock(&mutex_);
    trial_ = trialNumber;
    name_ = trialName;
    trialStart_ = startedAt;
  }
  if (next_ != nullptr) next_->OnTrialStarted(trialNumber, trialName, startedAt);
}

void RunnerObserver::OnCommand(const CommandRecord& record) {
  if (timeline_ != nullptr) timeline_->Write(record);
  if (next_ != nullptr) next_->OnCommand(record);
}

void RunnerObserver::OnTrigger(const TriggerRecord& record) {
  if (timeline_ != nullptr) timeline_->Write(record);
  if (next_ != nullptr) next_->OnTrigger(record);
}

void RunnerObserver::OnRunEnded(const RunSummary& end) {
  {
    MutexLock lock(&mutex_);
    ended_ = true;
    completed_ = end.outcome != RunOutcome::kStopped;
    end_ = end;
    if (echo_ != nullptr) echo_->SetStatusLine(std::string());
  }
  // The completion box follows on stderr; the progress line is gone first.
  if (echo_ != nullptr) echo_->Flush();
  if (next_ != nullptr) next_->OnRunEnded(end);
}

RunRecordState RunnerObserver::RecordState() {
  return next_ != nullptr ? next_->RecordState() : RunRecordState::kNotWritten;
}

std::string RunnerObserver::ProgressLine() const {
  MutexLock lock(&mutex_);
  return ProgressLineLocked();
}

void RunnerObserver::RefreshProgress() {
  if (echo_ == nullptr) return;
  // Under the lock, so that a line computed before the end never replaces
  // the cleared one after it.
  MutexLock lock(&mutex_);
  echo_->SetStatusLine(ProgressLineLocked());
}

std::string RunnerObserver::ProgressLineLocked() const {
  if (!started_ || ended_) return std::string();
  const auto now = SteadyClock::now();
  const int64_t elapsed = MicrosBetween(runStart_, now) / 1000;
  const int32_t first = trial_ > 0 ? trial_ : firstTrial_;
  // The part of the current trial that has passed counts as done.
  const int64_t left =
      RemainingRunMs(lengths_, first, trial_ > 0 ? MicrosBetween(trialStart_, now) / 1000 : 0);
  return FormatProgress(trial_ > 0 ? trial_ : first, numTrials_, name_, elapsed, left);
}

bool RunnerObserver::Completed() const {
  MutexLock lock(&mutex_);
  return completed_;
}

RunSummary RunnerObserver::End() const {
  MutexLock lock(&mutex_);
  return end_;
}

int32_t RunnerObserver::CurrentTrial() const {
  MutexLock lock(&mutex_);
  return trial_;
}

int32_t RunnerObserver::NumTrials() const {
  MutexLock lock(&mutex_);
  return numTrials_;
}

// ---- Session ----

namespace {

// Prints one of the runner's own lines, after the entries echoed before it.
using Say = std::function<void(const std::string&)>;

// The path made absolute and normal, or as given when it cannot be.
std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

// Connects to the server and checks that it answers, as the Start button
// does. kExitOk once connected; otherwise the exit status, said why.
int ConnectForRun(RunnerProgram& program, const RunnerOptions& options, const std::string& server,
                  StreamLogEcho& echo, StopRequest& stop, const Say& say) {
  if (!program.client.ConnectToServer(server, options.negotiate, options.negotiationPort,
                                      options.messagePort, &stop.Signal())) {
    if (stop.IsRequested()) {
      say("the connect was cancelled");
      return kExitRunStopped;
    }
    const std::string reason = program.client.GetConnectError();
    say("cannot connect to the acquisition server at " + server +
        (reason.empty() ? std::string() : ": " + reason) + " (" +
        (options.negotiate ? "negotiation port " + std::to_string(options.negotiationPort) + ", "
                           : std::string()) +
        "message port " + std::to_string(options.messagePort) + ")" +
        (options.clientLogPath.empty() ? "; --client-log PATH tells why" : "; see the client log"));
    program.client.DisconnectFromServer();
    return kExitConnectFailed;
  }
  if (!program.client.IsConnected(&stop.Signal())) {
    if (stop.IsRequested()) {
      program.client.DisconnectFromServer();
      say("the connect was cancelled");
      return kExitRunStopped;
    }
    echo.Flush();
    program.boxes.Show("Unable to process trials, a connection to Quorvin has not been established",
                       "Trial Processing", BoxIcon::kError, BoxButtons::kOk);
    program.client.DisconnectFromServer();
    return kExitConnectFailed;
  }
  say("connected to " + program.client.GetServerApplicationName() + " at " + server + " (" +
      program.client.GetServerIPAddress() + ")");
  return kExitOk;
}

// What the session record keeps of the run about to be played.
record::SessionSetup RecordedSetup(RunnerProgram& program, const RunnerOptions& options,
                                   const std::string& server, int32_t numCards) {
  record::SessionSetup setup;
  setup.frontEnd = "orvanta-run";
  setup.version = ORVANTA_VERSION;
  setup.setupText = program.config.GetSetupFileText(program.clock.Now());
  // Absolute, so that the record still names them when read elsewhere. A
  // resumed run lists the setup sources of the record it continues.
  for (const std::string& source : options.resumeFrom.empty()
                                       ? options.setupFiles
                                       : record::ResumedSetupSources(options.resumeFrom)) {
    setup.setupSources.push_back(AbsolutePath(source));
  }
  setup.hasSeed = options.hasSeed;
  setup.seed = options.seed;
  setup.server = server;
  setup.negotiate = options.negotiate;
  setup.negotiationPort = options.negotiationPort;
  setup.replyTimeoutMs = program.client.GetReplyTimeout().count();
  setup.messagePort = options.messagePort;
  setup.firstTrial = options.startAt;
  setup.numTrials = numCards;
  if (!options.resumeFrom.empty()) setup.resumes = AbsolutePath(options.resumeFrom);
  setup.types = record::TrialTypeTimings(program.trials);
  setup.timing = TimingModeName(program.trials.GetTimingMode());
  setup.toleranceMs = program.trials.GetTimingTolerance();
  return setup;
}

// Says how a run that was not completed or had trouble ended; the exit
// status of that.
int SayRunEnd(const RunnerObserver& observer, const Say& say) {
  const RunSummary end = observer.End();
  if (!observer.Completed()) {
    say("the run was stopped at trial " + std::to_string(observer.CurrentTrial()) + " of " +
        std::to_string(observer.NumTrials()));
    return kExitRunStopped;
  }
  if (end.outcome != RunOutcome::kFailed) return kExitOk;
  if (!end.triggerFailure.empty()) {
    say("the run could not start its start triggers: " + end.triggerFailure);
    return kExitRunTrouble;
  }
  const std::string failed = std::to_string(end.failedCommands) +
                             (end.failedCommands == 1 ? " command" : " commands") + " failed";
  if (end.connectionLost) {
    say("the run failed at trial " + std::to_string(end.lostAt.trialNumber) + " of " +
        std::to_string(observer.NumTrials()) + ": the connection was lost (" +
        end.lostAt.status.Describe() + ", command " + end.lostAt.command + "); " + failed);
  } else {
    say("the run ended with trouble: " + failed + "; the first in trial " +
        std::to_string(end.firstFailure.trialNumber) + ": " + end.firstFailure.status.Describe() +
        " (command " + end.firstFailure.command + ")");
  }
  return kExitRunTrouble;
}

}  // namespace

std::string TriggerFigures(const RunSummary& end) {
  if (end.triggerWaits == 0) return std::string();
  return "start triggers: " + std::to_string(end.triggerWaits) +
         (end.triggerWaits == 1 ? " wait, " : " waits, ") + std::to_string(end.triggerTimeouts) +
         " timed out (" + std::to_string(end.triggerSkipped) + " skipped)";
}

namespace {

// Plays the trials until they end or a stop; the exit status.
int PlayTrials(RunnerProgram& program, const RunnerOptions& options, RunnerObserver& observer,
               record::SessionRecord& sessionRecord, StreamLogEcho& echo, StopRequest& stop,
               const Say& say) {
  if (stop.IsRequested()) {
    sessionRecord.Abandon();
    return kExitRunStopped;
  }
  if (program.trials.StartProcessingTrials(options.startAt) != 0) {
    say("the trial worker could not be started");
    sessionRecord.Abandon();
    return kExitRunFailed;
  }
  // A stop requested while the run was being started.
  if (stop.IsRequested()) program.trials.StopProcessingTrials();
  while (!program.trials.WaitForRunEnd(kProgressPeriod)) {
    if (stop.IsRequested()) program.trials.StopProcessingTrials();
    observer.RefreshProgress();
  }
  echo.SetStatusLine(std::string());
  int status = SayRunEnd(observer, say);
  // The worker's verdict, as the box and the log gave it.
  const RunVerdict verdict = program.trials.GetRunProgress().verdict;
  if (verdict.timingOutside) {
    say("warning: the run's timing was outside the tolerance: " +
        verdict.summary.timing.Describe());
    if (status == kExitOk && options.strictTiming) status = kExitTimingOutside;
  }
  if (const std::string triggers = TriggerFigures(observer.End()); !triggers.empty()) {
    say(triggers);
  }
  say("verdict: " + verdict.Name());
  return status;
}

}  // namespace

int RunSession(RunnerProgram& program, const RunnerOptions& options, StreamLogEcho& echo,
               bool progress, StopRequest& stop, std::FILE* err) {
  const Say say = [&](const std::string& line) {
    echo.Flush();
    std::fprintf(err, "orvanta-run: %s\n", line.c_str());
    std::fflush(err);
  };

  const int32_t numCards = program.deck.GetNumCards();
  if (numCards == 0) {
    say("the run order is empty: there are no trials to run (add trial types with a trial "
        "count above 0); nothing was connected or recorded");
    return kExitSetupFailed;
  }
  if (options.startAt > 1 && options.startAt > numCards) {
    say("--start-at " + std::to_string(options.startAt) +
        " is beyond the last trial of the run order (" + std::to_string(numCards) + ")");
    return kExitUsage;
  }

  TimelineFile timeline;
  if (!options.timelinePath.empty()) {
    OutputFileFailure failure;
    const auto types = record::TrialTypeTimings(program.trials);
    const bool triggers =
        std::any_of(types.begin(), types.end(),
                    [](const record::TrialTypeTiming& t) { return t.startTrigger; });
    if (!timeline.Open(options.timelinePath, failure, triggers)) {
      say("cannot write the timeline file " + options.timelinePath + ": " + failure.reason);
      return kExitSetupFailed;
    }
  }

  std::string server = options.serverName;
  if (server.empty()) server = net::HostName();
  if (!options.clientLogPath.empty() && !program.client.SetLogFileName(options.clientLogPath)) {
    const OutputFileFailure failure = program.client.GetLogOpenFailure();
    if (failure.kind == OutputFileFailure::kInUse) {
      // Two programs writing one log would splice their lines.
      say("cannot open the client log " + options.clientLogPath + ": " + failure.reason);
      return kExitSetupFailed;
    }
    say("warning: the client log " + options.clientLogPath + " could not be opened" +
        (failure.reason.empty() ? std::string() : ": " + failure.reason));
  }
  program.client.SetReplyTimeout(std::chrono::milliseconds(options.replyTimeoutMs));
  if (stop.IsRequested()) return kExitRunStopped;
  if (const int status = ConnectForRun(program, options, server, echo, stop, say);
      status != kExitOk) {
    return status;
  }

  // The record begins before the first command: its setup.cfg is the setup
  // this run is about to play.
  record::SessionRecord sessionRecord;
  if (!options.noRecord) {
    std::string error;
    if (!sessionRecord.Begin(options.recordFolder,
                             RecordedSetup(program, options, server, numCards), error)) {
      say("cannot write the session record: " + error + " (--no-record runs without one)");
      program.client.DisconnectFromServer();
      return kExitSetupFailed;
    }
    say("session record: " + sessionRecord.folder());
  }

  RunnerObserver observer(options.timelinePath.empty() ? nullptr : &timeline,
                          progress ? &echo : nullptr, NominalTrialLengths(program),
                          options.noRecord ? nullptr : &sessionRecord);
  program.trials.SetCommandChannel(&program.client);
  program.trials.SetRunObserver(&observer);
  const int status = PlayTrials(program, options, observer, sessionRecord, echo, stop, say);
  program.trials.SetRunObserver(nullptr);
  program.client.DisconnectFromServer();

  if (!options.timelinePath.empty() && !timeline.ok()) {
    say("warning: the timeline file " + options.timelinePath + " could not be written whole");
  }
  if (!options.noRecord) {
    std::string problem;
    if (!sessionRecord.ok(&problem)) say("warning: the session record: " + problem);
    if (!sessionRecord.reportPath().empty()) say("session report: " + sessionRecord.reportPath());
  }
  return status;
}

}  // namespace orvanta::runner
