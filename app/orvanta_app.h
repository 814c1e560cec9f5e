// The program-wide objects and the application object of the window
// program.
#pragma once

#include <functional>
#include <string>

#include "app/app_seams.h"
#include "app/window_records.h"
#include "client/vintra_client.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "platform/window_listener.h"
#include "script/command_processor.h"
#include "script/config_file_processor.h"
#include "trials/card_deck.h"
#include "trials/trial_container.h"

namespace orvanta {

class OrvantaDlg;

// The seams the program-wide objects are built on. Created before them (the
// window program in main(), tests with fakes) and destroyed after them.
struct ProgramSeams {
  const Clock& clock;
  MessageBoxes& boxes;
  MainWindowRef& mainWindow;
  ShellOpener& shell;
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
  int ReplyTimeoutMs() override { return static_cast<int>(client_.GetReplyTimeout().count()); }
  void SetReplyTimeoutMs(int ms) override {
    client_.SetReplyTimeout(std::chrono::milliseconds(ms));
  }
  bool OpenClientLog(const std::string& path) override { return client_.SetLogFileName(path); }

 private:
  VintraClient& client_;
  StopSignal cancel_;
};

class OrvantaApp {
 public:
  // Nothing is used during construction; every argument outlives the object.
  OrvantaApp(std::string& applicationDirectory, LogFile& log, TrialContainer& trials,
             CardDeck& deck, ConfigFileProcessor& config, ServerLink& server,
             const ProgramSeams& seams);
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
  void SetWindowCreatedHook(std::function<void(OrvantaDlg&)> hook) { windowCreated_ = std::move(hook); }
  // The session records the window writes (none when not set). Not owned.
  void SetSessionRecords(WindowRecords* records) { records_ = records; }

 private:
  std::string& applicationDirectory_;
  LogFile& log_;
  TrialContainer& trials_;
  CardDeck& deck_;
  ConfigFileProcessor& config_;
  ServerLink& server_;
  ProgramSeams seams_;
  std::function<int()> socketStartup_;
  std::function<void(OrvantaDlg&)> windowCreated_;
  WindowRecords* records_ = nullptr;
};

// The program-wide objects, created once in this order and destroyed in the
// reverse order, so that the log outlives everything that writes to it. Each
// object receives the others it uses by reference; references to objects
// further down are only stored while the objects are built.
struct ProgramObjects {
  explicit ProgramObjects(const ProgramSeams& programSeams);
  // A run still going is stopped and its worker joined first: it uses the
  // deck and the client, which go before the trial list.
  ~ProgramObjects();
  ProgramObjects(const ProgramObjects&) = delete;
  ProgramObjects& operator=(const ProgramObjects&) = delete;

  ProgramSeams seams;
  std::string gApplicationDirectory;  // empty until start-up
  LogFile log;
  CommandProcessor commands;
  TrialContainer trials;
  CardDeck deck;
  VintraClient client;
  ConfigFileProcessor config;
  VintraServerLink server;  // the window's view of the client
  WindowRecords records;    // outlives the workers that report to it
  OrvantaApp app;
};

}  // namespace orvanta
