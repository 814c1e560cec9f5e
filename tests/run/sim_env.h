// The trial model connected to the acquisition-server simulator, run
// in-process on loopback ports it picks itself. Timing is read from the
// simulator's transcript: the moment each command frame had arrived and the
// moment its reply had been handed to the socket, on one steady clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/vintra_client.h"
#include "fakes/sim_transcript.h"
#include "platform/clock.h"
#include "tests/run/run_env.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::testing {

// One command line of the transcript (replyUs: none without a reply).
using SimCommand = TranscriptLine;

class SimEnv : public ModelEnv {
 public:
  SimEnv() {
    options.negotiation_enabled = false;
    options.negotiation_port = 0;
    options.message_port = 0;
    options.record_rate_hz = 1;
  }
  ~SimEnv() override {
    // The worker uses the client; it must end first.
    trials.StopProcessingTrials();
    trials.JoinWorkers();
    client.reset();
    if (server) server->Stop();
  }

  // Starts the simulator with `options` and connects the client to it
  // directly on its message port. With messageOnly, only the message
  // connection is made (one exchange instead of the fifteen of a full
  // connect, for servers that answer slowly).
  void Start(bool messageOnly = false) {
    ASSERT_NO_FATAL_FAILURE(StartSimServer(options, transcript, server));
    client = std::make_unique<VintraClient>(clientClock, clientBoxes);
    if (messageOnly) {
      ASSERT_TRUE(client->GetNetworkNodeClient().InitializeClient("127.0.0.1",
                                                                  server->message_port()));
    } else {
      ASSERT_TRUE(client->ConnectToServer("127.0.0.1", false, 0, server->message_port()));
    }
    trials.SetCommandChannel(client.get());
    // Only the commands from here on count.
    ASSERT_TRUE(WaitUntil(
        [&] { return static_cast<int64_t>(CommandLines(0).size()) == received(); }));
    first_ = CommandLines(0).size();
  }

  int64_t received() const { return server->commands_received(); }

  // The trial commands the simulator has answered (or withheld) so far. A
  // command's line is written just after its reply has gone out, so the
  // lines of every command received are waited for first.
  std::vector<SimCommand> Commands() const {
    WaitUntil([&] { return static_cast<int64_t>(CommandLines(0).size()) >= received(); }, 2000ms);
    return CommandLines(first_);
  }
  std::vector<std::string> CommandTexts() const {
    std::vector<std::string> out;
    for (const auto& c : Commands()) out.push_back(c.text);
    return out;
  }
  // Waits until `n` trial commands are in the transcript.
  bool WaitForCommands(size_t n, std::chrono::milliseconds timeout = 5000ms) const {
    return WaitUntil([&] { return Commands().size() >= n; }, timeout);
  }

  sim::SimOptions options;
  SystemClock clientClock;
  RecordingMessageBoxes clientBoxes;
  sim::Transcript transcript;
  std::unique_ptr<sim::SimServer> server;
  std::unique_ptr<VintraClient> client;

 private:
  std::vector<SimCommand> CommandLines(size_t skip) const {
    std::vector<SimCommand> out = TranscriptCommands(transcript);
    if (skip >= out.size()) return {};
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(skip));
    return out;
  }

  size_t first_ = 0;
};

}  // namespace orvanta::testing
