#include "app/qt_shell_opener.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include "app/window_wait.h"

extern char** environ;

namespace orvanta {
namespace {

constexpr std::chrono::milliseconds kPollStep{10};

// The opener's exit status in the shell's terms.
int MapExitStatus(int status) {
  if (!WIFEXITED(status)) return 0;
  switch (WEXITSTATUS(status)) {
    case 0:
      return kShellOpenOk;
    case 3:    // no application for this kind of file
    case 127:  // the shell behind the opener found no program
      return kShellNoAssociation;
    case 2:
      return kShellFileNotFound;
    default:
      return 0;
  }
}

// Reaps an opener that outlived the grace time once it ends. The thread owns
// nothing but the process id, so it may outlive every object of the program.
void ReapLater(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

int QtShellOpener::Open(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return errno == EACCES ? kShellAccessDenied : kShellFileNotFound;
  }
  if (::access(path.c_str(), R_OK) != 0) return kShellAccessDenied;

  // The opener's own chatter is not ours to show, and it reads nothing.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>(program_.c_str()), const_cast<char*>(path.c_str()),
                          nullptr};
  pid_t pid = -1;
  const int spawned =
      ::posix_spawnp(&pid, program_.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return (spawned == ENOENT || spawned == EACCES || spawned == ENOEXEC) ? kShellNoAssociation : 0;
  }

  const auto deadline = std::chrono::steady_clock::now() + grace_;
  const std::optional<WaitCursor> cursor =
      OnWindowThread() ? std::optional<WaitCursor>(std::in_place) : std::nullopt;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return MapExitStatus(status);
    if (done < 0 && errno != EINTR) return 0;  // lost track of it
    if (std::chrono::steady_clock::now() >= deadline) {
      // Still running: the viewer is up in the opener's foreground.
      ReapLater(pid);
      return kShellOpenOk;
    }
    PumpWithoutUserInput(kPollStep);
  }
}

}  // namespace orvanta
