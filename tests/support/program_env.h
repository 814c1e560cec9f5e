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

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/program_core.h"
#include "fakes/broken_headers.h"
#include "fakes/fakes.h"
#include "fakes/sim_transcript.h"
#include "fakes/temp_folder.h"
#include "fakes/wait.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"
#include "trials/trial.h"

namespace orvanta::testing {

// Has the simulator send `header` in its reply to the `nth` counted command.
inline void SendBrokenHeader(sim::SimOptions& options, const BrokenHeader& header, int64_t nth) {
  if (header.version != frame::kVersion) {
    options.bad_version = {nth, header.version};
  } else if (header.validation != frame::kValidationCode) {
    options.bad_validation_nth = nth;
  } else {
    options.absurd_size = {nth, header.size};
  }
}

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

  // How the client reaches the simulator: straight to its message port with
  // the six streams (a whole connect), through its negotiation port, or the
  // message connection alone (one exchange instead of the fifteen of a whole
  // connect, for servers that answer slowly).
  enum class Link { kDirect, kNegotiated, kMessageOnly };

  // Starts the simulator with `simOptions` on free loopback ports, its
  // transcript kept in memory. Fails the test fatally when it cannot.
  void StartSim() { ASSERT_NO_FATAL_FAILURE(StartSimServer(simOptions, transcript, server)); }
  // Connects the core's client to the simulator and makes it the trial
  // list's channel.
  bool Connect(Link link = Link::kDirect) {
    bool connected = false;
    switch (link) {
      case Link::kDirect:
        connected = client.ConnectToServer("127.0.0.1", false, 0, server->message_port());
        break;
      case Link::kNegotiated:
        connected = client.ConnectToServer("127.0.0.1", true, server->negotiation_port(),
                                           server->message_port());
        break;
      case Link::kMessageOnly:
        connected =
            client.GetNetworkNodeClient().InitializeClient("127.0.0.1", server->message_port());
        break;
    }
    if (connected) trials.SetCommandChannel(&client);
    return connected;
  }
  // Both, fatally; Commands() then counts only the commands from here on.
  void StartAndConnect(Link link = Link::kDirect) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    ASSERT_TRUE(Connect(link));
    ASSERT_TRUE(WaitUntil([&] { return CommandLineCount() == Received(); }));
    commandsFrom_ = static_cast<size_t>(Received());
  }

  // The number of commands the simulator has received.
  int64_t Received() const { return server->commands_received(); }
  // The commands in the simulator's transcript in the order they arrived,
  // from the `skip`th on (by default from the mark StartAndConnect set),
  // once it has written the line of every command it received (bounded
  // wait). A command's line is written just after its reply went out, so a
  // quick client can get a line of its next connection written before the
  // last one of the connection it just left; hence the sort.
  std::vector<TranscriptLine> Commands(size_t skip) const {
    WaitUntil([&] { return CommandLineCount() >= Received(); }, std::chrono::milliseconds(2000));
    std::vector<TranscriptLine> all = TranscriptCommands(transcript);
    std::stable_sort(all.begin(), all.end(), [](const TranscriptLine& a, const TranscriptLine& b) {
      return a.timeUs < b.timeUs;
    });
    if (skip >= all.size()) return {};
    return std::vector<TranscriptLine>(all.begin() + static_cast<std::ptrdiff_t>(skip), all.end());
  }
  std::vector<TranscriptLine> Commands() const { return Commands(commandsFrom_); }
  std::vector<std::string> CommandTexts(size_t skip) const {
    std::vector<std::string> out;
    for (const TranscriptLine& l : Commands(skip)) out.push_back(l.text);
    return out;
  }
  std::vector<std::string> CommandTexts() const { return CommandTexts(commandsFrom_); }
  // The commands (as Commands()) whose text starts with `prefix`.
  std::vector<TranscriptLine> CommandsStartingWith(const std::string& prefix) const {
    std::vector<TranscriptLine> out;
    for (const TranscriptLine& c : Commands())
      if (c.text.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }
  // Waits until Commands() holds `n` commands.
  bool WaitForCommands(size_t n,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const {
    return WaitUntil([&] { return Commands().size() >= n; }, timeout);
  }

  // Waits for a transcript line of `kind` on `conn` whose text is `text`.
  bool WaitForLine(const std::string& conn, const std::string& kind, const std::string& text,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const {
    return transcript
        .WaitForLine(
            [&](const std::string& raw) {
              const auto f = sim::SplitTranscriptLine(raw);
              return f.size() == 7 && f[2] == conn && f[3] == kind && f[4] == text;
            },
            timeout)
        .has_value();
  }

  // --- the client's own log ----------------------------------------------

  std::string ClientLogPath() const { return folder() + "/client.txt"; }
  // Gives the client its log file, ClientLogPath().
  void KeepClientLog() { EXPECT_TRUE(client.SetLogFileName(ClientLogPath())); }
  // Its entries as "TAG: text" ("ERROR: ...").
  std::vector<std::string> ClientLogEntries() const {
    std::vector<std::string> out;
    std::ifstream in(ClientLogPath(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("-* ", 0) != 0) continue;
      const size_t tagEnd = line.find(" *- ");
      const size_t textAt = line.find(" - ", tagEnd + 4);
      if (tagEnd == std::string::npos || textAt == std::string::npos) continue;
      out.push_back(line.substr(3, tagEnd - 3) + ": " + line.substr(textAt + 3));
    }
    return out;
  }
  size_t ClientLogCount(const std::string& entry) const {
    size_t n = 0;
    for (const std::string& e : ClientLogEntries()) n += e == entry ? 1 : 0;
    return n;
  }
  bool ClientLogHas(const std::string& entry) const { return ClientLogCount(entry) > 0; }

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

  int64_t CommandLineCount() const {
    return static_cast<int64_t>(TranscriptCommands(transcript).size());
  }

  TempFolder folder_;  // outlives every file written below
  size_t commandsFrom_ = 0;

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
