// The run side of the main window ("Trial List Properties"): the shuffle
// type, Shuffle and the consecutive-type limit, the Trial List (the order of
// the run), the current trial number, the timing tolerance of the next run,
// Start, Pause / Resume and Stop, and the status bar (the window places the
// bar at its foot). Start, Pause, Stop and a shuffle type choice go to the
// window, which knows whether a run is going; the panel shows the state the
// window tells it.
//
// Owner: OrvantaDlg (Qt parent; the status bar is the window's child once
// placed). Thread: the window thread.
#pragma once

#include <QGroupBox>

#include <cstdint>

class QBoxLayout;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace orvanta {

class CardDeck;
class EditRules;
class LogFile;
class MessageBoxes;
class RunStatusBar;
class TrialContainer;

class RunPanel : public QGroupBox {
  Q_OBJECT

 public:
  // Every argument outlives the panel.
  RunPanel(TrialContainer& trials, CardDeck& deck, LogFile& log, EditRules& rules,
           QWidget* parent = nullptr);

  // Start-up: the shuffle types (Group chosen), the deck's settings, Start
  // enabled, Pause and Stop disabled, trial number 0.
  void Init();
  // The Trial List as the deck's order, numbered from 1.
  void UpdateTrialList();
  // The deck's shuffle type and limit, and the trial list's tolerance.
  void UpdateShuffleControls();
  // Applies the shuffle type chosen in the combo (the window has made sure
  // no run is going).
  void ApplyShuffleType();
  void ShowCurrentTrialNumber(int number);
  // After a shuffle that could not keep the consecutive-type limit, or (not
  // `afterShuffle`) an opened setup whose order breaks it.
  void ShowShuffleWarning(bool afterShuffle = true);
  // After a Trial Count change whose order breaks the limit: a WARNING and a
  // note in the status bar.
  void NoteRunLimitBreaks();

  // The run's controls: running (Start off, Pause and Stop on, Shuffle off),
  // a Stop waiting for its worker (Pause and Stop off), idle.
  void ShowRunning();
  void ShowStopping();
  void ShowIdle();
  void ShowPaused(bool paused);

  RunStatusBar* statusBar() const { return statusBar_; }

 signals:
  void startClicked();
  void pauseClicked();
  void stopClicked();
  void shuffleTypeChosen();

 private:
  void BuildShuffleRow(QBoxLayout* layout);
  void BuildNumberRow(QBoxLayout* layout);
  void ShowTimingTolerance();
  void CommitTimingTolerance();
  void CommitMaxConsecutive();
  void Shuffle();

  TrialContainer& trials_;
  CardDeck& deck_;
  LogFile& log_;
  EditRules& rules_;

  QComboBox* shuffleType_ = nullptr;
  QPushButton* shuffle_ = nullptr;
  QLabel* maxConsecutiveLabel_ = nullptr;
  QLineEdit* maxConsecutive_ = nullptr;
  QListWidget* trialList_ = nullptr;
  QLabel* currentTrialNumber_ = nullptr;
  QLineEdit* timingTolerance_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* stop_ = nullptr;
  RunStatusBar* statusBar_ = nullptr;
};

}  // namespace orvanta
