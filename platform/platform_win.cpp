// Windows side of the platform seams: local time, stderr message boxes, the
// shell's open verb through ShellExecute, and paths with '\\'.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <ctime>

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
  const std::time_t t = static_cast<std::time_t>(seconds.count());
  std::tm tm_local{};
  localtime_s(&tm_local, &t);
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
