// The main window's menu bar: File, View, Vintra, Run and Help with their
// names, command numbers and shortcuts. Each command is a signal, emitted
// once its menu has closed; every command stays available at all times, also
// during a run. Run > Fixed Schedule is carried out here: it sets the timing
// mode of the next run and shows the model's mode each time the menu opens.
//
// Owner: OrvantaDlg; the bar is a child of the window until Release.
// Thread: the window thread.
#pragma once

#include <QObject>

class QMenuBar;
class QWidget;

namespace orvanta {

class LogFile;
class TrialContainer;

class WindowMenu : public QObject {
  Q_OBJECT

 public:
  // Nothing is built yet; `trials` and `log` outlive the object.
  WindowMenu(TrialContainer& trials, LogFile& log, QWidget* window);

  // Builds the bar on `window`. False when a command could not be wired.
  bool Create();
  // The bar, or null before Create and after Release.
  QMenuBar* bar() const { return bar_; }
  // Frees the bar (the window's close request).
  void Release();

 signals:
  void openConfigurationFile();
  void saveConfigurationFile();
  void viewLogFile();
  void resumeSession();
  void chooseRecordsFolder();
  void viewLastSessionReport();
  void connectToServer();
  void disconnectFromServer();
  void setServerName();
  void about();
  void newSetup();
  void exit();
  void startAtTrial();

 private:
  // New Setup, Exit, Start at Trial... and the File shortcuts.
  void AddAdditions();
  void AddFixedSchedule();

  TrialContainer& trials_;
  LogFile& log_;
  QWidget* window_;
  QMenuBar* bar_ = nullptr;
};

}  // namespace orvanta
