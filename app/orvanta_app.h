// The program-wide objects and the application object of the window
// program.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/app_seams.h"
#include "app/window_records.h"
#include "client/vintra_client.h"
#include "core/program_core.h"
#include "log/log_file.h"
#include "script/config_file_processor.h"
#include "trials/card_deck.h"
#include "trials/trial_container.h"

namespace orvanta {

class OrvantaDlg;

// The seams of the window program: those of the program-wide objects and the
// window's file dialogs. Created before them (the window program in main(),
// tests with fakes) and destroyed after them.
struct WindowSeams : ProgramSeams {
  FileChooser& files;
};

// The window's view of the server client. Cancel ends the connect or the
// connection check running on the window's helper thread.
class VintraServerLink : public ServerLink {
 public:
  explicit VintraServerLink(VintraClient& client) : client_(client) {}
  bool IsConnected() override {
    cancel_.Reset();
    return client_.IsConnected(&cancel_);
  }
  bool ConnectToServer(const std::string& serverName, bool negotiatePort) override {
    cancel_.Reset();
    return client_.ConnectToServer(serverName, negotiatePort, &cancel_);
  }
  bool DisconnectFromServer() override { return client_.DisconnectFromServer(); }
  void Cancel() override { cancel_.Request(); }
  bool HasConnection() override { return client_.HasConnection(); }
  bool ConnectionUsable() override {
    return client_.HasConnection() && client_.GetNetworkNodeClient().IsInStep();
  }
  std::string ConnectError() override { return client_.GetConnectError(); }
  std::string ConnectWarnings() override { return client_.GetConnectWarnings(); }
  int ReplyTimeoutMs() override { return static_cast<int>(client_.GetReplyTimeout().count()); }
  void SetReplyTimeoutMs(int ms) override {
    client_.SetReplyTimeout(std::chrono::milliseconds(ms));
  }
  bool OpenClientLog(const std::string& path) override { return client_.SetLogFileName(path); }
  bool ListObjects(std::vector<std::string>& names) override {
    std::vector<std::string> types;
    return client_.GetObjectsAndTypes(names, types);
  }

 private:
  VintraClient& client_;
  StopSignal cancel_;
};

class OrvantaApp {
 public:
  // Nothing is used during construction; every argument outlives the object.
  // The window gets `core` (whose application directory start-up fills in),
  // the file dialogs of `seams` and `server`.
  OrvantaApp(ProgramCore& core, ServerLink& server, const WindowSeams& seams);
  OrvantaApp(const OrvantaApp&) = delete;
  OrvantaApp& operator=(const OrvantaApp&) = delete;
  virtual ~OrvantaApp() = default;

  // Start-up: starts the socket layer (a failure is shown in a box and ends
  // the program), records the application directory, then creates the main
  // window, registers it as the program's window and runs it modally until it
  // closes. Returns false in every case, so that the program then ends.
  // Requires a QApplication; window thread.
  bool InitInstance();

  // Prepares the socket layer; 0 on success, else a Windows Sockets code.
  // The socket layer's own start-up unless replaced (tests).
  void SetSocketStartup(std::function<int()> startup) { socketStartup_ = std::move(startup); }
  // Called once the window exists and is registered, before it is shown
  // (the window program gives it its boxes and file dialogs as owner).
  void SetWindowCreatedHook(std::function<void(OrvantaDlg&)> hook) {
    windowCreated_ = std::move(hook);
  }
  // The session records the window writes (none when not set). Not owned.
  void SetSessionRecords(WindowRecords* records) { records_ = records; }

 private:
  ProgramCore& core_;
  ServerLink& server_;
  WindowSeams seams_;
  std::function<int()> socketStartup_;
  std::function<void(OrvantaDlg&)> windowCreated_;
  WindowRecords* records_ = nullptr;
};

// The window program's objects: the program-wide ones (built, held and torn
// down by the core: a run still going is stopped and its worker joined
// before any of them goes), then the window's view of the client, the
// session records and the application object. Destroyed in reverse.
struct ProgramObjects {
  explicit ProgramObjects(const WindowSeams& windowSeams);
  // A run still going is stopped and its worker joined first: it reports to
  // the records, which go before the core.
  ~ProgramObjects();
  ProgramObjects(const ProgramObjects&) = delete;
  ProgramObjects& operator=(const ProgramObjects&) = delete;

  WindowSeams seams;
  ProgramCore core;
  VintraServerLink server;  // the window's view of the client
  WindowRecords records;    // outlives the workers that report to it
  OrvantaApp app;
};

}  // namespace orvanta
