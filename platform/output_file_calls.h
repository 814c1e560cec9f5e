// The system calls behind OpenOutputFile (output_file.h). The opening rules
// themselves (create new, else check the existing file and move it aside,
// retry a name that changes meanwhile) are the same everywhere and live in
// output_file.cpp; each platform supplies these calls in
// output_file_<platform>.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/output_file.h"

namespace orvanta::output_file {

// An open file: a descriptor or a handle, as the platform has it.
using Handle = std::intptr_t;

enum class Created { kOpened, kExists, kFailed };
enum class Opened { kOpened, kGone, kFailed };
enum class Moved { kDone, kTaken, kFailed };

// What an existing file is, as seen through a handle that did not follow a
// link.
struct ExistingFile {
  enum Kind { kRegular, kLink, kFolder, kOther };
  Kind kind = kRegular;
  bool empty = false;
  // Its last change, local time: "yyyymmdd-hhmmss".
  std::string stamp;
};

class SystemCalls {
 public:
  virtual ~SystemCalls() = default;
  // The characters after which a file's name starts in a path.
  virtual const char* FolderEnds() const = 0;
  // Creates `path` new for writing, never through a link. kExists when the
  // name is taken; kFailed with `failure` when the system refuses.
  virtual Created CreateNew(const std::string& path, Handle& file, OutputFileFailure& failure) = 0;
  // Opens what `path` names for reading, a link not followed, and tells what
  // it is. kGone when nothing has the name; kFailed (nothing left open) with
  // `failure`.
  virtual Opened OpenExisting(const std::string& path, Handle& file, ExistingFile& info,
                              OutputFileFailure& failure) = 0;
  // Takes the exclusive lock without waiting; false with `failure`.
  virtual bool TryLock(Handle file, OutputFileFailure& failure) = 0;
  // `file` is still the file that `path` names (not renamed or replaced).
  virtual bool StillNamed(Handle file, const std::string& path) = 0;
  // The start of the file (at most `size` bytes).
  virtual std::string FirstBytes(Handle file, std::size_t size) = 0;
  // Renames `from` to `to` unless `to` exists; kFailed with the system's
  // reason in `error`.
  virtual Moved MoveNoReplace(const std::string& from, const std::string& to,
                              std::string& error) = 0;
  // A stream that writes to `file` and owns it; null with `failure` (and
  // `file` closed) when there is none.
  virtual std::FILE* Stream(Handle file, OutputFileFailure& failure) = 0;
  virtual void Close(Handle file) = 0;
};

// The system calls of this platform.
SystemCalls& PlatformCalls();

// Opens `path` by the rules of output_file.h through `calls`: the stream, and
// in `movedAside` where an earlier file went (empty when none did). Null
// with `failure` when it cannot.
std::FILE* OpenStream(SystemCalls& calls, const std::string& path, const std::string& ownHeader,
                      std::string& movedAside, OutputFileFailure& failure);

}  // namespace orvanta::output_file
