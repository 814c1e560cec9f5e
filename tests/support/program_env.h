// The integration fixture every suite builds on: a fresh set of the
// program-wide objects, built by a ProgramCore exactly as the programs build
// them, on recording seams (a fixed clock, recorded message boxes, a
// recording window, a recorded shell opener), with the application log as a
// real file in a temp folder, and the acquisition-server simulator run in
// this process on free loopback ports once a test starts it.
//
// Teardown: a run still going is stopped and its worker joined, then the
// client goes (closing its connections), then the simulator is stopped; the
// temp folder goes last. Every wait is bounded.
//
// Threads: build, use and destroy on the test's thread; the objects carry
// their own thread contracts.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/program_core.h"
#include "fakes/fakes.h"
#include "fakes/sim_transcript.h"
#include "fakes/temp_folder.h"
#include "fakes/wait.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"
#include "trials/trial.h"

namespace orvanta::testing {

class ProgramEnv {
 public:
  // A timing tolerance for runs whose timing a test does not judge: on a
  // loaded test machine (sanitizers, parallel suites) the exchanges alone
  // can take more than the default 5 ms, which says nothing about the code.
  static constexpr int32_t kWideTimingToleranceMs = 60000;

  struct Options {
    LocalTime now{};           // what the fixed clock shows
    bool logFile = true;       // open the application log as <folder>/log.txt
    bool recordWindow = true;  // register the recording window in the window slot
    std::string folderPrefix = "orvanta-test-";
  };

  explicit ProgramEnv(const Options& options)
      : folder_(options.folderPrefix),
        clock(options.now),
        core({clock, boxes, windowRef, shell}, folder_.path() + "/") {
    // The trial list sends nowhere until a test connects the client to the
    // simulator or sets a channel of its own.
    trials.SetCommandChannel(nullptr);
    if (options.recordWindow) windowRef.Register(&window);
    if (options.logFile) log.SetLogFilename(LogPath());
    simOptions.negotiation_enabled = false;
    simOptions.negotiation_port = 0;
    simOptions.message_port = 0;
    simOptions.record_rate_hz = 1;
  }
  virtual ~ProgramEnv() {
    core.StopRun();
    windowRef.Unregister();
  }
  ProgramEnv(const ProgramEnv&) = delete;
  ProgramEnv& operator=(const ProgramEnv&) = delete;

  // The temp folder (removed with everything in it) and the log's file.
  const std::string& folder() const { return folder_.path(); }
  std::string LogPath() const { return folder() + "/log.txt"; }

  // --- the simulator ------------------------------------------------------

  // Starts the simulator with `simOptions` on free loopback ports, its
  // transcript kept in memory. Fails the test fatally when it cannot.
  void StartSim() { ASSERT_NO_FATAL_FAILURE(StartSimServer(simOptions, transcript, server)); }
  // Connects the core's client straight to the simulator's message port (the
  // six streams included) and makes it the trial list's channel.
  bool ConnectClient() {
    if (!client.ConnectToServer("127.0.0.1", false, 0, server->message_port())) return false;
    trials.SetCommandChannel(&client);
    return true;
  }
  // The commands in the simulator's transcript, once it has written the line
  // of every command it received (bounded wait).
  std::vector<TranscriptLine> SimCommands() const {
    WaitUntil(
        [&] {
          return static_cast<int64_t>(TranscriptCommands(transcript).size()) >=
                 server->commands_received();
        },
        std::chrono::milliseconds(2000));
    return TranscriptCommands(transcript);
  }

  // --- the application log ------------------------------------------------

  // The entry lines of the log file (its two header lines left out), without
  // their CR LF.
  std::vector<std::string> LogLines() const {
    std::ifstream in(LogPath(), std::ios::binary);
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
  // The entries' texts: each line is a 14-character level tag, the fixed
  // clock's " HH:MM:SS.mmm" and " - ", then the text.
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> out;
    for (const std::string& l : LogLines()) {
      EXPECT_EQ(l.substr(14, 16), " " + StampOf(clock.Now()) + " - ") << l;
      out.push_back(l.size() > 30 ? l.substr(30) : std::string());
    }
    return out;
  }
  bool LogHas(const std::string& text) const { return LogCountExactly(text) > 0; }
  size_t LogCountExactly(const std::string& text) const {
    size_t n = 0;
    for (const auto& t : LogTexts())
      if (t == text) ++n;
    return n;
  }
  // Entries whose text starts with `prefix`.
  size_t LogCount(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& t : LogTexts())
      if (t.rfind(prefix, 0) == 0) ++n;
    return n;
  }

  // Adds a trial type with `count` trials and the given timing, nothing
  // switched on.
  Trial* AddType(const std::string& name, int32_t count, int32_t duration, int32_t interval) {
    Trial* trial = nullptr;
    EXPECT_EQ(trials.AddTrial(name), 0);
    EXPECT_EQ(trials.GetTrial(name, trial), 0);
    int32_t suit = -1;
    EXPECT_EQ(trials.GetSuitID(name, suit), 0);
    EXPECT_EQ(deck.SetNumCardsInSuit(suit, count), 0);
    if (trial != nullptr) {
      trial->SetTrialDuration(duration);
      trial->SetInterTrialInterval(interval);
    }
    return trial;
  }

 private:
  static std::string StampOf(const LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                  t.millisecond);
    return text;
  }

  TempFolder folder_;  // outlives every file written below

  // The seams, then the simulator, then the program-wide objects: destroyed
  // in reverse, so the client has gone before the simulator stops.
 public:
  FixedClock clock;
  RecordingMessageBoxes boxes;
  RecordingWindow window;
  MainWindowRef windowRef;
  FakeShellOpener shell;

  sim::SimOptions simOptions;  // direct message port only, free ports, 1 record/s
  sim::Transcript transcript;
  std::unique_ptr<sim::SimServer> server;

 private:
  struct SimStopper {
    std::unique_ptr<sim::SimServer>& server;
    ~SimStopper() {
      if (server) server->Stop();
    }
  } simStopper_{server};

 public:
  ProgramCore core;
  LogFile& log = core.log();
  CommandProcessor& commands = core.commands();
  TrialContainer& trials = core.trials();
  CardDeck& deck = core.deck();
  VintraClient& client = core.client();
  ConfigFileProcessor& config = core.config();
};

}  // namespace orvanta::testing
