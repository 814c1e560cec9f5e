#include "app/run_status_bar.h"

#include <QLabel>

#include <utility>

namespace orvanta {
namespace {

QLabel* Section(QStatusBar* bar, const char* name, int minimumWidth) {
  auto* label = new QLabel;
  label->setObjectName(QString::fromLatin1(name));
  label->setMinimumWidth(minimumWidth);
  label->setContentsMargins(6, 0, 6, 0);
  bar->addPermanentWidget(label);
  return label;
}

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

RunStatusBar::RunStatusBar(std::function<RunProgress()> progress, QWidget* parent)
    : QStatusBar(parent), progress_(std::move(progress)) {
  setObjectName(QStringLiteral("runStatusBar"));
  setSizeGripEnabled(true);
  connection_ = Section(this, "statusConnection", 120);
  state_ = Section(this, "statusRunState", 80);
  trial_ = Section(this, "statusTrial", 110);
  elapsed_ = Section(this, "statusElapsed", 110);
  remaining_ = Section(this, "statusRemaining", 130);
  SetConnected(false, std::string());
  timer_.setInterval(kRefreshMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
}

void RunStatusBar::SetConnected(bool connected, const std::string& serverName) {
  connection_->setText(connected ? QStringLiteral("Connected to ") + FromUtf8(serverName)
                                 : QStringLiteral("Not connected"));
}

void RunStatusBar::RunStarted(int32_t firstTrial, std::vector<int64_t> lengths) {
  lengths_ = std::move(lengths);
  ended_ = false;
  clearMessage();
  startedAt_ = std::chrono::steady_clock::now();
  state_->setText(QStringLiteral("Running"));
  state_->setToolTip(QString());
  const int32_t numTrials = static_cast<int32_t>(lengths_.size());
  trial_->setText(QStringLiteral("Trial %1 of %2").arg(firstTrial).arg(numTrials));
  elapsed_->setText(QStringLiteral("Elapsed 0:00"));
  remaining_->setText(QStringLiteral("Remaining ") +
                      FromUtf8(FormatRunDuration(RemainingRunMs(lengths_, firstTrial, 0))));
  timer_.start();
}

void RunStatusBar::RunEnded(RunEnd outcome, const std::string& reason) {
  if (!ended_) Refresh();  // the last trial and time
  timer_.stop();
  ended_ = true;
  switch (outcome) {
    case RunEnd::kCompleted:
      // A qualified verdict ("completed with timing outside tolerance")
      // shows whole, never as a plain "Completed".
      state_->setText(reason.empty() ? QStringLiteral("Completed") : FromUtf8(reason));
      remaining_->setText(QStringLiteral("Remaining 0:00"));
      break;
    case RunEnd::kStopped:
      state_->setText(QStringLiteral("Stopped"));
      break;
    case RunEnd::kFailed:
      state_->setText(QStringLiteral("Failed"));
      break;
  }
  state_->setToolTip(FromUtf8(reason));
  if (outcome == RunEnd::kFailed && !reason.empty()) {
    ShowNote(QStringLiteral("Run failed: ") + FromUtf8(reason), 15000);
  } else {
    clearMessage();
  }
}

void RunStatusBar::ClearRun() {
  timer_.stop();
  ended_ = true;
  lengths_.clear();
  for (QLabel* section : {state_, trial_, elapsed_, remaining_}) {
    section->clear();
    section->setToolTip(QString());
  }
  clearMessage();
}

void RunStatusBar::Refresh() {
  if (ended_ || !progress_) return;
  const RunProgress progress = progress_();
  const auto now = std::chrono::steady_clock::now();
  // A snapshot of an earlier run: the worker has not reported this one yet.
  if (progress.state == RunProgress::State::kIdle || progress.runStart < startedAt_) return;
  switch (progress.state) {
    case RunProgress::State::kPaused:
      state_->setText(QStringLiteral("Paused"));
      break;
    case RunProgress::State::kCompleted:  // in its completion box
      state_->setText(FromUtf8(progress.verdict.StatusText()));
      break;
    case RunProgress::State::kStopped:
      state_->setText(QStringLiteral("Stopped"));
      break;
    case RunProgress::State::kFailed:  // in its failure box
      state_->setText(QStringLiteral("Failed"));
      break;
    default:
      state_->setText(QStringLiteral("Running"));
      break;
  }
  const int32_t trial = progress.trial > 0 ? progress.trial : progress.firstTrial;
  trial_->setText(QStringLiteral("Trial %1 of %2").arg(trial).arg(progress.numTrials));
  elapsed_->setText(QStringLiteral("Elapsed ") +
                    FromUtf8(FormatRunDuration(progress.ElapsedMs(now))));
  const int64_t inTrial =
      progress.trial > 0
          ? std::chrono::duration_cast<std::chrono::milliseconds>(now - progress.trialStart).count()
          : 0;
  remaining_->setText(QStringLiteral("Remaining ") +
                      FromUtf8(FormatRunDuration(RemainingRunMs(lengths_, trial, inTrial))));
}

QString RunStatusBar::connectionText() const { return connection_->text(); }
QString RunStatusBar::stateText() const { return state_->text(); }
QString RunStatusBar::trialText() const { return trial_->text(); }
QString RunStatusBar::elapsedText() const { return elapsed_->text(); }
QString RunStatusBar::remainingText() const { return remaining_->text(); }

}  // namespace orvanta
