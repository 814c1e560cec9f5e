// The project's executables run as child processes by the benchmarks: the
// simulator (quorvin-sim) on free ports, and orvanta-run against it. Every
// wait is bounded; a child still running when its object goes is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::bench {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with the arguments, stdout and stderr going to
  // `outputPath` (appended). False when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::string& outputPath);

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !status_; }
  // The exit status once ended (128 + signal for a signal), waiting at most
  // `timeout`; nothing when it is still running then.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // Sends `signal`; then waits up to `timeout` and kills it when it still runs.
  int Stop(int signal, std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// quorvin-sim on free ports, its transcript written to a file.
class SimProcess {
 public:
  // `extraArgs` are added to the command line (record rate, faults ...).
  SimProcess(const std::string& simPath, const std::string& dir,
             const std::vector<std::string>& extraArgs = {});
  ~SimProcess();

  // Starts it and waits (at most 10 s) for its port file. False on failure.
  bool Start(std::string* error);
  // SIGTERM, bounded wait; the transcript is complete afterwards.
  void Stop();

  int messagePort() const { return messagePort_; }
  const std::string& transcriptPath() const { return transcript_; }

 private:
  std::string simPath_, dir_, transcript_, portFile_;
  std::vector<std::string> extraArgs_;
  ChildProcess process_;
  int messagePort_ = 0;
};

// The resident and peak resident set sizes of a process, in KiB, from
// /proc/PID/status; nothing when it cannot be read.
struct MemoryUse {
  long rssKiB = 0;
  long peakKiB = 0;
};
std::optional<MemoryUse> ReadMemoryUse(pid_t pid);

// Splits a transcript line into its tab-separated fields.
std::vector<std::string> SplitTabs(const std::string& line);

// The whole text of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace orvanta::bench
