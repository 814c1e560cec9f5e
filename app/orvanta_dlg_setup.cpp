// The main window's setup files and setup: File > Open and Save
// Configuration File, New Setup and Exit, and the unsaved-changes check.
#include "app/digits.h"
#include "app/orvanta_dlg.h"
#include "app/run_panel.h"
#include "app/run_status_bar.h"
#include "app/trial_type_editor.h"
#include "app/window_records.h"
#include "app/window_wait.h"
#include "core/program_core.h"
#include "log/log_file.h"
#include "script/config_file_processor.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

constexpr const char kConfigurationFilter[] = "Configuration Files (*.cfg)|*.cfg||";
constexpr const char kConfigurationSaveFilter[] = "Configuration Files (*.cfg)|*.cfg|";
constexpr const char kNewSetupDuringRunMessage[] =
    "Unable to start a new setup while trials are being processed.  The setup of the run was not "
    "changed.  Stop the run first.";

}  // namespace

void OrvantaDlg::OnOpenConfigurationFile() {
  if (RunInProgress()) {
    // The file's commands would rebuild the deck the worker deals from.
    ShowRunRefusal(kOpenDuringRunMessage);
    return;
  }
  const FileDialogOptions options{.title = "Process Configuration File",
                                  .filter = kConfigurationFilter,
                                  .initialName = "*.cfg",
                                  .defaultExtension = "cfg"};
  const std::optional<std::string> path = mFiles.ChooseFileToOpen(options);
  if (!path) return;
  if (!AskAddOrReplace(*path)) return;
  // The last run's progress belongs to the setup it ran.
  runStatusBar()->ClearRun();
  bool loaded = false;
  {
    WaitCursor cursor;
    // The runner reports its own failures (log, and a box for a load that
    // stopped early).
    loaded = mCore.config().ProcessScript(*path) == 0;
  }
  // Records name the setup after the files it came from.
  if (mRecords != nullptr) mRecords->SetupLoaded(*path);
  mEditor->ShowType(mEditor->currentName());
  mRunPanel->UpdateTrialList();
  mRunPanel->UpdateShuffleControls();
  if (loaded) MarkSetupSaved();
  // An order that breaks the consecutive-type limit is not left unsaid.
  mRunPanel->ShowShuffleWarning(false);
}

bool OrvantaDlg::AskAddOrReplace(const std::string& path) {
  const int32_t numTypes = mCore.trials().GetNumTrials();
  if (numTypes == 0) return true;
  const std::string question =
      "The current setup has " + FormatNumber(numTypes) +
      (numTypes == 1 ? " trial type" : " trial types") + ".  Opening " + path +
      ".\r\n\r\nAdd to the current setup, or replace it?\r\n\r\nAdd applies the file on top of "
      "the current setup; Replace clears the current setup first.";
  switch (mCore.seams().boxes.Show(question, "Open Configuration File", BoxIcon::kQuestion,
                                   BoxButtons::kAddReplaceCancel)) {
    case BoxResult::kAdd:
      return true;
    case BoxResult::kReplace:
      mCore.config().ClearSetup();
      // The trial list's removals reach the window now, before the file adds.
      FlushPending();
      mEditor->ShowNoType();
      return true;
    default:
      return false;
  }
}

void OrvantaDlg::OnSaveConfigurationFile() {
  const FileDialogOptions options{.title = "Save Setup to Configuration File...",
                                  .filter = kConfigurationSaveFilter,
                                  .initialName = "Orvanta.cfg",
                                  .defaultExtension = "cfg"};
  // The chooser has the user confirm the overwrite of an existing file.
  const std::optional<std::string> path = mFiles.ChooseFileToSave(options);
  if (!path) return;
  SetupFileSaveResult result;
  {
    WaitCursor cursor;
    result = mCore.config().SaveSetupFile(*path);
  }
  if (result.status != 0) {
    // The reason is in the log; the file that was there is unchanged.
    mCore.seams().boxes.Show("The application failed to save to: \r\n\r\n" + *path,
                             kSaveFailedCaption, BoxIcon::kError, BoxButtons::kOk);
    return;
  }
  MarkSetupSaved();
  if (!result.warnings.empty()) {
    std::string text = "The setup was saved to: \r\n\r\n" + *path +
                       "\r\n\r\nThese values will not read back the same when the file is "
                       "opened again:\r\n";
    for (const std::string& warning : result.warnings) {
      mCore.log().WriteLogEntry(kLogWarning,
                                "OrvantaDlg::OnSaveConfigurationFile() - Warning, " + warning);
      text += "\r\n" + warning;
    }
    mCore.seams().boxes.Show(text, kSaveWarningCaption, BoxIcon::kWarning, BoxButtons::kOk);
  }
}

void OrvantaDlg::OnNewSetup() {
  if (RunInProgress()) {
    ShowRunRefusal(kNewSetupDuringRunMessage);
    return;
  }
  const int32_t numTypes = mCore.trials().GetNumTrials();
  if (HasUnsavedChanges()) {
    const std::string question =
        "The current setup has changes that have not been saved.  Its " + FormatNumber(numTypes) +
        (numTypes == 1 ? " trial type" : " trial types") +
        " and the trial order will be cleared.\r\n\r\nClear the setup and start a new one?";
    if (mCore.seams().boxes.Show(question, "New Setup", BoxIcon::kQuestion, BoxButtons::kYesNo) !=
        BoxResult::kYes) {
      return;
    }
  }
  mCore.config().ClearSetup();
  if (mRecords != nullptr) mRecords->SetupCleared();
  // The trial list's removals reach the window now, not after the refresh.
  FlushPending();
  mEditor->ShowNoType();
  mRunPanel->UpdateShuffleControls();
  MarkSetupSaved();
  // The last run's progress belongs to the setup it ran.
  runStatusBar()->ClearRun();
}

void OrvantaDlg::OnExit() { close(); }

void OrvantaDlg::MarkSetupSaved() { mSavedSetup = mCore.config().GetSetupLines(); }

bool OrvantaDlg::HasUnsavedChanges() {
  return mCore.trials().GetNumTrials() > 0 && mCore.config().GetSetupLines() != mSavedSetup;
}

}  // namespace orvanta
