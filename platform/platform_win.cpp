// Windows side of the platform seams: the local calendar, the shell's open
// verb through ShellExecute, and paths with '\\'.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <ctime>
#include <string>

#include "platform/local_calendar.h"
#include "platform/paths.h"
#include "platform/shell_open.h"

namespace orvanta {

bool LocalCalendar(std::time_t t, std::tm& local) { return ::localtime_s(&local, &t) == 0; }

int DesktopShellOpener::Open(const std::string& path) {
  // The shell's own results already follow the convention of shell_open.h.
  const HINSTANCE result =
      ::ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

char PathSeparator() { return '\\'; }

std::string CurrentDirectoryWithSeparator() {
  const DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return std::string();
  std::string dir(size, '\0');
  const DWORD length = ::GetCurrentDirectoryA(size, dir.data());
  if (length == 0 || length >= size) return std::string();
  dir.resize(length);
  if (dir.back() != '\\' && dir.back() != '/') dir.push_back(PathSeparator());
  return dir;
}

}  // namespace orvanta
