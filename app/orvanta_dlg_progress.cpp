// The main window's status bar and progress, the message log's "Show
// details" toggle, the notes of refused keystrokes, and Run > Start at Trial.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QToolTip>

#include <algorithm>

#include "app/digits.h"
#include "app/digits_line_edit.h"
#include "app/message_log_list.h"
#include "app/orvanta_dlg.h"
#include "app/run_status_bar.h"
#include "app/start_at_dialog.h"
#include "log/log_file.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

constexpr const char kStartAtDuringRunMessage[] =
    "Unable to start at a trial while trials are being processed.  Stop the run first.";
constexpr const char kStartAtEmptyOrderMessage[] =
    "Unable to start at a trial, the trial order is empty.  Add trial types first.";

}  // namespace

void OrvantaDlg::BuildStatusAndLogControls(QLayout* logLayout) {
  // Tight margins and rows, so that the whole window fits a 1280 x 720
  // screen; a larger window gives its extra room to the lists and the log.
  layout()->setContentsMargins(8, 4, 8, 0);
  layout()->setSpacing(4);
  for (QGroupBox* group : findChildren<QGroupBox*>()) {
    if (group->layout() == nullptr) continue;
    group->layout()->setContentsMargins(8, 2, 8, 4);
    group->layout()->setSpacing(3);
  }
  for (QGridLayout* grid : findChildren<QGridLayout*>()) grid->setVerticalSpacing(2);
  for (QLineEdit* edit : findChildren<QLineEdit*>())
    edit->setMinimumWidth(std::max(edit->minimumWidth(), 60));

  // Details (the setup reader's per-line entries, the per-command entries of
  // a run) can be hidden; they stay in the list and in the log file.
  mShowDetailsCheck = new QCheckBox(QStringLiteral("Show details"));
  mShowDetailsCheck->setObjectName(QStringLiteral("showDetailsCheck"));
  mShowDetailsCheck->setChecked(true);
  mShowDetailsCheck->setToolTip(
      QStringLiteral("Show the per-line entries of setup files and the per-command entries of "
                     "runs. Hidden entries are still written to the log file."));
  // Beside the list, where it costs no height.
  if (auto* box = qobject_cast<QBoxLayout*>(logLayout)) {
    box->setDirection(QBoxLayout::LeftToRight);
    box->addWidget(mShowDetailsCheck, 0, Qt::AlignTop);
  }
  connect(mShowDetailsCheck, &QCheckBox::toggled, this,
          [this](bool show) { mMessageLog->SetShowDetails(show); });

  mStatusBar = new RunStatusBar([this] { return services_.trials.GetRunProgress(); });
  layout()->addWidget(mStatusBar);
  // The title is where the window shows the connection; the status bar
  // follows it, whichever command changed it.
  connect(this, &QWidget::windowTitleChanged, this,
          [this](const QString& title) { ShowConnectionState(title); });

  // A refused keystroke or paste in a digits field says why, at the field
  // and in the status bar.
  for (DigitsLineEdit* edit : findChildren<DigitsLineEdit*>()) {
    connect(edit, &DigitsLineEdit::inputRefused, this, [this, edit](const QString& reason) {
      QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), reason, edit);
      mStatusBar->ShowNote(reason);
    });
  }
}

void OrvantaDlg::FitToScreen() {
  const QScreen* where = screen();
  if (where == nullptr) return;
  // Room for the window manager's frame and title bar.
  const QRect room = where->availableGeometry().adjusted(0, 0, -16, -48);
  const QSize wanted = sizeHint().expandedTo(minimumSizeHint());
  resize(std::min(wanted.width(), std::max(room.width(), minimumSizeHint().width())),
         std::min(wanted.height(), std::max(room.height(), minimumSizeHint().height())));
}

void OrvantaDlg::ShowConnectionState(const QString& title) {
  if (title == QString::fromLatin1(kConnectedTitle)) {
    mStatusBar->SetConnected(true, mServerName);
    services_.log.WriteLogEntry(kLogNotice, kConnectedLogText + mServerName);
  } else if (title == QString::fromLatin1(kDisconnectedTitle)) {
    mStatusBar->SetConnected(false, std::string());
  }
}

void OrvantaDlg::ReportRunEnded() {
  // A start that failed has been reported already.
  if (!mStatusBar->following()) return;
  // The worker logged the run's verdict when it ended; the bar shows it.
  const RunProgress progress = services_.trials.GetRunProgress();
  if (mStatusBar->IsThisRun(progress) && progress.state == RunProgress::State::kCompleted) {
    mStatusBar->RunEnded(RunEnd::kCompleted, progress.verdict.StatusText());
  } else if (mStatusBar->IsThisRun(progress) && progress.state == RunProgress::State::kFailed) {
    mStatusBar->RunEnded(RunEnd::kFailed, progress.failure);
  } else {
    mStatusBar->RunEnded(RunEnd::kStopped);
  }
}

void OrvantaDlg::OnStartAtTrial() {
  if (RunInProgress()) {
    ShowRunRefusal(kStartAtDuringRunMessage);
    return;
  }
  // One line per trial of the order, numbered as the Trial List numbers it.
  const std::vector<int32_t> order = services_.deck.GetOrder();
  std::vector<std::string> lines;
  lines.reserve(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    Trial* trial = nullptr;
    const bool found = services_.trials.GetTrial(order[i], trial) == 0 && trial != nullptr;
    lines.push_back(FormatNumber(static_cast<int32_t>(i) + 1) + ".  " +
                    (found ? trial->GetName() : std::string("(no trial type)")));
  }
  if (lines.empty()) {
    ShowRunRefusal(kStartAtEmptyOrderMessage);
    return;
  }
  // After a stopped or failed run, the trial it ended at is offered.
  const RunProgress last = services_.trials.GetRunProgress();
  const bool cutShort =
      last.state == RunProgress::State::kStopped || last.state == RunProgress::State::kFailed;
  const int32_t suggested = cutShort && last.trial > 0 ? last.trial : 1;
  StartAtTrialDlg dialog(std::move(lines), suggested, this);
  if (dialog.exec() != QDialog::Accepted) return;
  StartRun(dialog.GetTrial());
}

}  // namespace orvanta
