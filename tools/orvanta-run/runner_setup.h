// The program-wide objects of orvanta-run and its setup half: load the setup
// files, shuffle, print and save the run order.
#pragma once

#include <atomic>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "client/vintra_client.h"
#include "core/program_core.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/paths.h"
#include "platform/shell_open.h"
#include "platform/window_listener.h"
#include "script/command_processor.h"
#include "script/config_file_processor.h"
#include "tools/orvanta-run/runner_options.h"
#include "trials/card_deck.h"
#include "trials/trial_container.h"

namespace orvanta::runner {

// Prints every log entry to a stream, one line each, as the window's message
// list shows them. The window's other calls have nothing to show headless.
//
// AddLogMessage is called with the log's entry lock held, from any thread,
// and must not block: it only queues the line, and a writer thread of its own
// prints it. Flush() waits until everything queued so far is printed, so that
// other output to the same streams keeps its place after the entries.
class StreamLogEcho : public WindowListener {
 public:
  explicit StreamLogEcho(std::FILE* out);
  StreamLogEcho(const StreamLogEcho&) = delete;
  StreamLogEcho& operator=(const StreamLogEcho&) = delete;
  // Prints what is still queued, then ends the writer thread. Unregister the
  // echo from the window slot first.
  ~StreamLogEcho() override;

  void AddTrialTypeToList(const std::string&) override {}
  void RemoveTrialTypeFromList(const std::string&) override {}
  void AddLogMessage(const std::string& line) override EXCLUDES(mutex_);
  void SetCurrentTrialNumber(int) override {}
  void OnStop() override {}

  void Flush() EXCLUDES(mutex_);

  // A status line kept below the entries (a terminal's progress line): drawn
  // in place with a carriage return, erased before entries are printed and
  // drawn again after them. An empty text erases it. Only for terminals.
  void SetStatusLine(const std::string& text) EXCLUDES(mutex_);

 private:
  void WriterLoop() EXCLUDES(mutex_);

  std::FILE* const out_;
  Mutex mutex_;
  CondVar cv_{&mutex_};  // signals queue changes, the end of a write and stopping
  std::deque<std::string> queue_ GUARDED_BY(mutex_);
  bool writing_ GUARDED_BY(mutex_) = false;  // the writer holds lines taken from the queue
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::string status_ GUARDED_BY(mutex_);          // the status line wanted
  bool statusChanged_ GUARDED_BY(mutex_) = false;  // not drawn yet
  bool statusShown_ = false;  // a status line is on the screen (writer thread only)
  std::thread writer_;        // started last, once the members above exist
};

// Message boxes printed to stderr, after the log entries echoed so far.
class RunnerMessageBoxes : public StderrMessageBoxes {
 public:
  using MessageBoxes::Show;
  // `echo` (may be null) must outlive every box shown while it is set.
  void SetEcho(StreamLogEcho* echo) { echo_.store(echo); }
  BoxResult Show(const std::string& text, const std::string& caption, BoxIcon icon,
                 BoxButtons buttons) override;

 private:
  std::atomic<StreamLogEcho*> echo_{nullptr};
};

// The runner's seams and the program-wide objects built on them by the core
// (in start-up order, destroyed in reverse after a run still going has been
// stopped and its worker joined). The references name the core's objects.
struct RunnerProgram {
  SystemClock clock;
  RunnerMessageBoxes boxes;  // the "Configuration File Error" box goes to stderr
  MainWindowRef window;      // headless: holds the stdout echo, or nothing
  DesktopShellOpener shell;

  ProgramCore core{ProgramSeams{clock, boxes, window, shell}, CurrentDirectoryWithSeparator()};
  const std::string& applicationDirectory = core.applicationDirectory();
  LogFile& log = core.log();
  CommandProcessor& commands = core.commands();
  TrialContainer& trials = core.trials();
  CardDeck& deck = core.deck();
  VintraClient& client = core.client();
  ConfigFileProcessor& config = core.config();
};

// The setup half: opens the log, seeds the deck, runs the setup files in
// order, sets the start triggers of --trigger and --no-trigger, then
// shuffles, prints the order and saves as the options ask.
// Messages for the user go to `out` (the run order) and `err` (errors and
// warnings, one line each, "orvanta-run: ..."); `echo` (may be null) is
// flushed before each, so they follow the log entries echoed before them.
// Returns an exit status:
// kExitOk, or kExitSetupFailed at the first file that cannot be opened or has
// a failing command (later files are not run), or when the save fails;
// kExitUsage when --trigger or --no-trigger names a type the setup does not
// have.
//
// Log files: a log (--log) that another program holds is kExitSetupFailed.
// A "-SetLogFile" that cannot be opened keeps the log where it was and is a
// warning. Under --check and --dry-run no "-SetLogFile" is carried out: each
// is a warning for --dry-run, and a line of `problems` for --check.
int RunSetup(RunnerProgram& program, const RunnerOptions& options, std::FILE* out, std::FILE* err,
             StreamLogEcho* echo, std::vector<std::string>& problems);

// The application log's file for these options, as the log will name it.
std::string RunnerLogPath(const RunnerProgram& program, const RunnerOptions& options);

// A usage error when two outputs of the options (--log, --timeline,
// --client-log, --save) name the same file; empty when none do.
std::string CheckOutputPaths(const RunnerProgram& program, const RunnerOptions& options);

}  // namespace orvanta::runner
