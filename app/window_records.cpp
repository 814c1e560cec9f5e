#include "app/window_records.h"

#include <QString>
#include <filesystem>

#include "app/app_folders.h"
#include "client/network_node_client.h"
#include "client/vintra_client.h"
#include "log/log_file.h"
#include "platform/version.h"
#include "record/record_io.h"
#include "record/record_reader.h"
#include "script/config_file_processor.h"
#include "trials/card_deck.h"
#include "trials/run_timing.h"
#include "trials/trial_container.h"

namespace orvanta {

namespace {

const char kFolderKey[] = "SessionRecords/Folder";

}  // namespace

WindowRecords::WindowRecords(TrialContainer& trials, CardDeck& deck, ConfigFileProcessor& config,
                             LogFile& log, const Clock& clock, ShellOpener& shell,
                             const std::string& applicationDirectory)
    : trials_(trials),
      deck_(deck),
      config_(config),
      log_(log),
      clock_(clock),
      shell_(shell),
      applicationDirectory_(applicationDirectory) {}

WindowRecords::~WindowRecords() { trials_.SetRunObserver(nullptr); }

std::string WindowRecords::folder() const {
  const QString chosen =
      OpenWindowSettings(applicationDirectory_)->value(QString::fromLatin1(kFolderKey)).toString();
  if (!chosen.isEmpty()) return chosen.toStdString();
  const std::string logPath = log_.GetFilePath();
  std::filesystem::path beside = std::filesystem::path(logPath).parent_path();
  if (logPath.empty() || beside.empty()) beside = applicationDirectory_;
  return (beside / record::kRecordsFolderName).string();
}

bool WindowRecords::SetFolder(const std::string& folder, std::string& error) {
  if (!record::CheckRecordsFolder(folder, error)) return false;
  const std::unique_ptr<QSettings> settings = OpenWindowSettings(applicationDirectory_);
  settings->setValue(QString::fromLatin1(kFolderKey), QString::fromStdString(folder));
  settings->sync();
  return true;
}

void WindowRecords::SetupLoaded(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  sources_.push_back(ec ? path : absolute.lexically_normal().string());
}

bool WindowRecords::BeginRun(const std::string& serverName, int32_t firstTrial,
                             const std::string& resumes, std::string& error) {
  record::SessionSetup setup;
  setup.frontEnd = "Orvanta";
  setup.version = ORVANTA_VERSION;
  setup.setupText = config_.GetSetupFileText(clock_.Now());
  setup.setupSources = sources_;
  setup.server = serverName;
  setup.negotiate = true;
  setup.negotiationPort =
      client_ != nullptr ? client_->GetNegotiationPort() : VintraClient::kDefaultNegotiationPort;
  setup.messagePort =
      client_ != nullptr ? client_->GetMessagePort() : VintraClient::kDefaultMessagePort;
  setup.replyTimeoutMs = client_ != nullptr ? client_->GetReplyTimeout().count()
                                            : NetworkNodeClient::kDefaultReplyTimeout.count();
  setup.firstTrial = firstTrial;
  setup.numTrials = deck_.GetNumCards();
  setup.resumes = resumes;
  setup.types = record::TrialTypeTimings(trials_);
  setup.timing = TimingModeName(trials_.GetTimingMode());
  setup.toleranceMs = trials_.GetTimingTolerance();

  auto recordOfRun = std::make_unique<record::SessionRecord>();
  if (!recordOfRun->Begin(folder(), setup, error)) {
    trials_.SetRunObserver(nullptr);
    return false;
  }
  log_.WriteLogEntry(kLogNotice,
                     "OrvantaDlg::OnStart() - Session record: " + recordOfRun->folder());
  trials_.SetRunObserver(recordOfRun.get());
  records_.push_back(std::move(recordOfRun));
  endLogged_ = false;
  return true;
}

void WindowRecords::RunWithoutRecord(const std::string& error) {
  log_.WriteLogEntry(kLogError,
                     "OrvantaDlg::OnStart() - Error, unable to write the session record in " +
                         folder() + ": " + error + ".  The run goes on without one.");
  trials_.SetRunObserver(&noRecord_);
}

void WindowRecords::RunNotStarted() {
  if (!records_.empty()) records_.back()->Abandon();
}

void WindowRecords::LogEndOfRun() {
  if (endLogged_ || records_.empty()) return;
  const record::SessionRecord& last = *records_.back();
  if (last.outcome() == "running") return;
  endLogged_ = true;
  std::string problem;
  if (!last.ok(&problem)) {
    log_.WriteLogEntry(kLogError, "OrvantaDlg::OnStop() - Error, the session record in " +
                                      last.folder() + " is incomplete: " + problem);
  }
  if (!last.reportPath().empty()) {
    log_.WriteLogEntry(kLogNotice, "OrvantaDlg::OnStop() - Session report: " + last.reportPath());
  }
}

std::string WindowRecords::lastReportPath() const {
  for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
    std::string path = (*it)->reportPath();
    if (!path.empty()) return path;
  }
  return std::string();
}

int WindowRecords::OpenLastReport() {
  const std::string path = lastReportPath();
  return path.empty() ? 0 : shell_.Open(path);
}

bool WindowRecords::PlanResume(const std::string& folder, ResumePlan& plan,
                               std::string& error) const {
  record::LoadedRecord loaded;
  if (!record::LoadRecord(folder, loaded, error)) return false;
  if (loaded.outcome == "running") {
    error = "Its run is still going.";
    return false;
  }
  plan = ResumePlan();
  plan.folder = folder;
  plan.outcome = loaded.outcome;
  plan.numTrials = static_cast<int32_t>(loaded.session["number_of_trials"].Int(0));
  plan.firstTrial = record::ResumeTrial(loaded);
  if (plan.firstTrial == 0) {
    error = "Every trial of its run was completed; there is nothing left to run.";
    return false;
  }
  plan.remaining = plan.numTrials - plan.firstTrial + 1;

  // The types of the trials to run, from the order lines of its setup:
  //   -SetTrialOrder "Name" index
  std::string setup;
  if (!record::ReadWholeFile((std::filesystem::path(folder) / "setup.cfg").string(), setup)) {
    error = "Its setup.cfg cannot be read.";
    return false;
  }
  std::vector<std::pair<std::string, int>> counts;
  int32_t trial = 0;
  std::size_t pos = 0;
  while (pos < setup.size()) {
    std::size_t end = setup.find('\n', pos);
    if (end == std::string::npos) end = setup.size();
    const std::string line = setup.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("-SetTrialOrder \"", 0) != 0) continue;
    ++trial;
    const std::size_t close = line.rfind('"');
    if (trial < plan.firstTrial || close <= 15) continue;
    const std::string name = line.substr(16, close - 16);
    bool found = false;
    for (auto& [n, c] : counts) {
      if (n == name) {
        ++c;
        found = true;
      }
    }
    if (!found) counts.emplace_back(name, 1);
  }
  for (const auto& [n, c] : counts) {
    plan.types += (plan.types.empty() ? "" : ", ") + n + " " + std::to_string(c);
  }
  return true;
}

}  // namespace orvanta
