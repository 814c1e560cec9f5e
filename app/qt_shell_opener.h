// The desktop's "open" verb for the window program (View Log File), without
// blocking the window.
#pragma once

#include <chrono>
#include <string>

#include "platform/shell_open.h"

namespace orvanta {

// Opens a file with the desktop's default application through an opener
// program (xdg-open unless told otherwise), with the results of ShellOpener:
//  - the file is missing: kShellFileNotFound; it cannot be read:
//    kShellAccessDenied (both checked before anything is started);
//  - no opener program, or the opener finds no application for the file
//    (exit status 3): kShellNoAssociation;
//  - the opener reports the file missing (exit status 2): kShellFileNotFound;
//  - any other failure: 0;
//  - the opener ends with status 0, or is still running when the grace time
//    is over: kShellOpenOk.
// The last case matters because some openers run the viewer in the
// foreground and only return when the user closes it: the window must not
// wait for that. Such an opener is left running and reaped when it ends.
//
// While the opener runs, the window thread keeps its event loop going without
// user input (see RunWhileWindowWaits) under the wait cursor, so the window
// repaints and a run keeps being shown; off the window thread the caller
// sleeps in short steps.
// On Windows (qt_shell_opener_win.cpp) the shell's association opens the
// file through ShellExecute, whose results follow the same convention.
// Thread-safe; holds no state between calls.
class QtShellOpener : public ShellOpener {
 public:
  explicit QtShellOpener(std::string program = "xdg-open",
                         std::chrono::milliseconds grace = std::chrono::milliseconds(3000))
      : program_(std::move(program)), grace_(grace) {}

  int Open(const std::string& path) override;

 private:
  const std::string program_;
  const std::chrono::milliseconds grace_;
};

}  // namespace orvanta
