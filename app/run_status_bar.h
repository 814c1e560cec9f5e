// The window's status bar: the connection, the run's state, trial n of N,
// and the elapsed and remaining time of a run by the nominal durations of
// its trials. During a run it reads the trial list's progress snapshot a few
// times a second from a timer on the window thread, so the worker is never
// held up. Short notes (a refused keystroke) show on its left for a while.
#pragma once

#include <QStatusBar>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trials/run_progress.h"

class QLabel;

namespace orvanta {

// How a run ended, as the status bar shows it.
enum class RunEnd { kCompleted, kStopped, kFailed };

// Window thread only.
class RunStatusBar : public QStatusBar {
  Q_OBJECT
 public:
  // How often the progress is read during a run.
  static constexpr int kRefreshMs = 250;

  // `progress` reads the trial list's snapshot; it must stay callable while
  // the bar exists.
  explicit RunStatusBar(std::function<RunProgress()> progress, QWidget* parent = nullptr);

  // "Not connected", or "Connected to NAME".
  void SetConnected(bool connected, const std::string& serverName);

  // A run is about to be started at `firstTrial` of an order whose trials
  // last `lengths` (ms, nominal, one per trial): shows "Running" and follows
  // the run until RunEnded. Call it just before the run is started, so that
  // a snapshot of an earlier run is told apart. A note of an earlier run
  // (its failure) goes.
  void RunStarted(int32_t firstTrial, std::vector<int64_t> lengths);
  // The run has ended: "Completed" (or, given, the verdict's status text
  // such as "Completed: timing outside tolerance"), "Stopped", or "Failed"
  // with `reason` (kept in the state's tooltip and shown as a note; without a reason an earlier
  // note goes). The last trial and the elapsed time stay.
  void RunEnded(RunEnd outcome, const std::string& reason = std::string());
  bool following() const { return timer_.isActive(); }
  // Forgets the last run (a new or another setup): its state, trial, times
  // and notes go; the connection stays.
  void ClearRun();
  // True when `progress` is that of the run last started here.
  bool IsThisRun(const RunProgress& progress) const {
    return progress.state != RunProgress::State::kIdle && progress.runStart >= startedAt_;
  }

  // Reads the snapshot now and shows it (the timer does this during a run).
  void Refresh();

  // A note on the left for `ms` milliseconds.
  void ShowNote(const QString& text, int ms = 5000) { showMessage(text, ms); }

  // The texts shown, for the program's own checks and tests.
  QString connectionText() const;
  QString stateText() const;
  QString trialText() const;
  QString elapsedText() const;
  QString remainingText() const;

 private:
  std::function<RunProgress()> progress_;
  QTimer timer_;
  std::vector<int64_t> lengths_;
  bool ended_ = false;
  std::chrono::steady_clock::time_point startedAt_;
  QLabel* connection_;
  QLabel* state_;
  QLabel* trial_;
  QLabel* elapsed_;
  QLabel* remaining_;
};

}  // namespace orvanta
