// Windows implementation of the record's file operations. Files are opened
// so that others may read them and rename or replace them (FILE_SHARE_DELETE),
// the run lock is LockFileEx on one byte, and the atomic replace is
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/win_files.h"
#include "record/record_io.h"

namespace orvanta::record {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE CreateForWriting(const std::string& path, DWORD disposition) {
  return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

// A handle as a C runtime descriptor (which then owns it), or -1.
int AsDescriptor(HANDLE file) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  if (fd < 0) ::CloseHandle(file);
  return fd;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

bool LockByte(HANDLE file, bool exclusive) {
  OVERLAPPED at{};
  at.OffsetHigh = 0x7FFFFFFF;  // past any content: readers are never kept out
  return ::LockFileEx(file, (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY,
                      0, 1, 0, &at) != 0;
}

bool LocalTm(std::chrono::system_clock::time_point when, std::tm& tm) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  return localtime_s(&tm, &t) == 0;
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
    if (::CreateDirectoryA(candidate.c_str(), nullptr)) {
      path = candidate;
      return true;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_ALREADY_EXISTS) {
      error = "cannot create the folder " + candidate + ": " + win::ErrorText(code);
      return false;
    }
  }
  error = "cannot create a new folder for " + name + " in " + parent;
  return false;
}

RowFile::~RowFile() { Close(); }

bool RowFile::Create(const std::string& path, bool truncate, std::string& error) {
  Close();
  if (truncate) {
    // A link in the file's place is not followed, as elsewhere.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      error = "it is a symbolic link, which is not followed";
      return false;
    }
  }
  const HANDLE file = CreateForWriting(path, truncate ? CREATE_ALWAYS : CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) {
    error = win::ErrorText(::GetLastError());
    return false;
  }
  fd_ = AsDescriptor(file);
  if (fd_ < 0) {
    error = "the file cannot be opened for writing";
    return false;
  }
  ok_ = true;
  error_.clear();
  return true;
}

void RowFile::Append(const std::string& row) {
  if (fd_ < 0 || !ok_) return;
  if (!WriteAll(HandleOf(fd_), row.data(), row.size())) {
    ok_ = false;
    error_ = win::ErrorText(::GetLastError());
  }
}

void RowFile::Close() {
  if (fd_ >= 0) {
    ::_close(fd_);
    fd_ = -1;
  }
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string temp = path + ".tmp" + std::to_string(ThisProcessId());
  ::DeleteFileA(temp.c_str());  // a leftover of an earlier attempt of this process id
  const HANDLE file = CreateForWriting(temp, CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create " + temp + ": " + win::ErrorText(::GetLastError());
    return false;
  }
  bool ok = WriteAll(file, text.data(), text.size()) && ::FlushFileBuffers(file);
  DWORD saved = ok ? 0 : ::GetLastError();
  ::CloseHandle(file);
  if (ok) {
    saved = win::ReplaceFileRetrying(temp, path);
    ok = saved == 0;
  }
  if (!ok) {
    ::DeleteFileA(temp.c_str());
    error = "cannot write " + path + ": " + win::ErrorText(saved);
    return false;
  }
  return true;
}

bool WriteNewFile(const std::string& path, const std::string& text, std::string& error) {
  const HANDLE file = CreateForWriting(path, CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create " + path + ": " + win::ErrorText(::GetLastError());
    return false;
  }
  const bool ok = WriteAll(file, text.data(), text.size()) && ::FlushFileBuffers(file);
  const DWORD saved = ::GetLastError();
  ::CloseHandle(file);
  if (!ok) error = "cannot write " + path + ": " + win::ErrorText(saved);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
  // Shared for deletion, so that reading never keeps a writer from
  // replacing the file.
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  text.clear();
  char buffer[65536];
  DWORD n = 0;
  bool ok = true;
  while ((ok = ::ReadFile(file, buffer, sizeof buffer, &n, nullptr) != 0) && n > 0) {
    text.append(buffer, n);
  }
  ::CloseHandle(file);
  return ok;
}

bool RunLock::Acquire(const std::string& path, std::string& error) {
  Release();
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create " + path + ": " + win::ErrorText(::GetLastError());
    return false;
  }
  if (!LockByte(file, true)) {
    error = "cannot lock " + path + ": " + win::ErrorText(::GetLastError());
    ::CloseHandle(file);
    return false;
  }
  fd_ = AsDescriptor(file);
  if (fd_ < 0) {
    error = "cannot lock " + path;
    return false;
  }
  return true;
}

void RunLock::Release() {
  if (fd_ >= 0) {
    ::_close(fd_);  // closing the handle releases the lock
    fd_ = -1;
  }
}

bool IsRunLockHeld(const std::string& path) {
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool held = !LockByte(file, false) && ::GetLastError() == ERROR_LOCK_VIOLATION;
  ::CloseHandle(file);  // drops the probe's own lock, if it got one
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
  // The offset from UTC: the local fields read as if they were UTC, less the
  // instant itself (strftime's %z gives the zone's name here).
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  const long offset = static_cast<long>(::_mkgmtime(&tm) - t) / 60;
  const long absolute = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03ld%c%02ld:%02ld", date, ms < 0 ? 0 : ms,
                offset < 0 ? '-' : '+', absolute / 60, absolute % 60);
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
  DWORD size = sizeof name;
  if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return std::string();
  return std::string(name, size);
}

long ThisProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

}  // namespace orvanta::record
