#include "bench/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace orvanta::bench {

using namespace std::chrono_literals;

ChildProcess::~ChildProcess() {
  if (running()) Stop(SIGKILL, 2000ms);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& outputPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  args.reserve(argv.size());
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  pid_ = pid;
  status_.reset();
  return true;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (status_ || pid_ <= 0) return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (r < 0) {
      status_ = -1;
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(2ms);
  }
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds timeout) {
  if (!running()) return status_.value_or(-1);
  kill(pid_, signal);
  if (auto s = Wait(timeout)) return *s;
  kill(pid_, SIGKILL);
  return Wait(5000ms).value_or(-1);
}

SimProcess::SimProcess(const std::string& simPath, const std::string& dir,
                       const std::vector<std::string>& extraArgs)
    : simPath_(simPath),
      dir_(dir),
      transcript_(dir + "/transcript.tsv"),
      portFile_(dir + "/sim.ports"),
      extraArgs_(extraArgs) {}

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(std::string* error) {
  std::vector<std::string> argv = {simPath_,      "--no-negotiation", "--message-port", "0",
                                   "--port-file", portFile_,          "--transcript",   transcript_,
                                   "--quiet"};
  argv.insert(argv.end(), extraArgs_.begin(), extraArgs_.end());
  if (!process_.Start(argv, dir_ + "/sim.out")) {
    *error = "cannot start " + simPath_;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string line = ReadFile(portFile_);
    const auto at = line.find("message=");
    if (at != std::string::npos) {  // the file appears whole (it is renamed into place)
      messagePort_ = std::stoi(line.substr(at + 8));
      return true;
    }
    if (process_.Wait(0ms)) break;
    std::this_thread::sleep_for(10ms);
  }
  *error = "the simulator did not open its ports: " + ReadFile(dir_ + "/sim.out");
  return false;
}

void SimProcess::Stop() { process_.Stop(SIGTERM, 5000ms); }

std::optional<MemoryUse> ReadMemoryUse(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  if (!in) return std::nullopt;
  MemoryUse m;
  bool rss = false, peak = false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    long value = 0;
    fields >> key >> value;
    if (key == "VmRSS:") m.rssKiB = value, rss = true;
    if (key == "VmHWM:") m.peakKiB = value, peak = true;
  }
  if (!rss || !peak) return std::nullopt;
  return m;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::string::size_type start = 0, tab;
  while ((tab = line.find('\t', start)) != std::string::npos) {
    out.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  out.push_back(line.substr(start));
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orvanta::bench
