// A fresh trial model for one test: a real log file in a temp folder, a fixed
// clock, recording seams, the deck and the trial list.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "log/log_file.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta::testing {

class TrialsEnv {
 public:
  TrialsEnv() : clock_(LocalTime{2009, 3, 7, 9, 5, 3, 7}) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvanta-trials-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    log.SetLogFilename(dir_ + "/log.txt");
    window_ref.Register(&window);
  }
  ~TrialsEnv() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // The entry lines of the log file (header lines left out), without CR LF.
  std::vector<std::string> LogEntries() const {
    std::ifstream in(dir_ + "/log.txt", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> lines;
    std::string::size_type start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    if (lines.size() >= 2) lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
  }
  // The last log entry must be this ERROR text.
  void ExpectLastError(const std::string& text) const {
    const std::vector<std::string> entries = LogEntries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), "-*  ERROR  *-  09:05:03.007 - " + text);
  }

 private:
  std::string dir_;
  FixedClock clock_;
  RecordingMessageBoxes boxes_;
  FakeShellOpener shell_;

 public:
  RecordingWindow window;
  MainWindowRef window_ref;
  LogFile log{clock_, boxes_, window_ref, shell_};
  CardDeck deck{log};
  TrialContainer trials{log, deck, window_ref};
};

}  // namespace orvanta::testing
