// Fuzz target: a setup file, through the line reader and the command
// interpreter, on a fresh model per input.
//
// Checked beyond "no crash":
//  - the deck holds exactly as many cards as the trial types' counts add up
//    to;
//  - when the setup holds no value that a setup file cannot carry, saving it
//    and loading the saved text into another fresh model gives the same text
//    again (a saved setup reads back whole).
//
// The interpreter's -SetLogFile opens the file it names (moving an earlier
// log of that name aside), so every log path is moved into a private
// temporary folder before the line is run; the folder is emptied after each
// input. The model that reads the saved text back is built once the first
// one is gone: a log file has one writer at a time.

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/program_core.h"
#include "fuzz/fuzz_targets.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "platform/window_listener.h"
#include "script/command_processor.h"
#include "script/config_file_processor.h"
#include "script/format_cmd_line.h"
#include "trials/card_deck.h"
#include "trials/trial_container.h"

namespace orvanta::fuzz {
namespace {

class QuietBoxes : public MessageBoxes {
 public:
  using MessageBoxes::Show;
  BoxResult Show(const std::string&, const std::string&, BoxIcon, BoxButtons buttons) override {
    return buttons == BoxButtons::kYesNo ? BoxResult::kYes : BoxResult::kOk;
  }
};

class NoShell : public ShellOpener {
 public:
  int Open(const std::string&) override { return 0; }
};

class StillClock : public Clock {
 public:
  LocalTime Now() const override { return LocalTime{2010, 4, 5, 6, 7, 8, 9}; }
};

// The private folder and an in-memory file the reader opens by path.
struct Sandbox {
  Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvanta-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    memFd = memfd_create("orvanta-fuzz-setup", 0);
    if (memFd < 0) std::abort();
    memPath = "/proc/self/fd/" + std::to_string(memFd);
  }
  ~Sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  void Empty() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
      std::filesystem::remove_all(entry.path(), ec);
  }
  // Replaces the in-memory file's content.
  void SetFile(const char* bytes, size_t size) const {
    if (ftruncate(memFd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(memFd, bytes + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
  }

  std::string dir;
  int memFd = -1;
  std::string memPath;
};

Sandbox& TheSandbox() {
  static Sandbox* sandbox = new Sandbox;  // lives as long as the process
  return *sandbox;
}

// A fresh set of the program-wide objects on quiet seams, with its log in
// the sandbox.
struct Model {
  explicit Model(const Sandbox& sandbox) { log.SetLogFilename(sandbox.dir + "/start.txt"); }
  StillClock clock;
  QuietBoxes boxes;
  MainWindowRef window;
  NoShell shell;
  ProgramCore core{{clock, boxes, window, shell}};
  LogFile& log = core.log();
  CommandProcessor& commands = core.commands();
  TrialContainer& trials = core.trials();
  CardDeck& deck = core.deck();
  ConfigFileProcessor& config = core.config();
};

// The line with any -SetLogFile path moved into the sandbox: the name part
// is kept, with the characters that make a folder or leave the quotes
// replaced.
std::string Confined(const std::string& line, const Sandbox& sandbox) {
  std::vector<std::string> args;
  std::string unmatched;
  if (!SplitCommandArguments(line, args, unmatched) || args.empty() ||
      !EqualsIgnoringCase(args[0], "-SetLogFile")) {
    return line;
  }
  std::string name = args.size() > 1 ? args[1] : "";
  for (char& c : name)
    if (c == '/' || c == '\\' || c == ':' || c == '"') c = '_';
  std::string out = "-SetLogFile \"" + sandbox.dir + "/f_" + name + "\"";
  for (size_t i = 2; i < args.size(); ++i) out += " x";  // keep the argument count
  return out;
}

// Runs every command line of the in-memory file (on past failures, to reach
// more of the interpreter than a load, which stops at the first).
void RunLines(Model& m, const Sandbox& sandbox) {
  FormatCmdLine reader(m.log);
  if (reader.OpenFileCfg(sandbox.memPath) != 0) std::abort();
  reader.SetReturnCommandLines(true);
  std::string line;
  int32_t lineNumber = 0;
  while (reader.GetNextLine(line, lineNumber) == 0) {
    m.commands.ProcessCommandString(Confined(line, sandbox));
  }
}

void CheckDeckMatchesCounts(Model& m) {
  int64_t total = 0;
  for (const auto& name : m.trials.GetTrialNames()) {
    int32_t suit = -1, count = 0;
    if (m.trials.GetSuitID(name, suit) != 0 || m.deck.GetNumCardsInSuit(suit, count) != 0) {
      std::fprintf(stderr, "trial type %s has no suit in the deck\n", name.c_str());
      std::abort();
    }
    total += count;
  }
  if (total != m.deck.GetNumCards()) {
    std::fprintf(stderr, "the deck holds %d cards, the counts add up to %lld\n",
                 static_cast<int>(m.deck.GetNumCards()), static_cast<long long>(total));
    std::abort();
  }
}

}  // namespace

int FuzzSetupFile(const uint8_t* data, size_t size) {
  const Sandbox& sandbox = TheSandbox();
  const LocalTime when{2011, 1, 2, 3, 4, 5, 6};
  std::string saved;
  bool readBack = false;
  {
    Model m(sandbox);
    sandbox.SetFile(reinterpret_cast<const char*>(data), size);
    RunLines(m, sandbox);
    CheckDeckMatchesCounts(m);
    readBack = m.config.FindUnreadableValues().empty();
    if (readBack) saved = m.config.GetSetupFileText(when);
  }
  if (readBack) {
    Model again(sandbox);
    sandbox.SetFile(saved.data(), saved.size());
    again.config.ProcessScript(sandbox.memPath);
    const std::string resaved = again.config.GetSetupFileText(when);
    if (resaved != saved) {
      std::fprintf(stderr,
                   "a saved setup does not read back whole.\n--- saved\n%s\n--- "
                   "read back and saved again\n%s\n",
                   saved.c_str(), resaved.c_str());
      std::abort();
    }
  }
  sandbox.Empty();
  return 0;
}

}  // namespace orvanta::fuzz
