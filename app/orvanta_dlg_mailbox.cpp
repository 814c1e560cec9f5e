// The main window's mailbox: the listener calls that any thread makes are
// queued here and carried out on the window thread, in the order they came.
#include "app/log_pane.h"
#include "app/orvanta_dlg.h"
#include "app/run_panel.h"
#include "app/run_status_bar.h"
#include "app/trial_type_editor.h"
#include "app/window_wait.h"
#include "core/program_core.h"

namespace orvanta {

void OrvantaDlg::AddTrialTypeToList(const std::string& name) {
  Post({PendingCall::Kind::kAddType, name, 0});
}

void OrvantaDlg::RemoveTrialTypeFromList(const std::string& name) {
  Post({PendingCall::Kind::kRemoveType, name, 0});
}

void OrvantaDlg::SetCurrentTrialNumber(int number) {
  Post({PendingCall::Kind::kTrialNumber, std::string(), number});
}

void OrvantaDlg::OnStop() {
  if (OnWindowThread()) {
    StopRunControls();
    CheckConnectionAfterRun();
  } else {
    Post({PendingCall::Kind::kStop, std::string(), 0});
  }
}

void OrvantaDlg::OnRunEnding() { Post({PendingCall::Kind::kRunEnding, std::string(), 0}); }

void OrvantaDlg::AddLogMessage(const std::string& line) {
  bool post = false;
  {
    MutexLock lock(&mPendingMutex);
    mPendingLogLines.push_back(line);
    // Lines beyond what the list keeps would be dropped on arrival anyway.
    while (mPendingLogLines.size() > static_cast<size_t>(kMaxLogEntries)) {
      mPendingLogLines.pop_front();
    }
    post = !mFlushPosted;
    mFlushPosted = true;
  }
  if (post)
    QMetaObject::invokeMethod(
        this, [this] { FlushPending(); }, Qt::QueuedConnection);
}

void OrvantaDlg::Post(PendingCall call) {
  bool post = false;
  {
    MutexLock lock(&mPendingMutex);
    // Only the latest trial number matters; a burst of them shows the last.
    if (call.kind == PendingCall::Kind::kTrialNumber && !mPendingCalls.empty() &&
        mPendingCalls.back().kind == PendingCall::Kind::kTrialNumber) {
      mPendingCalls.back().number = call.number;
    } else {
      mPendingCalls.push_back(std::move(call));
    }
    post = !mFlushPosted;
    mFlushPosted = true;
  }
  if (post)
    QMetaObject::invokeMethod(
        this, [this] { FlushPending(); }, Qt::QueuedConnection);
}

void OrvantaDlg::FlushPending() {
  std::vector<PendingCall> calls;
  std::deque<std::string> lines;
  {
    MutexLock lock(&mPendingMutex);
    calls.swap(mPendingCalls);
    lines.swap(mPendingLogLines);
    mFlushPosted = false;
  }
  for (const PendingCall& call : calls) {
    switch (call.kind) {
      case PendingCall::Kind::kAddType:
        mEditor->ShowAddedType(call.name);
        break;
      case PendingCall::Kind::kRemoveType:
        mEditor->ShowRemovedType(call.name);
        break;
      case PendingCall::Kind::kTrialNumber:
        mRunPanel->ShowCurrentTrialNumber(call.number);
        break;
      case PendingCall::Kind::kStop:
        StopRunControls();
        CheckConnectionAfterRun();
        break;
      case PendingCall::Kind::kRunEnding:
        // The end box follows in the queue: the window shows the end first.
        if (runStatusBar()->following()) runStatusBar()->Refresh();
        CheckConnectionAfterRun();
        break;
    }
  }
  if (!lines.empty()) mLogPane->AppendLines(lines);
}

}  // namespace orvanta
