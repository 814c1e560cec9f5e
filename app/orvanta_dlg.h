// The main window: the layout of its parts (the run panel, the trial type
// editor, the message log, the menu bar) and its mailbox, the queued
// hand-over of the listener calls that worker threads make. The commands
// that involve several parts or the server live here too, in files by job:
// orvanta_dlg_mailbox.cpp (listener calls), orvanta_dlg_run.cpp (Start,
// Pause, Stop), orvanta_dlg_server.cpp (connection, waits), orvanta_dlg_setup.cpp
// (setup files), window_records_menu.cpp (session records).
#pragma once

#include <QDialog>
#include <QIcon>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/app_seams.h"
#include "app/edit_rules.h"
#include "app/window_texts.h"
#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/window_listener.h"

class QKeyEvent;

namespace orvanta {

class LogPane;
class ProgramCore;
class RunPanel;
class RunStatusBar;
class TrialTypeEditor;
class WindowMenu;
class WindowRecords;

// The window lives on the application (window) thread; all of its operations
// run there, except the WindowListener calls, which any thread may make: they
// are queued to the window thread and return at once, so a caller never waits
// for the window, whatever locks it holds. Calls queued when the window is
// destroyed are dropped.
//
// Lifetime: every service outlives the window. The window unregisters itself
// from the MainWindowRef before it is destroyed, and stops a run in progress
// when it closes or is destroyed.
//
// Waiting: calls into the server client (the connection check, connect,
// disconnect) are bounded by the client's reply bound and run on a helper
// thread while the window keeps repainting and carrying out queued calls;
// after a moment a dialog shows what is awaited, the elapsed time and Cancel
// (RunWithServerWaitDialog). A close request that arrives meanwhile cancels
// the wait and is carried out afterwards. The desktop's opener is waited for
// with the user's input held back (RunWhileWindowWaits).
//
// The connection's state: the title says "Orvanta - Connected To Server"
// only while the window has no sign of trouble. A failed connection check,
// or a run that ended with the connection lost, logs a WARNING and sets the
// title to "Orvanta - Disconnected From Server" (before the run's end box
// shows); Disconnect then tears the dead connection down without complaint
// and Connect replaces it at once.
//
// Closing: Exit, Ctrl+Q and the close button ask before unsaved setup
// changes are lost and before a run in progress is stopped.
//
// During a run (from Start until Stop or the end of the run) the window keeps
// the order the worker deals from unchanged: Shuffle, Add Type, Remove Type
// and Trial Count are disabled, and a Shuffle Type change or the opening of a
// setup file is refused with a box. The fields of a type stay editable; the
// worker reads each value when its step uses it.
class OrvantaDlg : public QDialog, public WindowListener {
  Q_OBJECT

 public:
  // The System Message Log keeps at most this many entries.
  static constexpr int kMaxLogEntries = 199;

  // The program-wide objects come from `core`: its seams give the message
  // boxes and the window slot, and its application directory (read when the
  // window is first shown) is where the log file "OrvantaLogFile.txt" goes.
  // `files` and `server` are the window's own seams. None is owned; each
  // outlives the window.
  OrvantaDlg(ProgramCore& core, FileChooser& files, ServerLink& server, QWidget* parent = nullptr);
  OrvantaDlg(const OrvantaDlg&) = delete;
  OrvantaDlg& operator=(const OrvantaDlg&) = delete;
  ~OrvantaDlg() override;

  // Initialises the window once its controls exist: opens the log, attaches
  // the menu, sets the initial control state and the title. Runs by itself
  // when the window is first shown; later calls do nothing. Returns true.
  bool OnInitDialog();

  // The keyboard rule, applied to every key press aimed at this window
  // before the control sees it. Enter commits the focused field and keeps
  // the focus (it never presses a button or closes the window); Escape does
  // nothing; Tab and every other key are left to the normal handling.
  // Returns true when the key was consumed.
  bool PreTranslateMessage(QWidget* target, QKeyEvent* event);

  // The close request: stops a run in progress, disconnects from the server
  // if connected and frees the menu.
  void OnClose();
  // Asks before a close would stop a run or lose unsaved setup changes.
  // True when the window may close.
  bool ConfirmClose();

  // The run controls (window thread): the Start and the Pause / Resume
  // buttons. The Stop button is OnStop, below.
  void OnStart();
  void OnPause();
  // Run > Start at Trial...: asks for a trial of the current order, then
  // starts the run there as Start does (same checks, same boxes).
  void OnStartAtTrial();
  // A shuffle type chosen: refused during a run, else applied.
  void OnShuffleTypeChanged();

  // The menu commands (window thread).
  void OnOpenConfigurationFile();
  void OnSaveConfigurationFile();
  void OnViewLogFile();
  // The session records (window_records_menu.cpp); without SetSessionRecords
  // they do nothing.
  void OnResumeSession();
  void OnChooseRecordsFolder();
  void OnViewLastSessionReport();
  // Each run started from the window then leaves a session record. Not
  // owned; set before the window is shown.
  void SetSessionRecords(WindowRecords* records) { mRecords = records; }
  void OnConnectToServer();
  void OnDisconnectFromServer();
  void OnSetServerName();
  void OnAbout();
  // File > New Setup: clears the trial types, the deck and the order, after
  // a confirmation when unsaved changes would be lost. Refused during a run.
  void OnNewSetup();
  // File > Exit: closes the window as its close button does.
  void OnExit();

  // The parts' views, for the commands above and the program's own checks.
  void UpdateTrialProperties(const std::string& name);
  void ChangeTrialTypeName(const std::string& currentName, const std::string& newName);
  void UpdateTrialList();
  void UpdateShuffleControls();

  // WindowListener: any thread, never blocks.
  void AddTrialTypeToList(const std::string& name) override;
  void RemoveTrialTypeFromList(const std::string& name) override;
  void AddLogMessage(const std::string& line) override;
  void SetCurrentTrialNumber(int number) override;
  // The Stop button, and the worker's call at the end of a run: stops the
  // worker (nothing happens when no run is going) and returns the controls
  // to their idle state. On the window thread this happens at once (and may
  // wait up to about half a second for the worker to end); from any other
  // thread it is queued like the other listener calls.
  void OnStop() override;
  // The worker's call just before its end box: queued like the others.
  void OnRunEnding() override;

  // Window state, for the program's own checks and tests.
  const std::string& currentTrialName() const;
  int32_t nextTrialTypeNumber() const;
  const std::string& serverName() const { return mServerName; }
  const std::string& lastMessage() const { return mEditRules.lastMessage(); }
  bool isInitialised() const { return mInitialised; }
  bool isPaused() const { return mPaused; }
  // Between Start and the end of the run, as the controls show it.
  bool isRunning() const { return mRunning; }

  // The status bar with the connection, the run's state and progress.
  RunStatusBar* runStatusBar() const;

  // Runs OnInitDialog before the window is first shown.
  void setVisible(bool visible) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // A listener call waiting for the window thread.
  struct PendingCall {
    enum class Kind { kAddType, kRemoveType, kTrialNumber, kStop, kRunEnding };
    Kind kind;
    std::string name;
    int number = 0;
  };
  class KeyboardFilter;
  class BusyScope;

  // The parts and their wiring.
  void BuildParts();
  // The window's tight margins, the status bar and the notes of refused
  // keystrokes.
  void FinishLayout();
  bool CreateMenuBar();

  // Error boxes of the editor's caption; the text becomes the last message.
  void ShowError(const std::string& text);

  // The queued listener calls, run on the window thread.
  void Post(PendingCall call);
  void FlushPending();
  void StopRunControls();
  // Finishes a Stop whose worker outlasted the wait, once it has ended.
  void FinishStopWhenEnded();

  // Starts a run at `firstTrial` (1-based) of the order: the Start button's
  // work.
  void StartRun(int32_t firstTrial);
  // Tells the status bar (and the log, for a completed run) how the run
  // that is being returned to idle ended.
  void ReportRunEnded();
  // Sizes the window to its natural size, or to the screen when that is
  // smaller.
  void FitToScreen();
  // Follows the window title, where the connection state is shown.
  void ShowConnectionState(const QString& title);
  // The setup as last opened, saved or cleared, to tell unsaved changes.
  void MarkSetupSaved();
  // The setup has trial types and changes since it was last opened, saved or
  // cleared.
  bool HasUnsavedChanges();
  // Asks "Add to the current setup, or replace it?" before a setup file is
  // opened over trial types; Replace clears the setup. False on Cancel.
  bool AskAddOrReplace(const std::string& path);

  // A run is going: the window's run state, or the worker still dealing.
  bool RunInProgress() const;
  // Shows `text` in the run's own box; it becomes the last message.
  void ShowRunRefusal(const std::string& text);

  // The server client's calls, carried out while the window keeps painting.
  bool ServerIsConnected();
  bool ServerConnect(const std::string& name);
  bool ServerDisconnect();
  // Runs one of the above on a helper thread with the wait dialog.
  bool WaitForServer(const std::string& text, const std::function<bool()>& call);
  // The connection was found lost: WARNING, title "Orvanta". Once per loss.
  void MarkConnectionLost(const std::string& reason);
  // After a run: a connection that can no longer be used is marked lost.
  void CheckConnectionAfterRun();
  // Starts a close that arrived while the window was waiting.
  void FinishBusy();
  // The start trigger wants the server's objects: once per connection, when
  // connected and no run is going, they are asked for (queued, then with
  // the wait dialog) and handed to the editor.
  void ListServerObjects();
  // Disconnected: the editor's object list goes; the next connection asks
  // again.
  void ForgetServerObjects();

  ProgramCore& mCore;
  FileChooser& mFiles;
  ServerLink& mServer;
  WindowRecords* mRecords = nullptr;
  // The record the run being started continues (set by Resume for its start).
  std::string mResumeFrom;

  QIcon mIcon;
  // The rules of the fields of every part; declared before the parts are
  // made, it goes before the controls do.
  EditRules mEditRules;
  bool mPaused = false;
  std::string mServerName = "localhost";

  bool mInitialised = false;
  bool mRunning = false;              // between Start and the end of the run
  int mBusy = 0;                      // > 0 while the window waits for a blocking call
  bool mCloseDeferred = false;        // a close request came in while busy
  int mServerWaits = 0;               // > 0 while a cancellable server wait runs
  bool mClosing = false;              // a close request cancelled a server wait
  bool mLinkUp = false;               // the title says connected
  bool mLinkLost = false;             // the connection was found lost and not yet closed
  bool mStopPending = false;          // a Stop waits for its worker to end
  bool mServerWaitCancelled = false;  // the last server wait was cancelled
  bool mObjectsListed = false;        // this connection's objects were asked for
  bool mObjectsQueued = false;        // a request for them waits in the queue
  KeyboardFilter* mKeyboardFilter = nullptr;

  // The parts (owned by the Qt parent chain).
  WindowMenu* mMenu = nullptr;
  RunPanel* mRunPanel = nullptr;
  TrialTypeEditor* mEditor = nullptr;
  LogPane* mLogPane = nullptr;
  // The setup lines as last opened, saved or cleared (see MarkSetupSaved).
  std::string mSavedSetup;

  // Listener calls handed over from any thread. A leaf lock: nothing else is
  // called while it is held.
  Mutex mPendingMutex;
  std::vector<PendingCall> mPendingCalls GUARDED_BY(mPendingMutex);
  std::deque<std::string> mPendingLogLines GUARDED_BY(mPendingMutex);
  bool mFlushPosted GUARDED_BY(mPendingMutex) = false;
};

}  // namespace orvanta
