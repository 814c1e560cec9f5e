// The main window's connection to the server (Vintra > Connect, Disconnect,
// Set Server Name), the waits for the server client and the desktop's
// opener, the connection state in the title, and Help > About.
#include <QApplication>
#include <QTimer>

#include "app/message_log_list.h"
#include "app/orvanta_dlg.h"
#include "app/run_status_bar.h"
#include "app/server_wait_dialog.h"
#include "app/small_dialogs.h"
#include "app/trial_type_editor.h"
#include "app/window_wait.h"
#include "core/program_core.h"
#include "log/log_file.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

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
  ServerLink& server = mServer;
  const bool result = RunWithServerWaitDialog(this, QString::fromUtf8(text.c_str()),
                                              kServerWaitDialogDelayMs, call, [this, &server] {
                                                mServerWaitCancelled = true;
                                                server.Cancel();
                                              });
  --mServerWaits;
  return result;
}

bool OrvantaDlg::ServerIsConnected() {
  ServerLink& server = mServer;
  const bool connected = WaitForServer("Checking the connection to " + mServerName + "\u2026",
                                       [&server] { return server.IsConnected(); });
  // A check the user cancelled says nothing about the connection.
  if (!connected && mLinkUp && !mServerWaitCancelled && !mClosing) {
    MarkConnectionLost("the connection check got no reply");
  }
  return connected;
}

bool OrvantaDlg::ServerConnect(const std::string& name) {
  ServerLink& server = mServer;
  return WaitForServer("Connecting to " + name + "\u2026",
                       [&server, &name] { return server.ConnectToServer(name, true); });
}

bool OrvantaDlg::ServerDisconnect() {
  ServerLink& server = mServer;
  return WaitForServer("Disconnecting from " + mServerName + "\u2026",
                       [&server] { return server.DisconnectFromServer(); });
}

void OrvantaDlg::MarkConnectionLost(const std::string& reason) {
  if (!mLinkUp) return;
  mLinkUp = false;
  mLinkLost = true;
  mCore.log().WriteLogEntry(kLogWarning,
                            "OrvantaDlg::MarkConnectionLost() - Warning, the connection to the "
                            "server has been lost: " +
                                reason + ".  Disconnect or connect again.");
  setWindowTitle(QString::fromLatin1(kDisconnectedTitle));
}

void OrvantaDlg::CheckConnectionAfterRun() {
  if (mLinkUp && !mServer.ConnectionUsable()) {
    MarkConnectionLost("the run ended with the connection lost");
  }
}

void OrvantaDlg::ShowConnectionState(const QString& title) {
  if (title == QString::fromLatin1(kConnectedTitle)) {
    runStatusBar()->SetConnected(true, mServerName);
    mCore.log().WriteLogEntry(kLogNotice, kConnectedLogText + mServerName);
    if (mEditor->triggerInUse()) ListServerObjects();
  } else if (title == QString::fromLatin1(kDisconnectedTitle)) {
    runStatusBar()->SetConnected(false, std::string());
    ForgetServerObjects();
  }
}

void OrvantaDlg::ListServerObjects() {
  if (!mLinkUp || mObjectsListed || mObjectsQueued) return;
  // Queued: the editor asks while it shows a type.
  mObjectsQueued = true;
  QTimer::singleShot(0, this, [this] {
    mObjectsQueued = false;
    // During a run the exchanges are the worker's; a later showing asks.
    if (!mLinkUp || mObjectsListed || mClosing || RunInProgress()) return;
    mObjectsListed = true;
    std::vector<std::string> names;
    ServerLink& server = mServer;
    const bool listed = WaitForServer("Listing the objects of " + mServerName + "\u2026",
                                      [&server, &names] { return server.ListObjects(names); });
    if (listed && mLinkUp) {
      mEditor->SetServerObjects(names);
    } else if (!listed) {
      mCore.log().WriteLogEntry(kLogWarning,
                                "OrvantaDlg::ListServerObjects() - Warning, the server did not "
                                "list its objects; the trigger's object is typed by hand.");
    }
  });
}

void OrvantaDlg::ForgetServerObjects() {
  mObjectsListed = false;
  mEditor->SetServerObjects({});
}

void OrvantaDlg::OnViewLogFile() {
  // The opener may take a moment; the window keeps painting meanwhile.
  BusyScope busy(this);
  mCore.log().ViewLogFile();
}

void OrvantaDlg::OnConnectToServer() {
  // A connection known to be lost is not asked again: it is replaced.
  const bool knownLost = !mLinkUp && mServer.HasConnection();
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
    const std::string warnings = mServer.ConnectWarnings();
    if (!warnings.empty()) {
      mCore.log().WriteLogEntry(
          kLogWarning, "OrvantaDlg::OnConnectToServer() - Warning, connected to " + mServerName +
                           ", but " + warnings + ".");
    }
  } else {
    const std::string reason = mServer.ConnectError();
    mCore.log().WriteLogEntry(kLogError,
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
  const bool knownLost = !mLinkUp && mServer.HasConnection();
  if (!knownLost && ServerIsConnected()) {
    ServerDisconnect();
    mLinkUp = false;
    mLinkLost = false;
    setWindowTitle(QString::fromLatin1(kDisconnectedTitle));
  } else if (mServer.HasConnection()) {
    // A dead connection: its socket and stream threads are torn down.
    ServerDisconnect();
    mLinkUp = false;
    mLinkLost = false;
    mCore.log().WriteLogEntry(kLogNotice,
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
  dialog.SetReplyTimeoutMs(mServer.ReplyTimeoutMs());
  dialog.SetMessageBoxes(&mCore.seams().boxes);
  if (dialog.exec() == QDialog::Accepted) {
    mServerName = dialog.GetServerName();
    mServer.SetReplyTimeoutMs(dialog.GetReplyTimeoutMs());
  }
}

// ---------------------------------------------------------------------------
// Help menu

void OrvantaDlg::OnAbout() {
  CAboutDlg dialog(mIcon, this);
  dialog.exec();
}

}  // namespace orvanta
