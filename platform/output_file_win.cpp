// Windows side of OutputFile: the system calls of its opening rules
// (output_file.cpp): CREATE_NEW opens that never follow a link, a lock on one
// byte far past the end of the file (LockFileEx; the text itself stays
// readable by viewers), and MoveFileEx without replacing for the move aside.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

#include "platform/output_file.h"
#include "platform/output_file_calls.h"
#include "platform/win_files.h"

namespace orvanta {

namespace {

using output_file::Created;
using output_file::ExistingFile;
using output_file::Handle;
using output_file::Moved;
using output_file::Opened;

// The lock byte: past any real file's end, so that locking it keeps no
// reader out of the text.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

OutputFileFailure OpenFailed(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
      return {OutputFileFailure::kCannotCreate, "its folder does not exist"};
    case ERROR_FILENAME_EXCED_RANGE:
      return {OutputFileFailure::kCannotCreate, "the name is too long"};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return {OutputFileFailure::kInUse, "it is in use by another program (it is open)"};
    default:
      return {OutputFileFailure::kCannotCreate, win::ErrorText(error)};
  }
}

HANDLE Native(Handle file) { return reinterpret_cast<HANDLE>(file); }
Handle Own(HANDLE file) { return reinterpret_cast<Handle>(file); }

// Opens what `path` names itself, a link not followed, for reading its
// attributes (and its bytes when `read`).
HANDLE OpenNamed(const std::string& path, bool read) {
  return ::CreateFileA(path.c_str(), read ? GENERIC_READ : FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  return ::GetFileInformationByHandle(a, &ia) && ::GetFileInformationByHandle(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// "yyyymmdd-hhmmss" for a file last written at `written`.
std::string Stamp(const FILETIME& written) {
  SYSTEMTIME utc{}, local{};
  ::FileTimeToSystemTime(&written, &utc);
  ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", local.wYear, local.wMonth,
                local.wDay, local.wHour, local.wMinute, local.wSecond);
  return stamp;
}

ExistingFile::Kind KindOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ExistingFile::kLink;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ExistingFile::kFolder;
  return ::GetFileType(file) == FILE_TYPE_DISK ? ExistingFile::kRegular : ExistingFile::kOther;
}

// CREATE_NEW opens that never follow a link, LockFileEx on the lock byte and
// MoveFileEx without replacing.
class WinCalls final : public output_file::SystemCalls {
 public:
  const char* FolderEnds() const override { return "\\/:"; }

  Created CreateNew(const std::string& path, Handle& file, OutputFileFailure& failure) override {
    // Readers may look in; a later program may move it aside once it is
    // closed (the lock keeps it from doing so before).
    const HANDLE created =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      file = Own(created);
      return Created::kOpened;
    }
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    const bool exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                        (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES);
    if (exists) return Created::kExists;
    failure = OpenFailed(error);
    return Created::kFailed;
  }

  Opened OpenExisting(const std::string& path, Handle& file, ExistingFile& info,
                      OutputFileFailure& failure) override {
    const HANDLE opened = OpenNamed(path, true);
    if (opened == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND) return Opened::kGone;
      failure = OpenFailed(error);
      return Opened::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION about{};
    if (!::GetFileInformationByHandle(opened, &about)) {
      failure = {OutputFileFailure::kCannotCreate, win::ErrorText(::GetLastError())};
      ::CloseHandle(opened);
      return Opened::kFailed;
    }
    info.kind = KindOf(opened, about);
    info.empty = about.nFileSizeHigh == 0 && about.nFileSizeLow == 0;
    info.stamp = Stamp(about.ftLastWriteTime);
    file = Own(opened);
    return Opened::kOpened;
  }

  bool TryLock(Handle file, OutputFileFailure& failure) override {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (::LockFileEx(Native(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &at)) {
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
      failure = {OutputFileFailure::kInUse, "it is in use by another program (it is locked)"};
    } else {
      failure = {OutputFileFailure::kCannotCreate, "it cannot be locked: " + win::ErrorText(error)};
    }
    return false;
  }

  bool StillNamed(Handle file, const std::string& path) override {
    const HANDLE named = OpenNamed(path, false);
    if (named == INVALID_HANDLE_VALUE) return false;
    const bool same = SameFile(Native(file), named);
    ::CloseHandle(named);
    return same;
  }

  std::string FirstBytes(Handle file, std::size_t size) override {
    std::string bytes(size, '\0');
    DWORD got = 0;
    OVERLAPPED at{};
    if (!::ReadFile(Native(file), bytes.data(), static_cast<DWORD>(size), &got, &at)) got = 0;
    bytes.resize(got);
    return bytes;
  }

  Moved MoveNoReplace(const std::string& from, const std::string& to, std::string& error) override {
    // Without MOVEFILE_REPLACE_EXISTING: a taken name fails.
    if (::MoveFileExA(from.c_str(), to.c_str(), 0)) return Moved::kDone;
    const DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return Moved::kTaken;
    error = win::ErrorText(code);
    return Moved::kFailed;
  }

  std::FILE* Stream(Handle file, OutputFileFailure& failure) override {
    const int fd = ::_open_osfhandle(file, _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      failure = {OutputFileFailure::kCannotCreate, "the file cannot be opened for writing"};
      ::CloseHandle(Native(file));
      return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "wb");
    if (stream == nullptr) {
      failure = {OutputFileFailure::kCannotCreate, "the file cannot be opened for writing"};
      ::_close(fd);  // closes the handle too
    }
    return stream;
  }

  void Close(Handle file) override { ::CloseHandle(Native(file)); }
};

}  // namespace

output_file::SystemCalls& output_file::PlatformCalls() {
  static WinCalls calls;
  return calls;
}

namespace {

// The full path, with '/' as '\\' and in lower case (names here ignore case).
std::string FullOutputPath(const std::string& path) {
  char buffer[MAX_PATH * 4];
  const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  std::string full = length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
  for (char& c : full) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return full;
}

}  // namespace

bool SameOutputFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const HANDLE fa = OpenNamed(a, false);
  const HANDLE fb = OpenNamed(b, false);
  const bool bothExist = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE;
  const bool same = bothExist && SameFile(fa, fb);
  if (fa != INVALID_HANDLE_VALUE) ::CloseHandle(fa);
  if (fb != INVALID_HANDLE_VALUE) ::CloseHandle(fb);
  if (bothExist) return same;
  return FullOutputPath(a) == FullOutputPath(b);
}

}  // namespace orvanta
