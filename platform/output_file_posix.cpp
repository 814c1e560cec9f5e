// POSIX side of OutputFile: O_NOFOLLOW / O_EXCL opens, flock() and a rename
// that never replaces a file.
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

#include "platform/output_file.h"

namespace orvanta {

namespace {

// How often a name that changes under us while it is opened is tried again.
constexpr int kOpenAttempts = 4;

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

// Takes the exclusive lock without waiting. False when another holder has it.
bool TryLock(int fd, OutputFileFailure& failure) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
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

OutputFileFailure Refused(std::string reason) {
  return {OutputFileFailure::kRefused, std::move(reason)};
}

OutputFileFailure OpenFailed(int error) {
  return {error == ELOOP || error == EISDIR ? OutputFileFailure::kRefused
                                            : OutputFileFailure::kCannotCreate,
          OpenFailure(error)};
}

// `fd` is still the file that `path` names (not renamed or replaced meanwhile).
bool StillNamed(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Reads the start of the file's first line (at most `size` bytes).
std::string FirstBytes(int fd, size_t size) {
  std::string bytes(size, '\0');
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, bytes.data() + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

// "<stem>.<yyyymmdd-hhmmss><extension>" for a file last changed at `when`.
std::string AsideName(const std::string& path, time_t when, int attempt) {
  const std::string::size_type slash = path.find_last_of('/');
  const std::string::size_type dot = path.find_last_of('.');
  const bool hasExtension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExtension ? path.substr(0, dot) : path;
  const std::string extension = hasExtension ? path.substr(dot) : std::string();
  struct tm local {};
  localtime_r(&when, &local);
  char stamp[32];
  ::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string name = stem + "." + stamp;
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return name + extension;
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

enum class Step { kDone, kRetry, kFailed };

// The name exists: check that it is ours and move it aside, holding its lock
// meanwhile so that a program still writing it is never disturbed.
Step MoveExistingAside(const std::string& path, const std::string& ownHeader, std::string& movedTo,
                       OutputFileFailure& failure) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return Step::kRetry;  // gone meanwhile
    failure = OpenFailed(errno);
    return Step::kFailed;
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};

  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    failure = {OutputFileFailure::kCannotCreate, ErrnoText(errno)};
    return Step::kFailed;
  }
  if (S_ISDIR(info.st_mode)) {
    failure = Refused("it is a folder");
    return Step::kFailed;
  }
  if (!S_ISREG(info.st_mode)) {
    failure = Refused("it is not a regular file");
    return Step::kFailed;
  }
  if (!TryLock(fd, failure)) return Step::kFailed;
  if (!StillNamed(fd, path)) return Step::kRetry;
  // An empty file holds nothing to lose (a program that stopped before its
  // first line); any other content must be our own.
  if (info.st_size != 0 && FirstBytes(fd, ownHeader.size()) != ownHeader) {
    failure = Refused(
        "it exists and was not written by this program (its first line differs); it was left "
        "untouched");
    return Step::kFailed;
  }
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string aside = AsideName(path, info.st_mtime, attempt);
    const int result = RenameNoReplace(path, aside);
    if (result == 0) {
      movedTo = aside;
      return Step::kDone;
    }
    if (result != EEXIST) {
      failure = {OutputFileFailure::kCannotCreate, "the earlier file could not be moved aside to " +
                                                       aside + ": " + ErrnoText(result)};
      return Step::kFailed;
    }
  }
  failure = {OutputFileFailure::kCannotCreate,
             "the earlier file could not be moved aside: every name for it is taken"};
  return Step::kFailed;
}

}  // namespace

OutputFile::OutputFile(std::FILE* stream, std::string path, std::string movedAside)
    : stream_(stream), path_(std::move(path)), movedAside_(std::move(movedAside)) {}

OutputFile::~OutputFile() { std::fclose(stream_); }

std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path, const std::string& ownHeader,
                                           OutputFileFailure& failure) {
  failure = OutputFileFailure{};
  if (path.empty()) {
    failure = {OutputFileFailure::kCannotCreate, "the name is empty"};
    return nullptr;
  }
  std::string movedAside;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
      if (errno != EEXIST) {
        failure = OpenFailed(errno);
        return nullptr;
      }
      // Also a dangling symbolic link ends here: O_EXCL never creates its target.
      std::string movedTo;
      switch (MoveExistingAside(path, ownHeader, movedTo, failure)) {
        case Step::kFailed:
          return nullptr;
        case Step::kDone:
          if (movedAside.empty()) movedAside = movedTo;
          break;
        case Step::kRetry:
          break;
      }
      continue;
    }
    if (!TryLock(fd, failure)) {
      // Another program took the new name first; its file is its own.
      ::close(fd);
      return nullptr;
    }
    if (!StillNamed(fd, path)) {
      ::close(fd);
      continue;
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
      failure = {OutputFileFailure::kCannotCreate, ErrnoText(errno)};
      ::close(fd);
      return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(stream, path, movedAside));
  }
  failure = {OutputFileFailure::kInUse,
             "the name kept changing while it was being opened (another program is using it)"};
  return nullptr;
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
