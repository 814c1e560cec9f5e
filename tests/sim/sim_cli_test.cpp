// The quorvin-sim executable: help, command-line errors and their exit codes,
// the start-up line and port file on free ports, the transcript file, quiet
// mode, and a clean exit on SIGTERM and SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/version.h"
#include "tests/sim/raw_client.h"

namespace orvanta::sim {
namespace {

using testing::RawClient;
using testing::RawListener;

// The simulator as a child process with its stdout and stderr on pipes.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      std::vector<char*> argv;
      std::string path = QUORVIN_SIM_PATH;
      argv.push_back(path.data());
      std::vector<std::string> copy = args;
      for (auto& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }

  ~SimProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  pid_t pid() const { return pid_; }

  // The next line of stdout, waiting at most `timeout_ms`.
  std::optional<std::string> ReadLine(int timeout_ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
      const size_t nl = out_buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = out_buffer_.substr(0, nl);
        out_buffer_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      out_buffer_.append(buf, static_cast<size_t>(n));
    }
  }

  // The exit status, once the process ended within `timeout_ms`; -1 if it
  // did not (it is killed then), -2 if it died of a signal.
  int WaitExit(int timeout_ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  // Everything left on a pipe once the process has ended.
  static std::string ReadAll(int fd) {
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    return all;
  }
  std::string RestOfStdout() { return out_buffer_ + ReadAll(out_); }
  std::string Stderr() { return ReadAll(err_); }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool exited_ = false;
  std::string out_buffer_;
};

// "quorvin-sim listening negotiation=P message=Q" -> P and Q (-1 for "off").
bool ParseStartup(const std::string& line, int* negotiation, int* message) {
  char neg[16] = {};
  if (std::sscanf(line.c_str(), "quorvin-sim listening negotiation=%15s message=%d", neg,
                  message) != 2) {
    return false;
  }
  *negotiation = std::string(neg) == "off" ? -1 : std::atoi(neg);
  return true;
}

class TempDir {
 public:
  TempDir() {
    char t[] = "/tmp/quorvin-sim-cli-XXXXXX";
    path_ = mkdtemp(t) ? t : "";
  }
  ~TempDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SimCliTest, HelpPrintsUsageAndExitsZero) {
  SimProcess p({"--help"});
  const auto first = p.ReadLine();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, "Usage: quorvin-sim [OPTION]...");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_NE(p.RestOfStdout().find("--negotiation-port N"), std::string::npos);
  EXPECT_EQ(p.Stderr(), "");

  SimProcess version({"--version"});
  EXPECT_EQ(version.WaitExit(), 0);
  EXPECT_EQ(version.RestOfStdout(), "quorvin-sim " ORVANTA_VERSION "\n");
}

TEST(SimCliTest, BadOptionsExit64WithOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "quorvin-sim: unknown option '--bogus' (see quorvin-sim --help)\n"},
      {{"--message-port", "abc"},
       "quorvin-sim: invalid value 'abc' for --message-port: expected a port from 0 to 65535 (see "
       "quorvin-sim --help)\n"},
      {{"--no-reply"}, "quorvin-sim: option --no-reply needs a value (see quorvin-sim --help)\n"},
      {{"--version=1"}, "quorvin-sim: option --version takes no value (see quorvin-sim --help)\n"},
      {{"--object", "A=CscAcqEnt", "--emit", "B@5"},
       "quorvin-sim: invalid value 'B@5' for --emit: no object 'B' in the simulator's object list: "
       "A (see quorvin-sim --help)\n"},
  };
  for (const auto& [args, expected] : cases) {
    SimProcess p(args);
    EXPECT_EQ(p.WaitExit(), 64) << args[0];
    EXPECT_EQ(p.Stderr(), expected);
    EXPECT_EQ(p.RestOfStdout(), "");
  }
}

TEST(SimCliTest, BusyPortExits69AndUnwritableTranscriptExits73) {
  RawListener busy;
  {
    SimProcess p({"--negotiation-port", "0", "--message-port", std::to_string(busy.port())});
    EXPECT_EQ(p.WaitExit(), 69);
    EXPECT_NE(p.Stderr().find("cannot listen on 127.0.0.1:" + std::to_string(busy.port())),
              std::string::npos);
  }
  {
    SimProcess p({"--negotiation-port", "0", "--message-port", "0", "--transcript",
                  "/nonexistent-dir/t.tsv"});
    EXPECT_EQ(p.WaitExit(), 73);
    EXPECT_NE(p.Stderr().find("cannot write transcript '/nonexistent-dir/t.tsv'"),
              std::string::npos);
  }
}

TEST(SimCliTest, ServesOnFreePortsWritesTranscriptAndStopsOnSigterm) {
  TempDir dir;
  const std::string transcript = dir.File("t.tsv");
  const std::string port_file = dir.File("ports");
  SimProcess p({"--negotiation-port", "0", "--message-port", "0", "--transcript", transcript,
                "--port-file", port_file});
  const auto startup = p.ReadLine();
  ASSERT_TRUE(startup);
  int negotiation = 0, message = 0;
  ASSERT_TRUE(ParseStartup(*startup, &negotiation, &message)) << *startup;
  EXPECT_GT(negotiation, 0);
  EXPECT_GT(message, 0);
  // The transcript is echoed on stdout after the start-up line.
  EXPECT_EQ(p.ReadLine(), "# time_us\treply_us\tconn\tkind\ttext\treply\tnote");

  // The port file appears, whole, once the listeners are open.
  std::string ports;
  for (int i = 0; i < 500 && ports.empty(); ++i) {
    ports = ReadFile(port_file);
    if (ports.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ports, *startup + "\n");

  {
    RawClient c;
    ASSERT_TRUE(c.Connect(negotiation));
    const auto reply = c.Exchange("-GetNextAvailablePortNumber");
    ASSERT_TRUE(reply);
    RawClient m;
    ASSERT_TRUE(m.Connect(std::stoi(reply->substr(2))));
    EXPECT_EQ(m.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  }
  bool echoed = false;
  for (int i = 0; i < 20 && !echoed; ++i) {
    const auto line = p.ReadLine();
    if (!line) break;
    echoed = line->find("/handout\tcmd\t-GetApplicationName\t0 Quorvin Simulator\t") !=
             std::string::npos;
  }
  EXPECT_TRUE(echoed);

  ASSERT_EQ(kill(p.pid(), SIGTERM), 0);
  EXPECT_EQ(p.WaitExit(), 0);
  const std::string content = ReadFile(transcript);
  EXPECT_EQ(content.rfind("# time_us\t", 0), 0u);
  EXPECT_NE(content.find("\t-\t-\tstop\tsimulator stopped\t\t2 commands received\n"),
            std::string::npos)
      << content;
  EXPECT_EQ(content.back(), '\n');
  struct stat st;
  EXPECT_NE(stat(port_file.c_str(), &st), 0);  // removed at exit
}

TEST(SimCliTest, QuietPrintsOnlyTheStartupLineAndSigintStops) {
  SimProcess p({"--negotiation-port", "0", "--message-port", "0", "--quiet", "--no-negotiation"});
  const auto startup = p.ReadLine();
  ASSERT_TRUE(startup);
  int negotiation = 0, message = 0;
  ASSERT_TRUE(ParseStartup(*startup, &negotiation, &message)) << *startup;
  EXPECT_EQ(negotiation, -1);
  {
    RawClient c;
    ASSERT_TRUE(c.Connect(message));
    EXPECT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  }
  ASSERT_EQ(kill(p.pid(), SIGINT), 0);
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_EQ(p.RestOfStdout(), "");
}

}  // namespace
}  // namespace orvanta::sim
