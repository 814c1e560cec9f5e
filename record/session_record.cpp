#include "record/session_record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "record/events_sidecar.h"
#include "record/session_report.h"
#include "record/trigger_summary.h"
#include "trials/run_verdict.h"
#include "trials/trial.h"
#include "trials/trial_container.h"
#include "trials/trial_period.h"

namespace orvanta::record {

namespace {

// How often the writer thread hands the queued rows to the system.
constexpr std::chrono::milliseconds kWritePeriod{5};

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The last space-separated word of `text`, after dropping `skip` words from
// its end (commands end in plain numbers, so no quoting is involved).
std::string WordFromEnd(const std::string& text, int skip) {
  std::size_t end = text.size();
  for (int i = 0;; ++i) {
    while (end > 0 && text[end - 1] == ' ') --end;
    const std::size_t space = text.rfind(' ', end == 0 ? 0 : end - 1);
    const std::size_t begin = space == std::string::npos ? 0 : space + 1;
    if (i == skip) return text.substr(begin, end - begin);
    if (space == std::string::npos) return std::string();
    end = space;
  }
}

std::string Seconds(double us) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6f", us / 1e6);
  return text;
}

}  // namespace

std::vector<TrialTypeTiming> TrialTypeTimings(TrialContainer& trials) {
  std::vector<TrialTypeTiming> out;
  for (const std::string& name : trials.GetTrialNames()) {
    Trial* trial = nullptr;
    if (trials.GetTrial(name, trial) != 0 || trial == nullptr) continue;
    TrialTypeTiming t;
    t.name = name;
    const TrialPeriod period = NominalTrialPeriod(*trial);
    t.periodMs = period.periodMs;
    t.startPulseMs = period.startPulseMs;
    t.endPulseMs = period.endPulseMs;
    t.startTrigger = trial->GetStartTrigger().enabled;
    out.push_back(std::move(t));
  }
  return out;
}

std::string RecordFolderName(const std::vector<std::string>& setupSources,
                             std::chrono::system_clock::time_point now, bool resumed) {
  std::string stem = "session";
  if (!setupSources.empty()) {
    const std::string s = std::filesystem::path(setupSources.front()).stem().string();
    if (!s.empty()) stem = s;
  }
  // Only characters every file system takes.
  for (char& c : stem) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
    if (!plain) c = '_';
  }
  return FolderTimeStamp(now) + "_" + stem + (resumed ? "_resumed" : "");
}

bool CheckRecordsFolder(const std::string& recordsFolder, std::string& error) {
  std::string probe;
  if (!CreateFreshFolder(recordsFolder, ".orvanta-write-check", probe, error)) return false;
  const bool written = WriteNewFile((std::filesystem::path(probe) / "probe").string(), "", error);
  std::error_code ec;
  std::filesystem::remove_all(probe, ec);
  return written;
}

std::vector<std::string> ResumedSetupSources(const std::string& recordFolder) {
  std::vector<std::string> sources;
  std::string text;
  Json session;
  std::string why;
  if (ReadWholeFile((std::filesystem::path(recordFolder) / "session.json").string(), text) &&
      Json::Parse(text, session, why)) {
    for (const Json& s : session["setup_source"].items()) {
      if (!s.Str().empty()) sources.push_back(s.Str());
    }
  }
  if (sources.empty())
    sources.push_back((std::filesystem::path(recordFolder) / "setup.cfg").string());
  return sources;
}

std::string TsvField(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

SessionRecord::~SessionRecord() { StopWriter(); }

void SessionRecord::Queue(RowFile* file, std::string row) {
  // No wake-up: waking the writer for every row would put a thread switch
  // on the worker's path and compete with it for the processor.
  MutexLock lock(&queueMutex_);
  queue_.emplace_back(file, std::move(row));
}

void SessionRecord::WriterLoop() {
  for (;;) {
    std::deque<std::pair<RowFile*, std::string>> rows;
    {
      MutexLock lock(&queueMutex_);
      const auto deadline = std::chrono::steady_clock::now() + kWritePeriod;
      while (!stopWriter_) {
        if (!queueChanged_.WaitUntil(deadline)) break;
      }
      if (queue_.empty()) {
        if (stopWriter_) return;  // everything is written
        continue;
      }
      rows.swap(queue_);
    }
    for (auto& [file, row] : rows) file->Append(row);
  }
}

void SessionRecord::StopWriter() {
  if (!writer_.joinable()) return;
  {
    MutexLock lock(&queueMutex_);
    stopWriter_ = true;
  }
  queueChanged_.Signal();
  writer_.join();
}

bool SessionRecord::Begin(const std::string& recordsFolder, const SessionSetup& setup,
                          std::string& error) {
  MutexLock lock(&mutex_);
  if (begun_) {
    error = "the record has already begun";
    return false;
  }
  const auto now = std::chrono::system_clock::now();
  std::string folder;
  if (!CreateFreshFolder(recordsFolder,
                         RecordFolderName(setup.setupSources, now, !setup.resumes.empty()), folder,
                         error)) {
    return false;
  }
  const auto in = [&folder](const char* name) {
    return (std::filesystem::path(folder) / name).string();
  };
  if (!lock_.Acquire(in("session.lock"), error)) return false;
  if (!WriteNewFile(in("setup.cfg"), setup.setupText, error)) return false;

  Json sources = Json::Array();
  for (const std::string& s : setup.setupSources) sources.Push(Json::String(s));
  Json types = Json::Array();
  for (const TrialTypeTiming& t : setup.types) {
    Json type = Json::Object();
    type.Set("name", Json::String(t.name));
    type.Set("period_ms", Json::Number(static_cast<double>(t.periodMs)));
    type.Set("start_pulse_ms",
             t.startPulseMs < 0 ? Json() : Json::Number(static_cast<double>(t.startPulseMs)));
    type.Set("end_pulse_ms",
             t.endPulseMs < 0 ? Json() : Json::Number(static_cast<double>(t.endPulseMs)));
    types.Push(std::move(type));
  }
  session_ = Json::Object();
  session_.Set("program", Json::String(setup.frontEnd));
  session_.Set("version", Json::String(setup.version));
  session_.Set("host", Json::String(ThisHostName()));
  session_.Set("pid", Json::Number(static_cast<double>(ThisProcessId())));
  session_.Set("server", Json::String(setup.server));
  session_.Set("negotiate", Json::Bool(setup.negotiate));
  session_.Set("negotiation_port", Json::Number(setup.negotiationPort));
  session_.Set("message_port", Json::Number(setup.messagePort));
  session_.Set("setup_source", std::move(sources));
  session_.Set("seed", setup.hasSeed ? Json::Number(setup.seed) : Json());
  session_.Set("first_trial", Json::Number(setup.firstTrial));
  session_.Set("number_of_trials", Json::Number(setup.numTrials));
  session_.Set("start_time", Json::String(LocalIsoTime(now)));
  session_.Set("end_time", Json());
  session_.Set("outcome", Json::String("running"));
  session_.Set("failed_commands", Json::Number(0));
  session_.Set("verdict", Json());
  timingMode_ = setup.timing;
  toleranceMs_ = setup.toleranceMs;
  session_.Set("timing", TimingJson(nullptr));
  session_.Set("reply_timeout_ms", Json::Number(static_cast<double>(setup.replyTimeoutMs)));
  session_.Set("resumes", setup.resumes.empty() ? Json() : Json::String(setup.resumes));
  session_.Set("trial_types", std::move(types));
  if (!ReplaceFileAtomically(in("session.json"), session_.Dump(), error)) return false;

  std::string why;
  if (!timeline_.Create(in("timeline.csv"), false, why)) {
    error = "cannot create " + in("timeline.csv") + ": " + why;
    return false;
  }
  hasTriggers_ = std::any_of(setup.types.begin(), setup.types.end(),
                             [](const TrialTypeTiming& t) { return t.startTrigger; });
  timeline_.Append(hasTriggers_ ? kTimelineTriggerHeader : kTimelineHeader);
  if (!trials_.Create(in("trials.tsv"), false, why)) {
    error = "cannot create " + in("trials.tsv") + ": " + why;
    return false;
  }
  trials_.Append(hasTriggers_
                     ? "trial\ttype\tstart_us\tend_us\toutcome\ttrigger\ttrigger_latency_ms\n"
                     : "trial\ttype\tstart_us\tend_us\toutcome\n");
  if (hasTriggers_) {
    if (!triggers_.Create(in(kTriggersFileName), false, why)) {
      error = std::string("cannot create ") + in(kTriggersFileName) + ": " + why;
      return false;
    }
    triggers_.Append(kTriggersHeader);
  }
  if (!events_.Create(in("events.tsv"), false, why)) {
    error = "cannot create " + in("events.tsv") + ": " + why;
    return false;
  }
  events_.Append("onset\tduration\ttrial_type\tvalue\ttrial\tacknowledged\n");
  if (!failures_.Create(in("failures.tsv"), false, why)) {
    error = "cannot create " + in("failures.tsv") + ": " + why;
    return false;
  }
  failures_.Append("trial\tstep\tcommand\tsent_us\tstatus\treason\tfailed_us\n");
  if (!WriteNewFile(in("events.json"), kEventsSidecar, error)) return false;

  try {
    writer_ = std::thread([this] { WriterLoop(); });
  } catch (const std::system_error& e) {
    error = std::string("cannot start the record's writer thread: ") + e.what();
    return false;
  }
  folder_ = folder;
  begun_ = true;
  start_ = std::chrono::steady_clock::now();
  return true;
}

int64_t SessionRecord::Micros(std::chrono::steady_clock::time_point t) const {
  return std::chrono::duration_cast<std::chrono::microseconds>(t - start_).count();
}

void SessionRecord::OnRunStarted(int32_t, int32_t,
                                 std::chrono::steady_clock::time_point startedAt) {
  MutexLock lock(&mutex_);
  if (!begun_ || ended_) return;
  start_ = startedAt;
  running_ = true;
}

std::string SessionRecord::OpenTrial::Outcome() const {
  if (name.empty() || trigger == TriggerOutcomeName(TriggerOutcome::kTimedOutSkipped)) {
    return "skipped";
  }
  return failed ? "failed" : "completed";
}

void SessionRecord::CloseTrial(int64_t endUs, const std::string& outcome) {
  if (trial_.number <= 0) return;
  std::string row = std::to_string(trial_.number) + "\t" + TsvField(trial_.name) + "\t" +
                    std::to_string(trial_.startUs) + "\t" + std::to_string(endUs) + "\t" + outcome;
  if (hasTriggers_) {
    row += "\t" + (trial_.trigger.empty() ? "n/a" : trial_.trigger) + "\t" +
           (trial_.triggerLatencyUs < 0 ? "n/a" : MillisText(trial_.triggerLatencyUs));
  }
  Queue(&trials_, row + "\n");
  trial_ = OpenTrial();
}

void SessionRecord::OnTrialStarted(int32_t trialNumber, const std::string& trialName,
                                   std::chrono::steady_clock::time_point startedAt) {
  MutexLock lock(&mutex_);
  if (!running_) return;
  const int64_t now = Micros(startedAt);
  FlushAction();
  if (trial_.number > 0) CloseTrial(now, trial_.Outcome());
  trial_.number = trialNumber;
  trial_.name = trialName;
  trial_.startUs = now;
}

void SessionRecord::WriteEvent(double onsetUs, double durationUs, const std::string& type,
                               const std::string& value, int32_t trial, bool acknowledged) {
  Queue(&events_, Seconds(onsetUs) + "\t" + (durationUs < 0 ? "n/a" : Seconds(durationUs)) + "\t" +
                      type + "\t" + TsvField(value.empty() ? "n/a" : value) + "\t" +
                      std::to_string(trial) + "\t" + (acknowledged ? "yes" : "no") + "\n");
}

void SessionRecord::FlushAction() {
  // A pulse whose clearing command never came (a Stop, or a failure).
  if (action_.active && action_.onsetUs >= 0) {
    WriteEvent(static_cast<double>(action_.onsetUs), -1, action_.type, action_.value, action_.trial,
               false);
  }
  action_ = OpenAction();
}

void SessionRecord::TrackEvents(const CommandRecord& r) {
  const int64_t sent = Micros(r.sentAt);
  const std::string& c = r.command;
  switch (r.step) {
    case RunStep::kStartEvent:
    case RunStep::kEndEvent:
      if (StartsWith(c, "-PostEvent ")) {
        WriteEvent(static_cast<double>(sent), 0,
                   r.step == RunStep::kStartEvent ? "start_event" : "end_event", WordFromEnd(c, 1),
                   r.trialNumber, r.status.IsReplied());
      }
      break;
    case RunStep::kStartPulse:
    case RunStep::kEndPulse: {
      const char* type = r.step == RunStep::kStartPulse ? "start_pulse" : "end_pulse";
      if (StartsWith(c, "-SetDigitalIOPortDirection ")) {
        FlushAction();
        action_.active = true;
        action_.type = type;
        action_.trial = r.trialNumber;
        action_.acknowledged = r.status.IsReplied();
      } else if (StartsWith(c, "-SetDIOPortOutput ")) {
        if (!action_.active || action_.type != type) {
          FlushAction();
          action_.active = true;
          action_.type = type;
          action_.trial = r.trialNumber;
        }
        if (action_.onsetUs < 0) {  // the command that sets the bit
          action_.onsetUs = sent;
          action_.value = WordFromEnd(c, 0);
          action_.acknowledged = action_.acknowledged && r.status.IsReplied();
        } else {  // the command that clears it
          WriteEvent(static_cast<double>(action_.onsetUs),
                     static_cast<double>(sent - action_.onsetUs), type, action_.value,
                     action_.trial, action_.acknowledged && r.status.IsReplied());
          action_ = OpenAction();
        }
      }
      break;
    }
    case RunStep::kWav:
      if (StartsWith(c, "-SetDAOutputMode ")) {
        FlushAction();
        action_.active = true;
        action_.type = "wav";
        action_.trial = r.trialNumber;
        action_.acknowledged = r.status.IsReplied();
      } else if (StartsWith(c, "-PlayDAWavFile ")) {
        const bool ack = (!action_.active || action_.acknowledged) && r.status.IsReplied();
        action_ = OpenAction();
        WriteEvent(static_cast<double>(sent), -1, "wav", "n/a", r.trialNumber, ack);
      } else if (action_.active && !r.status.IsReplied()) {
        action_.acknowledged = false;
      }
      break;
    case RunStep::kOther:
      break;
  }
}

void SessionRecord::OnCommand(const CommandRecord& record) {
  MutexLock lock(&mutex_);
  if (!running_) return;
  Queue(&timeline_, FormatTimelineRow(record, start_, hasTriggers_));
  if (record.failed) {
    ++failed_;
    if (record.trialNumber == trial_.number) trial_.failed = true;
    Queue(&failures_, std::to_string(record.trialNumber) + "\t" + RunStepName(record.step) + "\t" +
                          TsvField(record.command) + "\t" +
                          (record.MaybeSent() ? std::to_string(Micros(record.sentAt)) : "n/a") +
                          "\t" + (record.MaybeSent() ? "no reply" : "not sent") + "\t" +
                          TsvField(record.status.Describe()) + "\t" +
                          std::to_string(Micros(record.repliedAt)) + "\n");
  }
  if (record.trialNumber > 0) TrackEvents(record);
}

void SessionRecord::OnTrigger(const TriggerRecord& record) {
  MutexLock lock(&mutex_);
  if (!running_ || !hasTriggers_) return;
  Queue(&timeline_, FormatTimelineTriggerRow(record, start_));
  TriggerRow row = TriggerRowOf(record, start_);
  Queue(&triggers_, FormatTriggerRow(row));
  if (record.trialNumber == trial_.number) {
    trial_.trigger = row.outcome;
    trial_.triggerLatencyUs = row.latencyUs;
  }
  triggerRows_.push_back(std::move(row));
}

bool SessionRecord::WriteSession(const std::string& outcome, std::string& error) {
  session_.Set("end_time", outcome == "running"
                               ? Json()
                               : Json::String(LocalIsoTime(std::chrono::system_clock::now())));
  session_.Set("outcome", Json::String(outcome));
  session_.Set("failed_commands", Json::Number(static_cast<double>(failed_)));
  return ReplaceFileAtomically((std::filesystem::path(folder_) / "session.json").string(),
                               session_.Dump(), error);
}

void SessionRecord::Finish(const std::string& outcome, const std::string& lastTrialOutcome,
                           int64_t endUs) {
  FlushAction();
  if (trial_.number > 0) {
    std::string trialOutcome = lastTrialOutcome;
    if (trialOutcome.empty()) trialOutcome = trial_.Outcome();
    CloseTrial(endUs, trialOutcome);
  }
  running_ = false;
  ended_ = true;
  outcome_ = outcome;
  StopWriter();
  if (!timeline_.ok()) problem_ = "timeline.csv could not be written whole: " + timeline_.error();
  if (!trials_.ok()) problem_ = "trials.tsv could not be written whole: " + trials_.error();
  if (!events_.ok()) problem_ = "events.tsv could not be written whole: " + events_.error();
  if (!failures_.ok()) problem_ = "failures.tsv could not be written whole: " + failures_.error();
  if (hasTriggers_ && !triggers_.ok()) {
    problem_ = std::string(kTriggersFileName) + " could not be written whole: " + triggers_.error();
  }
  timeline_.Close();
  trials_.Close();
  events_.Close();
  failures_.Close();
  triggers_.Close();
  std::string error;
  std::error_code ec;
  if (!WriteSession(outcome, error)) problem_ = error;
  lock_.Release();
  // session.json says how the run ended; the lock has nothing left to tell.
  std::filesystem::remove(std::filesystem::path(folder_) / "session.lock", ec);
  std::string path;
  if (WriteReport(folder_, path, error)) {
    reportPath_ = path;
  } else {
    problem_ = error;
  }
}

Json SessionRecord::TimingJson(const TimingCheck* check) const {
  Json timing = Json::Object();
  timing.Set("mode", timingMode_.empty() ? Json() : Json::String(timingMode_));
  timing.Set("tolerance_ms", Json::Number(check != nullptr ? check->toleranceMs : toleranceMs_));
  if (check == nullptr) {
    timing.Set("verdict", Json());
    return timing;
  }
  timing.Set("verdict", Json::String(check->Within() ? "within tolerance" : "out of tolerance"));
  timing.Set("steps_checked", Json::Number(check->stepsChecked));
  timing.Set("steps_out", Json::Number(check->stepsOut));
  // Microsecond resolution is what the clock gives.
  timing.Set("worst_ms", Json::Number(std::round(check->WorstMs() * 1000.0) / 1000.0));
  return timing;
}

void SessionRecord::OnRunEnded(const RunSummary& end) {
  const auto now = std::chrono::steady_clock::now();
  MutexLock lock(&mutex_);
  if (!begun_ || ended_) return;
  session_.Set("timing", TimingJson(&end.timing));
  // The record is being written: its verdict has no "without a record".
  session_.Set("verdict", Json::String(RunVerdict::Of(end, RunRecordState::kWritten).Name()));
  // The worker's count is the one the front ends report.
  failed_ = end.failedCommands;
  if (hasTriggers_) {
    const TriggerCounts counts{end.triggerWaits, end.triggerTimeouts, end.triggerSkipped,
                               end.triggerFailure};
    session_.Set("triggers", TriggerSummaryJson(triggerRows_, &counts));
  }
  std::string outcome = "completed";
  std::string lastTrial;  // empty: the open trial's own outcome
  if (end.outcome == RunOutcome::kStopped) {
    outcome = lastTrial = "stopped";
  } else if (end.connectionLost) {
    outcome = "failed";
    // The trial that lost the connection failed, whatever its earlier commands did.
    if (trial_.number > 0 && trial_.number == end.lostAt.trialNumber) lastTrial = "failed";
  } else if (end.outcome == RunOutcome::kFailed || end.failedCommands > 0) {
    outcome = "failed";
  }
  Finish(outcome, lastTrial, Micros(now));
}

void SessionRecord::Abandon() {
  MutexLock lock(&mutex_);
  if (!begun_ || ended_) return;
  session_.Set("verdict", Json::String("failed"));
  if (hasTriggers_) session_.Set("triggers", TriggerSummaryJson(triggerRows_, nullptr));
  Finish("failed", "failed", running_ ? Micros(std::chrono::steady_clock::now()) : 0);
}

RunRecordState SessionRecord::RecordState() {
  MutexLock lock(&mutex_);
  return begun_ && problem_.empty() ? RunRecordState::kWritten : RunRecordState::kNotWritten;
}

std::string SessionRecord::CompletionNote() {
  MutexLock lock(&mutex_);
  return reportPath_.empty() ? std::string() : "Session report: " + reportPath_;
}

std::string SessionRecord::folder() const {
  MutexLock lock(&mutex_);
  return folder_;
}

std::string SessionRecord::reportPath() const {
  MutexLock lock(&mutex_);
  return reportPath_;
}

std::string SessionRecord::outcome() const {
  MutexLock lock(&mutex_);
  return outcome_;
}

int64_t SessionRecord::failedCommands() const {
  MutexLock lock(&mutex_);
  return failed_;
}

bool SessionRecord::ok(std::string* problem) const {
  MutexLock lock(&mutex_);
  if (problem != nullptr) *problem = problem_;
  return problem_.empty();
}

}  // namespace orvanta::record
