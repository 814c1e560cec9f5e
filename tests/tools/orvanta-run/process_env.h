// Runs orvanta-run as a child process for the end-to-end fault tests, with
// its output in files, an optional file size limit (a disk that fills up),
// and a bounded wait.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/fault_env.h"

namespace orvanta::faults {

struct ProcessResult {
  int status = -1;  // exit status; 128 + signal when killed; -1 when it timed out
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::string cwd;
  // Limit on the size of any file the process writes (RLIMIT_FSIZE), so that
  // writes beyond it fail as on a full disk. 0: none.
  long fileSizeLimit = 0;
  std::chrono::milliseconds timeout{60000};
};

// Runs `argv` to its end (or kills it after the time-out).
inline ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& opt) {
  ProcessResult result;
  const std::string outPath = opt.cwd + "/.child.out";
  const std::string errPath = opt.cwd + "/.child.err";
  std::vector<char*> args;
  args.reserve(argv.size());
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(opt.cwd.c_str()) != 0) _exit(126);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(126);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (opt.fileSizeLimit > 0) {
      // A write beyond the limit then fails with EFBIG instead of raising
      // SIGXFSZ (an ignored signal stays ignored across exec).
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(opt.fileSizeLimit), static_cast<rlim_t>(opt.fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::execv(args[0], args.data());
    _exit(127);
  }
  if (pid < 0) return result;

  const auto deadline = SteadyClock::now() + opt.timeout;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (SteadyClock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.status = -1;
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
  return result;
}

}  // namespace orvanta::faults
