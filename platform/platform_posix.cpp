#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/shell_open.h"

namespace orvanta {

LocalTime SystemClock::Now() const {
  const auto now = std::chrono::system_clock::now();
  const auto since_epoch = now.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch - seconds).count();
  time_t t = static_cast<time_t>(seconds.count());
  struct tm tm_local {};
  localtime_r(&t, &tm_local);
  LocalTime lt;
  lt.year = tm_local.tm_year + 1900;
  lt.month = tm_local.tm_mon + 1;
  lt.day = tm_local.tm_mday;
  lt.hour = tm_local.tm_hour;
  lt.minute = tm_local.tm_min;
  lt.second = tm_local.tm_sec;
  lt.millisecond = static_cast<int>(millis);
  return lt;
}

BoxResult StderrMessageBoxes::Show(const std::string& text, const std::string& caption,
                                   BoxIcon /*icon*/, BoxButtons buttons) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  if (buttons == BoxButtons::kAddReplaceCancel) return BoxResult::kAdd;
  return buttons == BoxButtons::kYesNo ? BoxResult::kYes : BoxResult::kOk;
}

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
