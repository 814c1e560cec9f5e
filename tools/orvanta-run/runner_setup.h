// The program-wide objects of orvanta-run and its setup half: load the setup
// files, shuffle, print and save the run order.
#pragma once

#include <cstdio>
#include <string>

#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/shell_open.h"
#include "platform/window_listener.h"
#include "script/command_processor.h"
#include "script/config_file_processor.h"
#include "tools/orvanta-run/runner_options.h"
#include "trials/card_deck.h"
#include "trials/trial_container.h"

namespace orvanta::runner {

// The program-wide objects, created once in start-up order (the seams, the
// application directory, the log, the interpreter, the trial list, the deck,
// the setup runner) and destroyed in reverse. References to later members
// are only stored by the constructors that receive them.
struct RunnerProgram {
  SystemClock clock;
  StderrMessageBoxes boxes;  // the "Configuration File Error" box goes to stderr
  MainWindowRef window;      // headless: holds the stdout echo, or nothing
  DesktopShellOpener shell;

  const std::string applicationDirectory = CurrentDirectoryWithSeparator();
  LogFile log{clock, boxes, window, shell};
  CommandProcessor commands{log, trials, deck};
  TrialContainer trials{log, deck, window};
  CardDeck deck{log};
  // The server client takes its place here once the run half exists.
  ConfigFileProcessor config{log, trials, deck, commands, boxes, clock};
};

// Prints every log entry to a stream, one line each, as the window's message
// list shows them. The window's other calls have nothing to show headless.
class StreamLogEcho : public WindowListener {
 public:
  explicit StreamLogEcho(std::FILE* out) : out_(out) {}
  void AddTrialTypeToList(const std::string&) override {}
  void RemoveTrialTypeFromList(const std::string&) override {}
  void AddLogMessage(const std::string& line) override;
  void SetCurrentTrialNumber(int) override {}
  void OnStop() override {}

 private:
  std::FILE* out_;
};

// The setup half: opens the log, seeds the deck, runs the setup files in
// order, then shuffles, prints the order and saves as the options ask.
// Messages for the user go to `out` (the run order) and `err` (errors and
// warnings, one line each, "orvanta-run: ..."). Returns an exit status:
// kExitOk, or kExitSetupFailed at the first file that cannot be opened or has
// a failing command (later files are not run), or when the save fails.
int RunSetup(RunnerProgram& program, const RunnerOptions& options, std::FILE* out,
             std::FILE* err);

}  // namespace orvanta::runner
