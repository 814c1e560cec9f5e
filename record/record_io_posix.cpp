// POSIX side of the record's file operations: the system calls of
// record_io_calls.h, the row files, the run lock and the host's names.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "record/record_io.h"
#include "record/record_io_calls.h"

namespace orvanta::record {

namespace {

std::string ErrorText(int error) { return std::strerror(error); }

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

namespace calls {

bool MakeFolder(const std::string& path, bool& taken, std::string& error) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  taken = errno == EEXIST;
  error = ErrorText(errno);
  return false;
}

bool CreateNew(const std::string& path, File& file, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = ErrorText(errno);
    return false;
  }
  file = fd;
  return true;
}

bool WriteSynced(File file, const std::string& text, std::string& error) {
  const int fd = static_cast<int>(file);
  if (WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0) return true;
  error = ErrorText(errno);
  return false;
}

bool Close(File file, std::string& error) {
  if (::close(static_cast<int>(file)) == 0) return true;
  error = ErrorText(errno);
  return false;
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

bool ReplaceWith(const std::string& from, const std::string& to, std::string& error) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  error = ErrorText(errno);
  return false;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
}

long UtcOffsetMinutes(std::time_t /*t*/, const std::tm& local) { return local.tm_gmtoff / 60; }

}  // namespace calls

bool RowFile::Create(const std::string& path, bool truncate, std::string& error) {
  Close();
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (truncate ? O_TRUNC : O_EXCL);
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) {
    error = ErrorText(errno);
    return false;
  }
  ok_ = true;
  error_.clear();
  return true;
}

void RowFile::Append(const std::string& row) {
  if (fd_ < 0 || !ok_) return;
  if (!WriteAll(fd_, row.data(), row.size())) {
    ok_ = false;
    error_ = ErrorText(errno);
  }
}

void RowFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool ReadWholeFile(const std::string& path, std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  text.clear();
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool RunLock::Acquire(const std::string& path, std::string& error) {
  Release();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) {
    error = "cannot create " + path + ": " + ErrorText(errno);
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    error = "cannot lock " + path + ": " + ErrorText(errno);
    Release();
    return false;
  }
  return true;
}

void RunLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // releases the lock
    fd_ = -1;
  }
}

bool IsRunLockHeld(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = false;
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) held = errno == EWOULDBLOCK;
  ::close(fd);  // drops the probe's own lock, if it got one
  return held;
}

std::string ThisHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

long ThisProcessId() { return static_cast<long>(::getpid()); }

}  // namespace orvanta::record
