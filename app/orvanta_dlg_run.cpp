// The main window's run: Start (and Run > Start at Trial...), Pause /
// Resume, Stop and the return of the controls to idle, and the refusals of
// what would change the order a run deals from.
#include <QTimer>

#include <chrono>
#include <string>
#include <vector>

#include "app/digits.h"
#include "app/orvanta_dlg.h"
#include "app/run_panel.h"
#include "app/run_status_bar.h"
#include "app/start_at_dialog.h"
#include "app/trial_type_editor.h"
#include "app/window_records.h"
#include "core/program_core.h"
#include "log/log_file.h"
#include "trials/card_deck.h"
#include "trials/run_progress.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

// How often a Stop whose worker is still ending looks again.
constexpr int kStopPollMs = 100;
constexpr const char kStartAtDuringRunMessage[] =
    "Unable to start at a trial while trials are being processed.  Stop the run first.";
constexpr const char kStartAtEmptyOrderMessage[] =
    "Unable to start at a trial, the trial order is empty.  Add trial types first.";

}  // namespace

void OrvantaDlg::OnStart() { StartRun(1); }

void OrvantaDlg::StartRun(int32_t firstTrial) {
  if (!ServerIsConnected()) {
    if (mClosing) return;  // a close request cancelled the check
    mCore.seams().boxes.Show(kNotConnectedMessage, kTrialProcessingCaption, BoxIcon::kError,
                             BoxButtons::kOk);
    return;
  }
  // A run with nothing to play would only pretend to have run.
  if (mCore.deck().GetNumCards() == 0) {
    ShowRunRefusal(kEmptyRunMessage);
    return;
  }
  // The record begins before the first command (mResumeFrom is set by File >
  // Resume Session... for the one start it makes). Without one, the user
  // decides; the answer that needs no thought starts nothing.
  if (mRecords != nullptr) {
    std::string error;
    if (!mRecords->BeginRun(mServerName, firstTrial, mResumeFrom, error)) {
      const std::string message =
          "No session record can be made in:\r\n\r\n" + mRecords->folder() + "\r\n\r\n" + error +
          "\r\n\r\nRun without a session record?  Its verdict will say so.  Choose a "
          "folder that can be written with File > Session Records Folder... to keep one.";
      mEditRules.SetLastMessage(message);
      if (mCore.seams().boxes.Show(message, kTrialProcessingCaption, BoxIcon::kWarning,
                                   BoxButtons::kYesNo) != BoxResult::kYes) {
        mCore.log().WriteLogEntry(kLogNotice,
                                  "OrvantaDlg::OnStart() - The run was not started: no session "
                                  "record can be made in " +
                                      mRecords->folder() + ": " + error);
        return;
      }
      mRecords->RunWithoutRecord(error);
    }
  }
  EditRules::Hold hold(mEditRules);
  mRunning = true;
  mPaused = false;
  mRunPanel->ShowRunning();
  // A failed start is logged by the trial list; the controls stay in the
  // running state until Stop.
  RunStatusBar* bar = runStatusBar();
  bar->RunStarted(firstTrial, NominalTrialLengths(mCore.trials(), mCore.deck()));
  if (mCore.trials().StartProcessingTrials(firstTrial) != 0) {
    bar->RunEnded(RunEnd::kFailed, "the trial worker could not be started");
    if (mRecords != nullptr) mRecords->RunNotStarted();
  }
  mEditor->SetRunning(true);
}

void OrvantaDlg::OnPause() {
  mCore.trials().TogglePauseProcessingTrials();
  // The label follows the run's flag; without a run going (the worker could
  // not be started) the button still toggles its label.
  mPaused = mCore.trials().IsProcessing() ? mCore.trials().IsPaused() : !mPaused;
  mRunPanel->ShowPaused(mPaused);
}

bool OrvantaDlg::RunInProgress() const { return mRunning || mCore.trials().IsProcessing(); }

void OrvantaDlg::ShowRunRefusal(const std::string& text) {
  mEditRules.SetLastMessage(text);
  mCore.seams().boxes.Show(text, kTrialProcessingCaption, BoxIcon::kError, BoxButtons::kOk);
}

void OrvantaDlg::StopRunControls() {
  EditRules::Hold hold(mEditRules);
  mCore.trials().StopProcessingTrials();
  if (mRunning && isVisible() && !mCore.trials().WaitForRunEnd(std::chrono::milliseconds(0))) {
    // The worker outlasted Stop's wait (a pulse port reset that takes its
    // time): the run's controls stay as they are until it has ended, so that
    // nothing new starts while it still talks to the server.
    mRunPanel->ShowStopping();
    if (!mStopPending) {
      mStopPending = true;
      QTimer::singleShot(kStopPollMs, this, [this] { FinishStopWhenEnded(); });
    }
    return;
  }
  if (mRunning) ReportRunEnded();
  mRunning = false;
  mPaused = false;
  mRunPanel->ShowIdle();
  mEditor->SetRunning(false);
  if (mRecords != nullptr) mRecords->LogEndOfRun();
}

void OrvantaDlg::FinishStopWhenEnded() {
  if (!mCore.trials().WaitForRunEnd(std::chrono::milliseconds(0))) {
    QTimer::singleShot(kStopPollMs, this, [this] { FinishStopWhenEnded(); });
    return;
  }
  mStopPending = false;
  StopRunControls();
  CheckConnectionAfterRun();
}

void OrvantaDlg::ReportRunEnded() {
  // A start that failed has been reported already.
  RunStatusBar* bar = runStatusBar();
  if (!bar->following()) return;
  // The worker logged the run's verdict when it ended; the bar shows it.
  const RunProgress progress = mCore.trials().GetRunProgress();
  if (bar->IsThisRun(progress) && progress.state == RunProgress::State::kCompleted) {
    bar->RunEnded(RunEnd::kCompleted, progress.verdict.StatusText());
  } else if (bar->IsThisRun(progress) && progress.state == RunProgress::State::kFailed) {
    bar->RunEnded(RunEnd::kFailed, progress.failure);
  } else {
    bar->RunEnded(RunEnd::kStopped);
  }
}

void OrvantaDlg::OnShuffleTypeChanged() {
  if (RunInProgress()) {
    // The deck would be rebuilt under the worker; keep the order of the run.
    mRunPanel->UpdateShuffleControls();
    ShowRunRefusal(kShuffleTypeDuringRunMessage);
    return;
  }
  mRunPanel->ApplyShuffleType();
}

void OrvantaDlg::OnStartAtTrial() {
  if (RunInProgress()) {
    ShowRunRefusal(kStartAtDuringRunMessage);
    return;
  }
  // One line per trial of the order, numbered as the Trial List numbers it.
  const std::vector<int32_t> order = mCore.deck().GetOrder();
  std::vector<std::string> lines;
  lines.reserve(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    Trial* trial = nullptr;
    const bool found = mCore.trials().GetTrial(order[i], trial) == 0 && trial != nullptr;
    lines.push_back(FormatNumber(static_cast<int32_t>(i) + 1) + ".  " +
                    (found ? trial->GetName() : std::string("(no trial type)")));
  }
  if (lines.empty()) {
    ShowRunRefusal(kStartAtEmptyOrderMessage);
    return;
  }
  // After a stopped or failed run, the trial it ended at is offered.
  const RunProgress last = mCore.trials().GetRunProgress();
  const bool cutShort =
      last.state == RunProgress::State::kStopped || last.state == RunProgress::State::kFailed;
  const int32_t suggested = cutShort && last.trial > 0 ? last.trial : 1;
  StartAtTrialDlg dialog(std::move(lines), suggested, this);
  if (dialog.exec() != QDialog::Accepted) return;
  StartRun(dialog.GetTrial());
}

}  // namespace orvanta
