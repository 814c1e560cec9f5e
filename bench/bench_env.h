// Shared pieces of the benchmark programs: quiet seams for the model objects
// and the acquisition-server simulator run in-process on loopback ports it
// picks itself.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::bench {

// Message boxes nobody sees: every box is answered at once with OK.
class SilentBoxes : public MessageBoxes {
 public:
  using MessageBoxes::Show;
  BoxResult Show(const std::string&, const std::string&, BoxIcon, BoxButtons buttons) override {
    ++shown;
    return buttons == BoxButtons::kYesNo ? BoxResult::kYes : BoxResult::kOk;
  }
  int shown = 0;
};

class NoShell : public ShellOpener {
 public:
  int Open(const std::string&) override { return 0; }
};

// A temporary folder removed with its contents on destruction.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvanta-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The simulator on loopback: direct message port only, no echo.
class SimHarness {
 public:
  explicit SimHarness(sim::SimOptions options, bool keepLines = false) {
    options.negotiation_enabled = false;
    options.negotiation_port = 0;
    options.message_port = 0;
    options.quiet = true;
    sim::TranscriptConfig config;
    config.keep_lines = keepLines;
    std::string error;
    if (!transcript_.Open(config, &error)) throw std::runtime_error(error);
    server_ = std::make_unique<sim::SimServer>(options, transcript_);
    if (!server_->Start(&error)) throw std::runtime_error(error);
  }
  ~SimHarness() { server_->Stop(); }
  SimHarness(const SimHarness&) = delete;
  SimHarness& operator=(const SimHarness&) = delete;

  int port() const { return server_->message_port(); }
  sim::SimServer& server() { return *server_; }
  sim::Transcript& transcript() { return transcript_; }

 private:
  sim::Transcript transcript_;
  std::unique_ptr<sim::SimServer> server_;
};

// One command line of a transcript: when the command frame had arrived,
// when its reply had been sent, and the text.
struct TranscriptCommand {
  uint64_t timeUs = 0;
  std::optional<uint64_t> replyUs;
  std::string text;
  std::string reply;
};

inline std::vector<TranscriptCommand> TranscriptCommands(const sim::Transcript& transcript) {
  std::vector<TranscriptCommand> out;
  for (const auto& line : transcript.Lines()) {
    const auto f = sim::SplitTranscriptLine(line);
    if (f.size() != 7 || f[3] != "cmd") continue;
    TranscriptCommand c;
    c.timeUs = std::stoull(f[0]);
    if (f[1] != "-") c.replyUs = std::stoull(f[1]);
    c.text = f[4];
    c.reply = f[5];
    out.push_back(c);
  }
  return out;
}

inline double MicrosBetween(std::chrono::steady_clock::time_point a,
                            std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

}  // namespace orvanta::bench
