// POSIX side of the setup file's atomic save: rename() over the old file,
// keeping its owner and permissions, then the folder synced.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/text_format.h"
#include "script/setup_file_save.h"

namespace orvanta {

using text_format::Format;

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

// The folder part of `path` ("." when there is none) and the name part.
void SplitFolder(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
  } else {
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

// Writes the setup through `write` into the open descriptor `fd` and
// closes it. "" on success, else why it failed.
std::string WriteAndClose(const std::function<void(std::FILE*)>& write, int fd, bool syncToDisk) {
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    return ErrnoText(error);
  }
  errno = 0;
  write(file);
  std::string failure;
  if (std::fflush(file) != 0 || std::ferror(file)) {
    failure = ErrnoText(errno != 0 ? errno : EIO);
  } else if (syncToDisk && ::fsync(::fileno(file)) != 0 && errno != EINVAL && errno != EROFS) {
    failure = ErrnoText(errno);
  }
  if (std::fclose(file) != 0 && failure.empty()) failure = ErrnoText(errno);
  return failure;
}

}  // namespace

std::string ReplaceSetupFile(const std::string& path,
                             const std::function<void(std::FILE*)>& write) {
  // A link is followed, so that the file it points to is replaced, not the
  // link itself.
  std::string target = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;
  }

  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return "the name is that of a folder";

  if (exists && !S_ISREG(info.st_mode)) {
    // A device or pipe cannot be replaced; it is written in place.
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return Format("cannot open it for writing: %s", ErrnoText(errno).c_str());
    const std::string failure = WriteAndClose(write, fd, false);
    if (!failure.empty()) return Format("writing failed: %s", failure.c_str());
    return std::string();
  }

  // A file the user may not write to stays as it is, as it would for a
  // plain open for writing; replacing it through the folder would not ask.
  if (exists && ::access(target.c_str(), W_OK) != 0) {
    return Format("cannot write to it: %s", ErrnoText(errno).c_str());
  }

  std::string folder, name;
  SplitFolder(target, folder, name);
  if (name.empty()) return "the name is that of a folder";

  // The new text goes to a temporary file beside the target first.
  static unsigned counter = 0;
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = Format("%s/.%s.tmp-%ld-%u", folder.c_str(), name.c_str(),
                       static_cast<long>(::getpid()), ++counter);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    return Format("cannot create a file in the folder %s: %s", folder.c_str(),
                  ErrnoText(errno).c_str());
  }
  if (exists) {
    // Keep the file's permissions, and its owner where we may set it.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
      // Not allowed for others' files; the new file is then ours.
    }
    ::fchmod(fd, info.st_mode & 07777);
  }

  const std::string failure = WriteAndClose(write, fd, true);
  if (!failure.empty()) {
    ::unlink(temporary.c_str());
    return Format("writing failed: %s", failure.c_str());
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return Format("cannot replace the file: %s", ErrnoText(error).c_str());
  }
  // Make the rename itself durable.
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
  return std::string();
}

}  // namespace orvanta
