// The acquisition-server simulator in the test's own process: starting it
// on the loopback ports it picks, and reading its transcript back. Include
// only from tests that link orvanta_sim.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::testing {

// One line of the simulator's transcript.
struct TranscriptLine {
  uint64_t timeUs = 0;              // the command frame (or event) had arrived
  std::optional<uint64_t> replyUs;  // the reply had been sent; none without a reply
  std::string conn;
  std::string kind;  // "cmd" for a command
  std::string text;
  std::string reply;
  std::string note;
};

// Every well-formed line of `transcript` so far, in the order written.
inline std::vector<TranscriptLine> TranscriptLines(const sim::Transcript& transcript) {
  std::vector<TranscriptLine> out;
  for (const std::string& raw : transcript.Lines()) {
    const auto f = sim::SplitTranscriptLine(raw);
    if (f.size() != 7) continue;
    TranscriptLine l;
    l.timeUs = std::stoull(f[0]);
    if (f[1] != "-") l.replyUs = std::stoull(f[1]);
    l.conn = f[2];
    l.kind = f[3];
    l.text = f[4];
    l.reply = f[5];
    l.note = f[6];
    out.push_back(std::move(l));
  }
  return out;
}

// The command lines of `transcript` so far, in the order written.
inline std::vector<TranscriptLine> TranscriptCommands(const sim::Transcript& transcript) {
  std::vector<TranscriptLine> out;
  for (TranscriptLine& l : TranscriptLines(transcript))
    if (l.kind == "cmd") out.push_back(std::move(l));
  return out;
}

// Opens `transcript` keeping its lines in memory and starts a simulator
// with `options` on it into `server`. Fails the test (fatally) if either
// step fails; call it through ASSERT_NO_FATAL_FAILURE or from a void helper.
inline void StartSimServer(const sim::SimOptions& options, sim::Transcript& transcript,
                           std::unique_ptr<sim::SimServer>& server) {
  sim::TranscriptConfig config;
  config.keep_lines = true;
  std::string error;
  ASSERT_TRUE(transcript.Open(config, &error)) << error;
  server = std::make_unique<sim::SimServer>(options, transcript);
  ASSERT_TRUE(server->Start(&error)) << error;
}

}  // namespace orvanta::testing
