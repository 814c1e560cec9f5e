// The trial model's tests run on the shared integration fixture: a fresh set
// of program-wide objects with a real log file in a temp folder, a fixed
// clock and recording seams.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/program_env.h"

namespace orvanta::testing {

class TrialsEnv : public ProgramEnv {
 public:
  TrialsEnv()
      : ProgramEnv(
            Options{.now = LocalTime{2009, 3, 7, 9, 5, 3, 7}, .folderPrefix = "orvanta-trials-"}) {}

  // The entry lines of the log file (header lines left out), without CR LF.
  std::vector<std::string> LogEntries() const { return LogLines(); }
  // The last log entry must be this ERROR text.
  void ExpectLastError(const std::string& text) const {
    const std::vector<std::string> entries = LogEntries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), "-*  ERROR  *-  09:05:03.007 - " + text);
  }
};

}  // namespace orvanta::testing
