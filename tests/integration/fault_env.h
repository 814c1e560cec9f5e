// The end-to-end fault tests run on the shared fixture: the whole program's
// objects against the acquisition-server simulator in this process with
// faults switched on, a real log file in a temp folder, the simulator's
// transcript kept in memory. Every wait is bounded.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/broken_headers.h"
#include "fakes/fakes.h"
#include "fakes/sim_transcript.h"
#include "fakes/temp_folder.h"
#include "fakes/wait.h"
#include "support/program_env.h"
#include "tools/quorvin-sim/sim_server.h"
#include "trials/trial.h"

namespace orvanta::faults {

using namespace std::chrono_literals;
using testing::MillisSince;
using testing::SteadyClock;
using testing::TempFolder;
using testing::WaitUntil;

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The texts of a log file's entries (after its two header lines), without
// their level tags and time stamps.
inline std::vector<std::string> LogTexts(const std::string& path) {
  const std::string text = ReadWholeFile(path);
  std::vector<std::string> out;
  std::string::size_type start = 0, end;
  int line = 0;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    const std::string l = text.substr(start, end - start);
    start = end + 2;
    if (++line <= 2) continue;
    const auto dash = l.find(" - ");
    out.push_back(dash == std::string::npos ? l : l.substr(dash + 3));
  }
  return out;
}

// This process's resident set size in KiB (0 when unknown).
inline long ResidentKiB() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return 0;
}

// The shared fixture with the simulator's transcript echo off and events at
// both ends of a trial; the window slot stays empty.
class FaultEnv : public ::testing::Test, public testing::ProgramEnv {
 protected:
  FaultEnv()
      : ProgramEnv(Options{.now = LocalTime{2012, 6, 7, 8, 9, 10, 11},
                           .recordWindow = false,
                           .folderPrefix = "orvanta-faults-"}) {
    simOptions.quiet = true;
    KeepClientLog();
    // These runs are judged on their faults, not their timing (a loaded
    // machine would add a timing qualifier to the end box).
    trials.SetTimingTolerance(kWideTimingToleranceMs);
  }

  // A trial type with `count` trials; events at start and end are on.
  Trial* AddEventType(const std::string& name, int32_t count, int32_t duration, int32_t interval) {
    Trial* trial = AddType(name, count, duration, interval);
    trial->SetStartOfTrialGenerateEvent(true);
    trial->SetStartOfTrialEventString(name + " on");
    trial->SetStartOfTrialEventTTLValue(1);
    trial->SetEndOfTrialGenerateEvent(true);
    trial->SetEndOfTrialEventString(name + " off");
    trial->SetEndOfTrialEventTTLValue(2);
    return trial;
  }

  size_t CountPrefix(const std::string& prefix) const {
    return CommandsStartingWith(prefix).size();
  }

  std::vector<std::string> Log() const { return LogTexts(); }
};

inline const char kStopLine1[] =
    "TrialContainer::StopProcessingTrials() - mTrialProcessingThread thread has been terminated "
    "successfully.";
inline const char kStopLine2[] =
    "TrialContainer::StopProcessingTrials() - WaitForSingleObject for mTrialProcessingThread "
    "thread completed successfully.";

}  // namespace orvanta::faults
