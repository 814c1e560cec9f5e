// orvanta-run as a child process against the simulator in the test's own
// process on loopback: the child, file helpers and the shared fixture of
// the runner's command-line tests.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/program_env.h"
#include "tests/integration/run_env.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::testing {

using Args = std::vector<std::string>;

// orvanta-run as a child process in a folder of its own; its output is read
// on a thread. Killed when the test ends if it is still running.
class Child {
 public:
  Child(const Args& args, const std::string& cwd) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::close(out[0]);
      ::close(err[0]);
      if (::chdir(cwd.c_str()) != 0) ::_exit(126);
      std::vector<std::string> copies = args;
      std::string program = ORVANTA_RUN_PATH;
      std::vector<char*> argv{program.data()};
      for (auto& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    reader_ = std::thread([this, o = out[0], e = err[0]] { Read(o, e); });
  }
  ~Child() {
    if (pid_ > 0 && status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      int s = 0;
      ::waitpid(pid_, &s, 0);
    }
    if (reader_.joinable()) reader_.join();
  }

  void Signal(int signal) { ::kill(pid_, signal); }

  // The exit status, or -1 when it did not exit within `timeout` (it is then
  // killed) or was ended by a signal.
  int Wait(std::chrono::milliseconds timeout = 20000ms) {
    const auto deadline = SteadyClock::now() + timeout;
    int s = 0;
    while (::waitpid(pid_, &s, WNOHANG) == 0) {
      if (SteadyClock::now() >= deadline) {
        ADD_FAILURE() << "orvanta-run did not end in time";
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &s, 0);
        status_ = -1;
        if (reader_.joinable()) reader_.join();
        return -1;
      }
      std::this_thread::sleep_for(5ms);
    }
    status_ = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    if (reader_.joinable()) reader_.join();
    return status_;
  }

  std::string out() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }
  std::string err() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }

 private:
  static constexpr int kRunning = -2;

  void Read(int out, int err) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
      if (::poll(fds, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          std::lock_guard<std::mutex> lock(mutex_);
          (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
        } else {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
  }

  pid_t pid_ = -1;
  int status_ = kRunning;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string out_, err_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> SplitLines(const std::string& text, const std::string& end = "\n") {
  std::vector<std::string> lines;
  size_t start = 0, at;
  while ((at = text.find(end, start)) != std::string::npos) {
    lines.push_back(text.substr(start, at - start));
    start = at + end.size();
  }
  return lines;
}

// The text of each entry of a log file (after tag, time stamp and " - ").
inline std::vector<std::string> LogFileTexts(const std::string& path) {
  std::vector<std::string> texts;
  const auto lines = SplitLines(ReadFile(path), "\r\n");
  for (size_t i = 2; i < lines.size(); ++i) texts.push_back(lines[i].substr(30));
  return texts;
}

// One CSV row split into fields (quoted fields with doubled quotes).
inline std::vector<std::string> CsvRow(const std::string& row) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < row.size(); ++i) {
    const char c = row[i];
    if (quoted) {
      if (c == '"' && i + 1 < row.size() && row[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// A port nobody listens on.
inline int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// The shared fixture for orvanta-run as a child: the simulator in this
// process with its negotiation port and its default record rate, a temp
// folder for the child to work in, no log of our own.
class RunnerCliTest : public ::testing::Test, public ProgramEnv {
 protected:
  RunnerCliTest()
      : ProgramEnv(
            Options{.logFile = false, .recordWindow = false, .folderPrefix = "orvanta-runner-"}) {
    simOptions.negotiation_enabled = true;
    simOptions.record_rate_hz = sim::SimOptions{}.record_rate_hz;
  }

  Args ServerArgs() const {
    return {"--server",           "127.0.0.1",
            "--negotiation-port", std::to_string(server->negotiation_port()),
            "--message-port",     std::to_string(server->message_port())};
  }

  std::string WriteSetup(const std::string& name, const std::string& text) {
    std::ofstream(folder() + "/" + name, std::ios::binary) << text;
    return folder() + "/" + name;
  }

  // The texts of the trial commands the simulator received, in order (the
  // connect's own commands left out).
  std::vector<std::string> TrialCommands() const {
    std::vector<std::string> out;
    for (const std::string& text : CommandTexts()) {
      for (const char* prefix :
           {"-PostEvent", "-SetDIO", "-SetDigital", "-SetDA", "-SelectDA", "-PlayDA"}) {
        if (text.rfind(prefix, 0) == 0) {
          out.push_back(text);
          break;
        }
      }
    }
    return out;
  }
};

}  // namespace orvanta::testing
