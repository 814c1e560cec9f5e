// The main window's menu commands, its two small dialogs and its waits for
// the server client.
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "app/digits.h"
#include "app/orvanta_dlg.h"
#include "app/run_status_bar.h"
#include "app/server_wait_dialog.h"
#include "app/small_dialogs.h"
#include "app/window_records.h"
#include "app/window_wait.h"
#include "log/log_file.h"
#include "script/config_file_processor.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

constexpr const char kConfigurationFilter[] = "Configuration Files (*.cfg)|*.cfg||";
constexpr const char kConfigurationSaveFilter[] = "Configuration Files (*.cfg)|*.cfg|";
// How long a wait for the server runs before its dialog shows.
constexpr int kServerWaitDialogDelayMs = 300;

}  // namespace

// Marks a wait of the window: a close request that arrives meanwhile is
// carried out once the outermost wait is over.
class OrvantaDlg::BusyScope {
 public:
  explicit BusyScope(OrvantaDlg* dialog) : dialog_(dialog) { ++dialog_->mBusy; }
  ~BusyScope() {
    if (--dialog_->mBusy == 0) dialog_->FinishBusy();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  OrvantaDlg* dialog_;
};

void OrvantaDlg::FinishBusy() {
  if (!mCloseDeferred) return;
  mCloseDeferred = false;
  QTimer::singleShot(0, this, [this] {
    if (isVisible()) close();
  });
}

bool OrvantaDlg::WaitForServer(const std::string& text, const std::function<bool()>& call) {
  BusyScope busy(this);
  ++mServerWaits;
  mServerWaitCancelled = false;
  ServerLink& server = services_.server;
  const bool result = RunWithServerWaitDialog(this, QString::fromUtf8(text.c_str()),
                                              kServerWaitDialogDelayMs, call, [this, &server] {
                                                mServerWaitCancelled = true;
                                                server.Cancel();
                                              });
  --mServerWaits;
  return result;
}

bool OrvantaDlg::ServerIsConnected() {
  ServerLink& server = services_.server;
  const bool connected = WaitForServer("Checking the connection to " + mServerName + "\u2026",
                                       [&server] { return server.IsConnected(); });
  // A check the user cancelled says nothing about the connection.
  if (!connected && mLinkUp && !mServerWaitCancelled && !mClosing) {
    MarkConnectionLost("the connection check got no reply");
  }
  return connected;
}

bool OrvantaDlg::ServerConnect(const std::string& name) {
  ServerLink& server = services_.server;
  return WaitForServer("Connecting to " + name + "\u2026",
                       [&server, &name] { return server.ConnectToServer(name, true); });
}

bool OrvantaDlg::ServerDisconnect() {
  ServerLink& server = services_.server;
  return WaitForServer("Disconnecting from " + mServerName + "\u2026",
                       [&server] { return server.DisconnectFromServer(); });
}

void OrvantaDlg::MarkConnectionLost(const std::string& reason) {
  if (!mLinkUp) return;
  mLinkUp = false;
  mLinkLost = true;
  services_.log.WriteLogEntry(kLogWarning,
                              "OrvantaDlg::MarkConnectionLost() - Warning, the connection to the "
                              "server has been lost: " +
                                  reason + ".  Disconnect or connect again.");
  setWindowTitle(QString::fromLatin1(kDisconnectedTitle));
}

void OrvantaDlg::CheckConnectionAfterRun() {
  if (mLinkUp && !services_.server.ConnectionUsable()) {
    MarkConnectionLost("the run ended with the connection lost");
  }
}

// ---------------------------------------------------------------------------
// File menu

void OrvantaDlg::OnOpenConfigurationFile() {
  if (RunInProgress()) {
    // The file's commands would rebuild the deck the worker deals from.
    ShowRunRefusal(kOpenDuringRunMessage);
    return;
  }
  FileDialogOptions options;
  options.title = "Process Configuration File";
  options.filter = kConfigurationFilter;
  options.initialName = "*.cfg";
  options.defaultExtension = "cfg";
  const std::optional<std::string> path = services_.files.ChooseFileToOpen(options);
  if (!path) return;
  if (!AskAddOrReplace(*path)) return;
  // The last run's progress belongs to the setup it ran.
  mStatusBar->ClearRun();
  bool loaded = false;
  {
    WaitCursor cursor;
    // The runner reports its own failures (log, and a box for a load that
    // stopped early).
    loaded = services_.config.ProcessScript(*path) == 0;
  }
  // Records name the setup after the files it came from.
  if (mRecords != nullptr) mRecords->SetupLoaded(*path);
  UpdateTrialProperties(mCurrentTrialName);
  UpdateTrialList();
  UpdateShuffleControls();
  if (loaded) MarkSetupSaved();
  // An order that breaks the consecutive-type limit is not left unsaid.
  ShowShuffleWarning(false);
}

bool OrvantaDlg::AskAddOrReplace(const std::string& path) {
  const int32_t numTypes = services_.trials.GetNumTrials();
  if (numTypes == 0) return true;
  const std::string question =
      "The current setup has " + FormatNumber(numTypes) +
      (numTypes == 1 ? " trial type" : " trial types") + ".  Opening " + path +
      ".\r\n\r\nAdd to the current setup, or replace it?\r\n\r\nAdd applies the file on top of "
      "the current setup; Replace clears the current setup first.";
  switch (services_.boxes.Show(question, "Open Configuration File", BoxIcon::kQuestion,
                               BoxButtons::kAddReplaceCancel)) {
    case BoxResult::kAdd:
      return true;
    case BoxResult::kReplace:
      services_.config.ClearSetup();
      // The trial list's removals reach the window now, before the file adds.
      FlushPending();
      UpdateTrialProperties(std::string());
      mRemoveTypeButton->setEnabled(false);
      return true;
    default:
      return false;
  }
}

void OrvantaDlg::OnSaveConfigurationFile() {
  FileDialogOptions options;
  options.title = "Save Setup to Configuration File...";
  options.filter = kConfigurationSaveFilter;
  options.initialName = "Orvanta.cfg";
  options.defaultExtension = "cfg";
  // The chooser has the user confirm the overwrite of an existing file.
  const std::optional<std::string> path = services_.files.ChooseFileToSave(options);
  if (!path) return;
  SetupFileSaveResult result;
  {
    WaitCursor cursor;
    result = services_.config.SaveSetupFile(*path);
  }
  if (result.status != 0) {
    // The reason is in the log; the file that was there is unchanged.
    services_.boxes.Show("The application failed to save to: \r\n\r\n" + *path, kSaveFailedCaption,
                         BoxIcon::kError, BoxButtons::kOk);
    return;
  }
  MarkSetupSaved();
  if (!result.warnings.empty()) {
    std::string text = "The setup was saved to: \r\n\r\n" + *path +
                       "\r\n\r\nThese values will not read back the same when the file is "
                       "opened again:\r\n";
    for (const std::string& warning : result.warnings) {
      services_.log.WriteLogEntry(kLogWarning,
                                  "OrvantaDlg::OnSaveConfigurationFile() - Warning, " + warning);
      text += "\r\n" + warning;
    }
    services_.boxes.Show(text, kSaveWarningCaption, BoxIcon::kWarning, BoxButtons::kOk);
  }
}

void OrvantaDlg::OnViewLogFile() {
  // The opener may take a moment; the window keeps painting meanwhile.
  BusyScope busy(this);
  services_.log.ViewLogFile();
}

// ---------------------------------------------------------------------------
// Vintra menu

void OrvantaDlg::OnConnectToServer() {
  // A connection known to be lost is not asked again: it is replaced.
  const bool knownLost = !mLinkUp && services_.server.HasConnection();
  if (!knownLost && ServerIsConnected()) {
    ShowError("Error, unable to connect to server, a connection has already been established");
    return;
  }
  // A close request or the user cancelled the check: nothing more is done.
  if (mClosing || mServerWaitCancelled) return;
  if (ServerConnect(mServerName)) {
    mLinkUp = true;
    mLinkLost = false;
    setWindowTitle(QString::fromLatin1(kConnectedTitle));
    const std::string warnings = services_.server.ConnectWarnings();
    if (!warnings.empty()) {
      services_.log.WriteLogEntry(
          kLogWarning, "OrvantaDlg::OnConnectToServer() - Warning, connected to " + mServerName +
                           ", but " + warnings + ".");
    }
  } else {
    const std::string reason = services_.server.ConnectError();
    services_.log.WriteLogEntry(kLogError,
                                "OrvantaDlg::OnConnectToServer() - Error, unable to "
                                "connect to server " +
                                    mServerName + ": " +
                                    (reason.empty() ? "see the Vintra logfile" : reason));
    if (mClosing) return;
    std::string text =
        "Error, unable to connect to server, please check the Vintra logfile for details.";
    if (!reason.empty()) text += "\r\n\r\nThe reason: " + reason + ".";
    ShowError(text);
  }
}

void OrvantaDlg::OnDisconnectFromServer() {
  const bool knownLost = !mLinkUp && services_.server.HasConnection();
  if (!knownLost && ServerIsConnected()) {
    ServerDisconnect();
    mLinkUp = false;
    mLinkLost = false;
    setWindowTitle(QString::fromLatin1(kDisconnectedTitle));
  } else if (services_.server.HasConnection()) {
    // A dead connection: its socket and stream threads are torn down.
    ServerDisconnect();
    mLinkUp = false;
    mLinkLost = false;
    services_.log.WriteLogEntry(kLogNotice,
                                "OrvantaDlg::OnDisconnectFromServer() - The lost "
                                "connection has been closed.");
    setWindowTitle(QString::fromLatin1(kDisconnectedTitle));
  } else {
    if (mLinkLost) {
      // Already gone with the server: nothing is left to tear down.
      mLinkLost = false;
      setWindowTitle(QString::fromLatin1(kDisconnectedTitle));
      return;
    }
    ShowError("Error, unable to disconnect from server, a connection is not currently established");
  }
}

void OrvantaDlg::OnSetServerName() {
  VintraServerPropertiesDlg dialog(this);
  dialog.SetServerName(mServerName);
  dialog.SetReplyTimeoutMs(services_.server.ReplyTimeoutMs());
  dialog.SetMessageBoxes(&services_.boxes);
  if (dialog.exec() == QDialog::Accepted) {
    mServerName = dialog.GetServerName();
    services_.server.SetReplyTimeoutMs(dialog.GetReplyTimeoutMs());
  }
}

// ---------------------------------------------------------------------------
// Help menu

void OrvantaDlg::OnAbout() {
  CAboutDlg dialog(mIcon, this);
  dialog.exec();
}

}  // namespace orvanta
