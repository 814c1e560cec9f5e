// The main window: the trial type editor, the trial order and run controls,
// the message log and the menu bar.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/app_seams.h"
#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/window_listener.h"

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenuBar;
class QPushButton;

namespace orvanta {

class CardDeck;
class ConfigFileProcessor;
class LogFile;
class MessageLogList;
class RunStatusBar;
class Trial;
class TrialContainer;
class WindowRecords;

// Caption of the window's editing, type-list and connection error boxes.
inline constexpr const char kTrialTypePropertiesError[] = "Trial Type Properties Error";
inline constexpr const char kEmptyFieldMessage[] =
    "Unable to set new value, this field cannot be empty.  The previous value was not changed.";
// Caption of the run's own boxes (refused Start, completion, refusals during
// a run).
inline constexpr const char kTrialProcessingCaption[] = "Trial Processing";
inline constexpr const char kNotConnectedMessage[] =
    "Unable to process trials, a connection to Quorvin has not been established";
inline constexpr const char kEmptyRunMessage[] =
    "Unable to process trials, the trial order is empty.  Add trial types with a Trial Count "
    "above 0 first.";
// What the window refuses while trials are being processed, because it would
// change the order the run is dealing from.
inline constexpr const char kShuffleTypeDuringRunMessage[] =
    "Unable to change the shuffle type while trials are being processed.  The trial order of "
    "the run was not changed.  Stop the run first.";
inline constexpr const char kOpenDuringRunMessage[] =
    "Unable to open a configuration file while trials are being processed.  The setup of the "
    "run was not changed.  Stop the run first, then open the file again.";
inline constexpr const char kConnectedTitle[] = "Orvanta - Connected To Server";
inline constexpr const char kDisconnectedTitle[] = "Orvanta - Disconnected From Server";
// The client's own log, beside the application log.
inline constexpr const char kClientLogFileName[] = "VintraClientLog.txt";
inline constexpr const char kSaveFailedCaption[] = "Save Current Settings to File Failed";
inline constexpr const char kSaveWarningCaption[] = "Save Current Settings to File";

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
  // The program-wide objects and seams the window uses; none is owned.
  struct Services {
    LogFile& log;
    TrialContainer& trials;
    CardDeck& deck;
    ConfigFileProcessor& config;
    MessageBoxes& boxes;
    FileChooser& files;
    MainWindowRef& mainWindow;
    ServerLink& server;
    // The start-up working directory with its trailing separator; the log
    // file "OrvantaLogFile.txt" goes there.
    std::string applicationDirectory;
  };

  // The System Message Log keeps at most this many entries.
  static constexpr int kMaxLogEntries = 199;

  explicit OrvantaDlg(const Services& services, QWidget* parent = nullptr);
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

  // The editor (window thread).
  void UpdateTrialProperties(const std::string& name);
  void ChangeTrialTypeName(const std::string& currentName, const std::string& newName);
  void OnAddType();
  void OnRemoveType();
  void OnTrialTypeSelected();
  void OnBrowseWavFile();

  // The trial order and shuffle controls (window thread).
  void UpdateTrialList();
  void UpdateShuffleControls();
  // Shows the trial list's timing tolerance in its field.
  void ShowTimingTolerance();
  // The tolerance field was edited: a number applies from the next run; an
  // empty field gets the tolerance in force back.
  void OnTimingToleranceChanged();
  void OnShuffle();
  void OnShuffleTypeChanged();
  void OnMaxConsecutiveChanged();

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
  const std::string& currentTrialName() const { return mCurrentTrialName; }
  int32_t nextTrialTypeNumber() const { return mNextTrialTypeNumber; }
  const std::string& serverName() const { return mServerName; }
  const std::string& lastMessage() const { return mMessage; }
  bool isInitialised() const { return mInitialised; }
  bool isPaused() const { return mPaused; }
  // Between Start and the end of the run, as the controls show it.
  bool isRunning() const { return mRunning; }

  // The status bar with the connection, the run's state and progress.
  RunStatusBar* runStatusBar() const { return mStatusBar; }

  // Runs OnInitDialog before the window is first shown.
  void setVisible(bool visible) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // One text or digits field of the editor and what it edits.
  struct EditField {
    enum class Kind { kName, kTrialCount, kNumber, kText, kMaxConsecutive };
    Kind kind;
    QLineEdit* edit;
    QLabel* label;
    int32_t (Trial::*getNumber)() const = nullptr;
    void (Trial::*setNumber)(int32_t) = nullptr;
    std::string (Trial::*getText)() const = nullptr;
    void (Trial::*setText)(const std::string&) = nullptr;
    bool allowEmpty = false;
  };
  // One check box and the fields it governs.
  struct CheckGroup {
    QCheckBox* check;
    bool (Trial::*get)() const;
    void (Trial::*set)(bool);
    std::vector<EditField*> governed;
    QPushButton* governedButton = nullptr;  // Browse
  };
  // A listener call waiting for the window thread.
  struct PendingCall {
    enum class Kind { kAddType, kRemoveType, kTrialNumber, kStop, kRunEnding };
    Kind kind;
    std::string name;
    int number = 0;
  };
  class KeyboardFilter;
  class CommitBlock;
  class BusyScope;

  void BuildControls();
  // The status bar, the "Show details" toggle and the notes of refused
  // keystrokes (orvanta_dlg_progress.cpp).
  void BuildStatusAndLogControls(QLayout* logLayout);
  bool CreateMenuBar();
  // New Setup, Exit, the Run menu and the shortcuts (orvanta_dlg_setup.cpp).
  void AddMenuAdditions();
  EditField* AddEditField(EditField::Kind kind, QLineEdit* edit, QLabel* label);
  void ClearTrialProperties();
  void ShowCheckGroup(const CheckGroup& group, const Trial& trial);
  void ShowField(const EditField& field, const Trial& trial);
  void EmptyField(const EditField& field);

  // Commits (on focus loss and Enter).
  void CommitField(QLineEdit* edit);
  void CommitTrialField(const EditField& field);
  void CommitTrialCount(const EditField& field);
  void CommitName(const EditField& field);
  void OnCheckBoxClicked(const CheckGroup& group);

  // Error boxes: the text goes to mMessage first.
  void ShowError(const std::string& text);
  // The box of a commit: shown once the focus change or key that caused the
  // commit is over, then `field` gets the focus back.
  void ShowErrorAfterCommit(const std::string& text, QLineEdit* field);

  // The queued listener calls, run on the window thread.
  void Post(PendingCall call);
  void FlushPending();
  void ShowAddedTrialType(const std::string& name);
  void ShowRemovedTrialType(const std::string& name);
  void AppendLogLines(const std::deque<std::string>& lines);
  void ShowCurrentTrialNumber(int number);
  void StopRunControls();
  // Finishes a Stop whose worker outlasted the wait, once it has ended.
  void FinishStopWhenEnded();

  void SetSelectedTrialTypeRow(int row);

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
  // A value typed beyond a digits field's range: the error box, the
  // previous value back in the field. True when `text` was refused.
  bool RefuseOverRange(QLineEdit* edit, const std::string& text, const std::string& previous);
  // After a shuffle that could not keep the consecutive-type limit, or (not
  // `afterShuffle`) an opened setup whose order breaks it.
  void ShowShuffleWarning(bool afterShuffle = true);
  // After a Trial Count change whose order breaks the limit: a WARNING and a
  // note in the status bar.
  void NoteRunLimitBreaks();
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
  // Shows `text` in the run's own box, stored in mMessage first.
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

  Services services_;
  WindowRecords* mRecords = nullptr;
  // The record the run being started continues (set by Resume for its start).
  std::string mResumeFrom;

  // Members of the window, as the rest of the program knows them.
  QIcon mIcon;
  QMenuBar* mMenu = nullptr;
  std::string mMessage;
  int32_t mNextTrialTypeNumber = 1;
  std::string mCurrentTrialName;
  bool mPaused = false;
  std::string mServerName = "localhost";

  bool mInitialised = false;
  bool mRunning = false;              // between Start and the end of the run
  int mCommitBlock = 0;               // > 0 while the program itself changes the fields
  int mBusy = 0;                      // > 0 while the window waits for a blocking call
  bool mCloseDeferred = false;        // a close request came in while busy
  int mServerWaits = 0;               // > 0 while a cancellable server wait runs
  bool mClosing = false;              // a close request cancelled a server wait
  bool mLinkUp = false;               // the title says connected
  bool mLinkLost = false;             // the connection was found lost and not yet closed
  bool mStopPending = false;          // a Stop waits for its worker to end
  bool mServerWaitCancelled = false;  // the last server wait was cancelled
  KeyboardFilter* mKeyboardFilter = nullptr;

  // Controls (owned by the Qt parent chain).
  QComboBox* mShuffleTypeCombo = nullptr;
  QPushButton* mShuffleButton = nullptr;
  QLabel* mMaxConsecutiveLabel = nullptr;
  QLineEdit* mMaxConsecutiveEdit = nullptr;
  QListWidget* mTrialList = nullptr;
  QLabel* mCurrentTrialNumberText = nullptr;
  // The timing tolerance of the next run, in milliseconds.
  QLineEdit* mTimingToleranceEdit = nullptr;
  QPushButton* mStartButton = nullptr;
  QPushButton* mPauseButton = nullptr;
  QPushButton* mStopButton = nullptr;
  QListWidget* mTrialTypeList = nullptr;
  QPushButton* mAddTypeButton = nullptr;
  QPushButton* mRemoveTypeButton = nullptr;
  QPushButton* mBrowseButton = nullptr;
  MessageLogList* mMessageLog = nullptr;
  QCheckBox* mShowDetailsCheck = nullptr;
  RunStatusBar* mStatusBar = nullptr;
  // The setup lines as last opened, saved or cleared (see MarkSetupSaved).
  std::string mSavedSetup;

  // Editor fields in refresh order (a deque: the pointers below stay valid).
  std::deque<EditField> mFields;
  EditField* mNameField = nullptr;
  EditField* mTrialCountField = nullptr;
  EditField* mTrialDurationField = nullptr;
  EditField* mInterTrialIntervalField = nullptr;
  EditField* mMaxConsecutiveField = nullptr;
  std::vector<CheckGroup> mCheckGroups;  // start event, start pulse, end event, end pulse, wav

  // Listener calls handed over from any thread. A leaf lock: nothing else is
  // called while it is held.
  Mutex mPendingMutex;
  std::vector<PendingCall> mPendingCalls GUARDED_BY(mPendingMutex);
  std::deque<std::string> mPendingLogLines GUARDED_BY(mPendingMutex);
  bool mFlushPosted GUARDED_BY(mPendingMutex) = false;
};

}  // namespace orvanta
