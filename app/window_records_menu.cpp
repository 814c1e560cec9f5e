// The main window's commands for session records: File > Resume Session...,
// File > Session Records Folder... and View > Last Session Report.
#include <filesystem>

#include "app/orvanta_dlg.h"
#include "app/window_records.h"
#include "app/window_wait.h"
#include "core/program_core.h"
#include "log/log_file.h"
#include "platform/shell_open.h"
#include "script/config_file_processor.h"
#include "trials/trial_container.h"

namespace orvanta {

namespace {

constexpr const char kSessionCaption[] = "Session Records";
constexpr const char kResumeDuringRunMessage[] =
    "Unable to resume a session while trials are being processed.  Stop the run first.";

}  // namespace

void OrvantaDlg::OnResumeSession() {
  if (mRecords == nullptr) return;
  if (RunInProgress()) {
    ShowRunRefusal(kResumeDuringRunMessage);
    return;
  }
  const FileDialogOptions options{.title = "Resume Session: choose the session.json of its record",
                                  .filter = "Session Records (session.json)|session.json||",
                                  .initialName = "session.json",
                                  .defaultExtension = "json"};
  const std::optional<std::string> path = mFiles.ChooseFileToOpen(options);
  if (!path) return;
  const std::string folder = std::filesystem::path(*path).parent_path().string();

  WindowRecords::ResumePlan plan;
  std::string error;
  if (!mRecords->PlanResume(folder, plan, error)) {
    mEditRules.SetLastMessage("Unable to resume the session recorded in:\r\n\r\n" + folder +
                              "\r\n\r\n" + error);
    mCore.seams().boxes.Show(lastMessage(), kSessionCaption, BoxIcon::kError, BoxButtons::kOk);
    return;
  }
  mEditRules.SetLastMessage(
      "Resume the session recorded in:\r\n\r\n" + folder + "\r\n\r\nIts run ended " + plan.outcome +
      ".  Its setup will replace the current one, and trials " + std::to_string(plan.firstTrial) +
      " to " + std::to_string(plan.numTrials) + " of " + std::to_string(plan.numTrials) +
      " will run (" + std::to_string(plan.remaining) +
      (plan.remaining == 1 ? " trial" : " trials") +
      (plan.types.empty() ? std::string() : ": " + plan.types) +
      ").  A new record will name this one.\r\n\r\nStart the run now?");
  if (mCore.seams().boxes.Show(lastMessage(), kSessionCaption, BoxIcon::kQuestion,
                               BoxButtons::kYesNo) != BoxResult::kYes) {
    return;
  }
  if (!ServerIsConnected()) {
    mCore.seams().boxes.Show(kNotConnectedMessage, kTrialProcessingCaption, BoxIcon::kError,
                             BoxButtons::kOk);
    return;
  }
  {
    WaitCursor cursor;
    // The record's setup replaces the current one whole, order included.
    for (const std::string& name : mCore.trials().GetTrialNames()) {
      mCore.trials().RemoveTrial(name);
    }
    const int loaded =
        mCore.config().ProcessScript((std::filesystem::path(folder) / "setup.cfg").string());
    UpdateTrialProperties(std::string());
    UpdateTrialList();
    UpdateShuffleControls();
    // A failed command has been shown in its own box; nothing runs.
    if (loaded != 0) return;
  }
  // The new record lists the continued record's setup sources and is named
  // after them, with "_resumed".
  mRecords->SetupCleared();
  for (const std::string& source : record::ResumedSetupSources(folder)) {
    mRecords->SetupLoaded(source);
  }
  mResumeFrom = folder;
  StartRun(plan.firstTrial);
  mResumeFrom.clear();
}

void OrvantaDlg::OnChooseRecordsFolder() {
  if (mRecords == nullptr) return;
  const std::optional<std::string> folder =
      mFiles.ChooseFolder("Session Records Folder", mRecords->folder());
  if (!folder) return;
  std::string error;
  if (!mRecords->SetFolder(*folder, error)) {
    // Refused at once, not at the next Start: the folder in force stays.
    mEditRules.SetLastMessage("Session records cannot be written in:\r\n\r\n" + *folder +
                              "\r\n\r\n" + error + "\r\n\r\nRecords still go to:\r\n\r\n" +
                              mRecords->folder());
    mCore.log().WriteLogEntry(kLogError,
                              "OrvantaDlg::OnChooseRecordsFolder() - Error, session records "
                              "cannot be written in " +
                                  *folder + ": " + error);
    mCore.seams().boxes.Show(lastMessage(), kSessionCaption, BoxIcon::kError, BoxButtons::kOk);
    return;
  }
  mCore.log().WriteLogEntry(
      kLogNotice, "OrvantaDlg::OnChooseRecordsFolder() - Session records go to: " + *folder);
}

void OrvantaDlg::OnViewLastSessionReport() {
  if (mRecords == nullptr) return;
  if (mRecords->lastReportPath().empty()) {
    mEditRules.SetLastMessage(
        "No session report has been written yet.  A report is written at the end of "
        "every run, in its session record.");
    mCore.seams().boxes.Show(lastMessage(), kSessionCaption, BoxIcon::kInformation,
                             BoxButtons::kOk);
    return;
  }
  if (mRecords->OpenLastReport() <= 32) {
    mEditRules.SetLastMessage("Unable to open the session report:\r\n\r\n" +
                              mRecords->lastReportPath());
    mCore.seams().boxes.Show(lastMessage(), kSessionCaption, BoxIcon::kError, BoxButtons::kOk);
  }
}

}  // namespace orvanta
