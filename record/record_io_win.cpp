// Windows side of the record's file operations (the system calls of
// record_io_calls.h among them). Files are opened
// so that others may read them and rename or replace them (FILE_SHARE_DELETE),
// the run lock is LockFileEx on one byte, and the atomic replace is
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <ctime>

#include "platform/win_files.h"
#include "record/record_io.h"
#include "record/record_io_calls.h"

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

}  // namespace

namespace calls {

bool MakeFolder(const std::string& path, bool& taken, std::string& error) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
  const DWORD code = ::GetLastError();
  taken = code == ERROR_ALREADY_EXISTS;
  error = win::ErrorText(code);
  return false;
}

bool CreateNew(const std::string& path, File& file, std::string& error) {
  const HANDLE created = CreateForWriting(path, CREATE_NEW);
  if (created == INVALID_HANDLE_VALUE) {
    error = win::ErrorText(::GetLastError());
    return false;
  }
  file = reinterpret_cast<File>(created);
  return true;
}

bool WriteSynced(File file, const std::string& text, std::string& error) {
  const HANDLE native = reinterpret_cast<HANDLE>(file);
  if (WriteAll(native, text.data(), text.size()) && ::FlushFileBuffers(native)) return true;
  error = win::ErrorText(::GetLastError());
  return false;
}

bool Close(File file, std::string& /*error*/) {
  ::CloseHandle(reinterpret_cast<HANDLE>(file));
  return true;
}

void RemoveFile(const std::string& path) { ::DeleteFileA(path.c_str()); }

bool ReplaceWith(const std::string& from, const std::string& to, std::string& error) {
  const DWORD code = win::ReplaceFileRetrying(from, to);
  if (code == 0) return true;
  error = win::ErrorText(code);
  return false;
}

// MoveFileEx's MOVEFILE_WRITE_THROUGH has written the folder's entry already.
void SyncFolder(const std::string& /*folder*/) {}

// The local fields read as if they were UTC, less the instant itself
// (strftime's %z gives the zone's name here).
long UtcOffsetMinutes(std::time_t t, const std::tm& local) {
  std::tm fields = local;
  return static_cast<long>(::_mkgmtime(&fields) - t) / 60;
}

}  // namespace calls

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

std::string ThisHostName() {
  char name[256] = {};
  DWORD size = sizeof name;
  if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return std::string();
  return std::string(name, size);
}

long ThisProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

}  // namespace orvanta::record
