// quorvin-sim: a stand-in for the Quorvin acquisition server, for rehearsing
// protocols without a rig and for the end-to-end tests and benchmarks.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/console_stop.h"
#include "tools/quorvin-sim/sim_options.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace {

// Writes the start-up line to `path` whole: first to a neighbour file, then
// renamed, so that a script polling for the file never reads half a line.
bool WritePortFile(const std::string& path, const std::string& line, std::string* error) {
  const std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write port file '" + path + "': " + std::strerror(errno);
    return false;
  }
  const std::string text = line + "\n";
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot write port file '" + path + "': " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvanta::sim;

  std::vector<std::string> args(argv + 1, argv + argc);
  const ParseResult parsed = ParseOptions(args);
  if (parsed.status == ParseStatus::kHelp) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.status == ParseStatus::kVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.status == ParseStatus::kError) {
    std::fprintf(stderr, "quorvin-sim: %s (see quorvin-sim --help)\n", parsed.error.c_str());
    return kExitUsage;
  }
  const SimOptions& options = parsed.options;

  // Stop requests (SIGINT, SIGTERM; Ctrl+C or a closed console on Windows)
  // are waited for below, before any thread starts. A client that vanishes
  // must not end the simulator with SIGPIPE either.
  orvanta::PrepareConsoleStops();

  Transcript transcript;
  SimServer server(options, transcript);
  std::string error;
  if (!server.Open(&error)) {
    std::fprintf(stderr, "quorvin-sim: %s\n", error.c_str());
    return kExitUnavailable;
  }
  const std::string startup = server.StartupLine();
  std::printf("%s\n", startup.c_str());
  std::fflush(stdout);

  TranscriptConfig config;
  config.path = options.transcript_path;
  config.echo = options.quiet ? nullptr : stdout;
  if (!transcript.Open(config, &error)) {
    std::fprintf(stderr, "quorvin-sim: %s\n", error.c_str());
    return kExitCantCreate;
  }
  server.Run();
  if (!options.port_file.empty() && !WritePortFile(options.port_file, startup, &error)) {
    std::fprintf(stderr, "quorvin-sim: %s\n", error.c_str());
    server.Stop();
    return kExitCantCreate;
  }

  orvanta::WaitForConsoleStop();
  server.Stop();
  transcript.Close();
  if (!options.port_file.empty()) std::remove(options.port_file.c_str());
  return kExitOk;
}
