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

#include "fakes/sim_transcript.h"
#include "tests/integration/run_env.h"

namespace orvanta::testing {

// One command line of the transcript (replyUs: none without a reply).
using SimCommand = TranscriptLine;

class SimEnv : public ModelEnv {
 public:
  // Starts the simulator and connects the client to it directly on its
  // message port. With messageOnly, only the message connection is made (one
  // exchange instead of the fifteen of a full connect, for servers that
  // answer slowly).
  void Start(bool messageOnly = false) {
    ASSERT_NO_FATAL_FAILURE(StartSim());
    if (messageOnly) {
      ASSERT_TRUE(
          client.GetNetworkNodeClient().InitializeClient("127.0.0.1", server->message_port()));
      trials.SetCommandChannel(&client);
    } else {
      ASSERT_TRUE(ConnectClient());
    }
    // Only the commands from here on count.
    ASSERT_TRUE(
        WaitUntil([&] { return static_cast<int64_t>(CommandLines(0).size()) == received(); }));
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

  sim::SimOptions& options = simOptions;

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
