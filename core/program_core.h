// The program-wide objects, built in one place.
#pragma once

#include <string>

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
#include "trigger/stream_trigger.h"

namespace orvanta {

// The seams the program-wide objects are built on: the window program passes
// its Qt implementations, the headless tools print to the terminal, tests
// pass recording fakes. Not owned: each must be created before the
// ProgramCore that receives it and destroyed after it.
struct ProgramSeams {
  const Clock& clock;         // local time for the logs' stamps
  MessageBoxes& boxes;        // for the log, the trial worker, the client, the setup files
  MainWindowRef& mainWindow;  // the window slot; empty while no window exists
  ShellOpener& shell;         // View Log File
};

// Builds the program-wide objects in start-up order, holds them and hands
// them out by reference:
//
//   the application directory, the log, the interpreter (commands), the
//   trial list, the deck, the server client, the start triggers on its
//   data streams, the setup runner (config).
//
// Each object receives the others it uses through its constructor; a
// reference to an object further down the list is only stored while the
// objects are built. Every trial command goes to the server through the
// client unless the owner sets another channel on the trial list.
//
// Teardown: a run still going is stopped and its worker joined first (it
// uses the deck, the client and the log), then the objects go in the reverse
// order, so that the log outlives everything that writes to it.
//
// Threads: built and destroyed on the thread that starts the program (the
// window thread). The objects handed out carry their own thread contracts;
// the accessors themselves only return references and may be called from any
// thread while the core exists.
class ProgramCore {
 public:
  // REQUIRES: every seam outlives the core. Nothing is logged or shown while
  // the objects are built. `applicationDirectory` (with its trailing
  // separator) may stay empty until start-up sets it.
  explicit ProgramCore(const ProgramSeams& seams, std::string applicationDirectory = std::string());
  // Calls StopRun(), then the members go in reverse order.
  ~ProgramCore();
  ProgramCore(const ProgramCore&) = delete;
  ProgramCore& operator=(const ProgramCore&) = delete;

  // Stops a run in progress and joins every worker that ran one. Returns once
  // no worker is left. Harmless when no run was started; may be called more
  // than once. REQUIRES: not called on a trial worker.
  void StopRun();

  const ProgramSeams& seams() const { return seams_; }
  // The folder the program started in, with its separator; the window
  // program fills it in at start-up.
  std::string& applicationDirectory() { return applicationDirectory_; }
  const std::string& applicationDirectory() const { return applicationDirectory_; }
  LogFile& log() { return log_; }
  const LogFile& log() const { return log_; }
  CommandProcessor& commands() { return commands_; }
  TrialContainer& trials() { return trials_; }
  const TrialContainer& trials() const { return trials_; }
  CardDeck& deck() { return deck_; }
  const CardDeck& deck() const { return deck_; }
  VintraClient& client() { return client_; }
  // The start triggers of the runs, on the client's data streams.
  StreamTrigger& triggers() { return triggers_; }
  ConfigFileProcessor& config() { return config_; }

 private:
  // Declared in start-up order: members are built top down and destroyed
  // bottom up.
  const ProgramSeams seams_;
  std::string applicationDirectory_;
  LogFile log_;
  CommandProcessor commands_;
  TrialContainer trials_;
  CardDeck deck_;
  VintraClient client_;
  StreamTrigger triggers_;
  ConfigFileProcessor config_;
};

}  // namespace orvanta
