// Saving a whole setup file so that a failed save never damages the file
// already there: the text goes to a temporary file beside it, flushed to
// disk, which then replaces it in one step. A symbolic link is followed (the
// file it points to is replaced); a device or pipe is written in place.
// POSIX in setup_file_save_posix.cpp, Windows (MoveFileEx, replacing and
// writing through) in setup_file_save_win.cpp.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace orvanta {

// Replaces `path` with what `write` puts into the stream it is given (binary
// mode). "" on success, else the reason, e.g. "the name is that of a
// folder" or "cannot replace the file: ...". Thread-safe.
std::string ReplaceSetupFile(const std::string& path, const std::function<void(std::FILE*)>& write);

}  // namespace orvanta
