// Windows side of the window's "open" verb: the shell's association through
// ShellExecute (DesktopShellOpener), which hands the file over and returns;
// the opener program and the grace time serve the POSIX side only.
#include <optional>

#include "app/qt_shell_opener.h"
#include "app/window_wait.h"

namespace orvanta {

int QtShellOpener::Open(const std::string& path) {
  const std::optional<WaitCursor> cursor =
      OnWindowThread() ? std::optional<WaitCursor>(std::in_place) : std::nullopt;
  return DesktopShellOpener().Open(path);
}

}  // namespace orvanta
