// POSIX implementation of the record's file operations.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "record/record_io.h"

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

std::string FolderOf(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
}

bool LocalTm(std::chrono::system_clock::time_point when, std::tm& tm) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  return ::localtime_r(&t, &tm) != nullptr;
}

}  // namespace

bool CreateFreshFolder(const std::string& parent, const std::string& name, std::string& path,
                       std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
  if (ec) {
    error = "cannot create the folder " + parent + ": " + ec.message();
    return false;
  }
  for (int n = 1; n < 10000; ++n) {
    std::string candidate = (std::filesystem::path(parent) / name).string();
    if (n > 1) candidate += "_" + std::to_string(n);
    if (::mkdir(candidate.c_str(), 0755) == 0) {
      path = candidate;
      return true;
    }
    if (errno != EEXIST) {
      error = "cannot create the folder " + candidate + ": " + ErrorText(errno);
      return false;
    }
  }
  error = "cannot create a new folder for " + name + " in " + parent;
  return false;
}

RowFile::~RowFile() { Close(); }

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

bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string temp = path + ".tmp" + std::to_string(ThisProcessId());
  ::unlink(temp.c_str());  // a leftover of an earlier attempt of this process id
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = "cannot create " + temp + ": " + ErrorText(errno);
    return false;
  }
  bool ok = WriteAll(fd, text.data(), text.size());
  int saved = errno;
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    saved = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    error = "cannot write " + path + ": " + ErrorText(saved);
    return false;
  }
  SyncFolder(FolderOf(path));
  return true;
}

bool WriteNewFile(const std::string& path, const std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = "cannot create " + path + ": " + ErrorText(errno);
    return false;
  }
  bool ok = WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  if (!ok) error = "cannot write " + path + ": " + ErrorText(saved);
  return ok;
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

std::string LocalIsoTime(std::chrono::system_clock::time_point when) {
  std::tm tm{};
  if (!LocalTm(when, tm)) return std::string();
  char date[40];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
      1000);
  char offset[8];
  std::strftime(offset, sizeof offset, "%z", &tm);  // "+0100"
  std::string zone = offset;
  if (zone.size() == 5) zone.insert(3, ":");
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03ld%s", date, ms < 0 ? 0 : ms, zone.c_str());
  return text;
}

std::string FolderTimeStamp(std::chrono::system_clock::time_point when) {
  std::tm tm{};
  if (!LocalTm(when, tm)) return "session";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &tm);
  return text;
}

std::string ThisHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

long ThisProcessId() { return static_cast<long>(::getpid()); }

}  // namespace orvanta::record
