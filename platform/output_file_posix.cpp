// POSIX side of OutputFile: the system calls of its opening rules
// (output_file.cpp) and the comparison of two names.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/local_calendar.h"
#include "platform/output_file.h"
#include "platform/output_file_calls.h"

namespace orvanta {

namespace {

using output_file::Created;
using output_file::ExistingFile;
using output_file::Handle;
using output_file::Moved;
using output_file::Opened;

std::string ErrnoText(int error) { return std::strerror(error); }

// Reason text for a failed open() of an output file.
std::string OpenFailure(int error) {
  switch (error) {
    case ELOOP:
      return "it is a symbolic link, which is not followed";
    case ENOENT:
      return "its folder does not exist";
    case ENAMETOOLONG:
      return "the name is too long";
    case EISDIR:
      return "it is a folder";
    default:
      return ErrnoText(error);
  }
}

OutputFileFailure OpenFailed(int error) {
  return {error == ELOOP || error == EISDIR ? OutputFileFailure::kRefused
                                            : OutputFileFailure::kCannotCreate,
          OpenFailure(error)};
}

int Fd(Handle file) { return static_cast<int>(file); }

// "yyyymmdd-hhmmss" for a file last changed at `when`.
std::string Stamp(time_t when) {
  std::tm local{};
  LocalCalendar(when, local);
  char stamp[32];
  ::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return stamp;
}

// Renames `from` to `to` unless `to` exists. 0, or an errno value.
int RenameNoReplace(const std::string& from, const std::string& to) {
#if defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // File systems without the flag: a hard link fails on an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    const int error = errno;
    ::unlink(to.c_str());
    return error;
  }
  return 0;
}

// O_NOFOLLOW / O_EXCL opens, flock() and a rename that never replaces.
class PosixCalls final : public output_file::SystemCalls {
 public:
  const char* FolderEnds() const override { return "/"; }

  Created CreateNew(const std::string& path, Handle& file, OutputFileFailure& failure) override {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd >= 0) {
      file = fd;
      return Created::kOpened;
    }
    if (errno == EEXIST) return Created::kExists;
    failure = OpenFailed(errno);
    return Created::kFailed;
  }

  Opened OpenExisting(const std::string& path, Handle& file, ExistingFile& info,
                      OutputFileFailure& failure) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      if (errno == ENOENT) return Opened::kGone;
      failure = OpenFailed(errno);
      return Opened::kFailed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      failure = {OutputFileFailure::kCannotCreate, ErrnoText(errno)};
      ::close(fd);
      return Opened::kFailed;
    }
    info.kind = S_ISDIR(st.st_mode)   ? ExistingFile::kFolder
                : S_ISREG(st.st_mode) ? ExistingFile::kRegular
                                      : ExistingFile::kOther;
    info.empty = st.st_size == 0;
    info.stamp = Stamp(st.st_mtime);
    file = fd;
    return Opened::kOpened;
  }

  bool TryLock(Handle file, OutputFileFailure& failure) override {
    while (::flock(Fd(file), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) {
        failure = {OutputFileFailure::kInUse, "it is in use by another program (it is locked)"};
      } else {
        failure = {OutputFileFailure::kCannotCreate, "it cannot be locked: " + ErrnoText(errno)};
      }
      return false;
    }
    return true;
  }

  bool StillNamed(Handle file, const std::string& path) override {
    struct stat open {
    }, named{};
    return ::fstat(Fd(file), &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
  }

  std::string FirstBytes(Handle file, size_t size) override {
    std::string bytes(size, '\0');
    size_t got = 0;
    while (got < size) {
      const ssize_t n = ::pread(Fd(file), bytes.data() + got, size - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }

  Moved MoveNoReplace(const std::string& from, const std::string& to, std::string& error) override {
    const int result = RenameNoReplace(from, to);
    if (result == 0) return Moved::kDone;
    if (result == EEXIST) return Moved::kTaken;
    error = ErrnoText(result);
    return Moved::kFailed;
  }

  std::FILE* Stream(Handle file, OutputFileFailure& failure) override {
    std::FILE* stream = ::fdopen(Fd(file), "wb");
    if (stream == nullptr) {
      failure = {OutputFileFailure::kCannotCreate, ErrnoText(errno)};
      ::close(Fd(file));
    }
    return stream;
  }

  void Close(Handle file) override { ::close(Fd(file)); }
};

}  // namespace

output_file::SystemCalls& output_file::PlatformCalls() {
  static PosixCalls calls;
  return calls;
}

namespace {

// The path with its folder resolved ("." when it has none); the text as
// given when the folder does not exist.
std::string CanonicalOutputPath(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char resolved[PATH_MAX];
  if (::realpath(folder.c_str(), resolved) == nullptr) return path;
  return std::string(resolved) + "/" + name;
}

}  // namespace

bool SameOutputFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return CanonicalOutputPath(a) == CanonicalOutputPath(b);
}

}  // namespace orvanta
