// POSIX side of the platform seams: the local calendar, the shell's open
// verb through xdg-open, and paths with '/'.
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/local_calendar.h"
#include "platform/paths.h"
#include "platform/shell_open.h"

namespace orvanta {

bool LocalCalendar(std::time_t t, std::tm& local) { return ::localtime_r(&t, &local) != nullptr; }

int DesktopShellOpener::Open(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == EACCES ? kShellAccessDenied : kShellFileNotFound;
  }
  if (::access(path.c_str(), R_OK) != 0) return kShellAccessDenied;

  const pid_t pid = ::fork();
  if (pid < 0) return 0;
  if (pid == 0) {
    // The opener's own chatter is not ours to show.
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execlp("xdg-open", "xdg-open", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0;
  }
  if (!WIFEXITED(status)) return 0;
  switch (WEXITSTATUS(status)) {
    case 0:
      return kShellOpenOk;
    case 3:    // no tool that could open it
    case 127:  // no xdg-open at all
      return kShellNoAssociation;
    case 2:
      return kShellFileNotFound;
    default:
      return 0;
  }
}

char PathSeparator() { return '/'; }

std::string CurrentDirectoryWithSeparator() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  std::string dir(buffer);
  if (dir.empty() || dir.back() != PathSeparator()) dir.push_back(PathSeparator());
  return dir;
}

}  // namespace orvanta
