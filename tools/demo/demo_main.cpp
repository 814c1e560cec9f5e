// orvanta-demo: a small, headless tour of the trial model. It sets up three
// trial types with 3, 1 and 2 trials, shuffles them into a run order with at
// most one trial of a type in a row, prints the order and writes everything
// it did to OrvantaLogFile.txt in the current directory.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/program_core.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/shell_open.h"
#include "platform/window_listener.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace {

struct DemoType {
  const char* name;
  int32_t count;
  int32_t duration;
  int32_t interval;
};

const DemoType kTypes[] = {
    {"Tone", 3, 1000, 2000},
    {"Light Flash", 1, 500, 2000},
    {"Air Puff", 2, 250, 3000},
};

}  // namespace

int main() {
  using namespace orvanta;

  // The seams, then the program-wide objects built on them in start-up order
  // and destroyed in reverse.
  SystemClock clock;
  StderrMessageBoxes boxes;
  DesktopShellOpener shell;
  MainWindowRef window;  // no window in a headless run: echoes are skipped
  ProgramCore core({clock, boxes, window, shell}, CurrentDirectoryWithSeparator());
  LogFile& log = core.log();
  CardDeck& deck = core.deck();
  TrialContainer& trials = core.trials();

  log.SetLogFilename(core.applicationDirectory() + "OrvantaLogFile.txt");
  if (!log.IsOpen()) {
    std::fprintf(stderr, "orvanta-demo: the log file %s could not be opened\n",
                 log.GetFilePath().c_str());
  }

  log.WriteLogEntry(kLogNotice, "orvanta-demo - building a deck of three trial types");
  for (const DemoType& type : kTypes) {
    int32_t suitID = 0;
    Trial* trial = nullptr;
    if (trials.AddTrial(type.name) != 0 || trials.GetSuitID(type.name, suitID) != 0 ||
        trials.GetTrial(type.name, trial) != 0 || deck.SetNumCardsInSuit(suitID, type.count) != 0) {
      std::fprintf(stderr, "orvanta-demo: could not set up the trial type %s\n", type.name);
      return 1;
    }
    trial->SetTrialDuration(type.duration);
    trial->SetInterTrialInterval(type.interval);
    log.WriteLogEntry(kLogNotice, "orvanta-demo - trial type \"" + std::string(type.name) +
                                      "\" added, suit ID: " + std::to_string(suitID) +
                                      ", trials: " + std::to_string(type.count));
  }

  log.WriteLogEntry(kLogNotice, "orvanta-demo - shuffling " + std::to_string(deck.GetNumCards()) +
                                    " cards, at most " +
                                    std::to_string(deck.GetMaxConsectutiveSameSuitCards()) +
                                    " of a type in a row");
  const int shuffled = deck.Shuffle();

  const std::vector<int32_t> order = deck.GetOrder();
  for (std::size_t i = 0; i < order.size(); ++i) {
    Trial* trial = nullptr;
    const std::string name = trials.GetTrial(order[i], trial) == 0 ? trial->GetName() : "?";
    std::printf("%i.  %s\n", static_cast<int>(i + 1), name.c_str());
    log.WriteLogEntry(kLogNotice,
                      "orvanta-demo - run order " + std::to_string(i + 1) + ": " + name);
  }

  if (shuffled != 0) {
    std::fprintf(stderr, "orvanta-demo: %s\n", deck.GetMessage().c_str());
  }
  log.WriteLogEntry(kLogNotice, "orvanta-demo - done");
  std::printf("Log file: %s\n", log.GetFilePath().c_str());
  std::fflush(stdout);
  return shuffled == 0 ? 0 : 1;
}
