// The whole program's model, run against the acquisition-server simulator
// in this process with faults switched on, as the end-to-end fault tests
// need it: a real log file in a temp folder, the trial list and deck, the
// server client, and the simulator on free loopback ports with its
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

#include "client/vintra_client.h"
#include "fakes/fakes.h"
#include "fakes/sim_transcript.h"
#include "fakes/temp_folder.h"
#include "fakes/wait.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

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

// One command line of the simulator's transcript.
using SimCommand = testing::TranscriptLine;

class FaultEnv : public ::testing::Test {
 protected:
  FaultEnv() : clock_(LocalTime{2012, 6, 7, 8, 9, 10, 11}) {
    logPath_ = folder_.path() + "/log.txt";
    log.SetLogFilename(logPath_);
    options.negotiation_enabled = false;
    options.negotiation_port = 0;
    options.message_port = 0;
    options.quiet = true;
    options.record_rate_hz = 1;
  }

  ~FaultEnv() override {
    // The worker uses the client and the client the server: end them in
    // that order.
    trials.StopProcessingTrials();
    trials.JoinWorkers();
    client.reset();
    if (server) server->Stop();
  }

  // Starts the simulator with `options` and connects a client straight to
  // its message port (the six streams included).
  void StartAndConnect() {
    ASSERT_NO_FATAL_FAILURE(testing::StartSimServer(options, transcript, server));
    client = std::make_unique<VintraClient>(clientClock, clientBoxes);
    ASSERT_TRUE(client->SetLogFileName(folder_.path() + "/client.txt"));
    ASSERT_TRUE(Connect());
    trials.SetCommandChannel(client.get());
  }

  bool Connect() { return client->ConnectToServer("127.0.0.1", false, 0, server->message_port()); }

  // A trial type with `count` trials; events at start and end are on.
  Trial* AddEventType(const std::string& name, int32_t count, int32_t duration,
                      int32_t interval) {
    Trial* trial = nullptr;
    EXPECT_EQ(trials.AddTrial(name), 0);
    EXPECT_EQ(trials.GetTrial(name, trial), 0);
    int32_t suit = -1;
    EXPECT_EQ(trials.GetSuitID(name, suit), 0);
    EXPECT_EQ(deck.SetNumCardsInSuit(suit, count), 0);
    trial->SetTrialDuration(duration);
    trial->SetInterTrialInterval(interval);
    trial->SetStartOfTrialGenerateEvent(true);
    trial->SetStartOfTrialEventString(name + " on");
    trial->SetStartOfTrialEventTTLValue(1);
    trial->SetEndOfTrialGenerateEvent(true);
    trial->SetEndOfTrialEventString(name + " off");
    trial->SetEndOfTrialEventTTLValue(2);
    return trial;
  }

  std::vector<SimCommand> Commands() const { return testing::TranscriptCommands(transcript); }
  // Commands whose text starts with `prefix`, once the simulator has
  // written the line of every command it received (bounded wait).
  std::vector<SimCommand> CommandsStartingWith(const std::string& prefix) const {
    WaitUntil([&] { return static_cast<int64_t>(Commands().size()) >= server->commands_received(); },
              2000ms);
    std::vector<SimCommand> out;
    for (const auto& c : Commands())
      if (c.text.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }
  size_t CountPrefix(const std::string& prefix) const {
    return CommandsStartingWith(prefix).size();
  }

  std::vector<std::string> Log() const { return LogTexts(logPath_); }
  size_t LogCount(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& t : Log())
      if (t.rfind(prefix, 0) == 0) ++n;
    return n;
  }
  size_t LogCountExactly(const std::string& text) const {
    size_t n = 0;
    for (const auto& t : Log())
      if (t == text) ++n;
    return n;
  }
  bool LogHas(const std::string& text) const {
    for (const auto& t : Log())
      if (t == text) return true;
    return false;
  }
  std::string ClientLog() const { return ReadWholeFile(folder_.path() + "/client.txt"); }

  const std::string& folder() const { return folder_.path(); }

 private:
  TempFolder folder_{"orvanta-faults-"};
  std::string logPath_;
  testing::FixedClock clock_;
  testing::FakeShellOpener shell_;

 public:
  testing::RecordingWindow window;
  MainWindowRef windowRef;
  testing::RecordingMessageBoxes boxes;
  LogFile log{clock_, boxes, windowRef, shell_};
  CardDeck deck{log};
  TrialContainer trials{log, deck, windowRef, boxes};

  sim::SimOptions options;
  SystemClock clientClock;
  testing::RecordingMessageBoxes clientBoxes;
  sim::Transcript transcript;
  std::unique_ptr<sim::SimServer> server;
  std::unique_ptr<VintraClient> client;
};

inline const char kStopLine1[] =
    "TrialContainer::StopProcessingTrials() - mTrialProcessingThread thread has been terminated "
    "successfully.";
inline const char kStopLine2[] =
    "TrialContainer::StopProcessingTrials() - WaitForSingleObject for mTrialProcessingThread "
    "thread completed successfully.";

}  // namespace orvanta::faults
