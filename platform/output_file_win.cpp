// Windows side of OutputFile: CREATE_NEW opens that never follow a link, a
// lock on one byte far past the end of the file (LockFileEx; the text itself
// stays readable by viewers), and MoveFileEx without replacing for the move
// aside.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

#include "platform/output_file.h"
#include "platform/win_files.h"

namespace orvanta {

namespace {

constexpr int kOpenAttempts = 4;
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

OutputFileFailure Refused(std::string reason) {
  return {OutputFileFailure::kRefused, std::move(reason)};
}

bool TryLock(HANDLE file, OutputFileFailure& failure) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
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

bool StillNamed(HANDLE file, const std::string& path) {
  const HANDLE named = OpenNamed(path, false);
  if (named == INVALID_HANDLE_VALUE) return false;
  const bool same = SameFile(file, named);
  ::CloseHandle(named);
  return same;
}

std::string FirstBytes(HANDLE file, DWORD size) {
  std::string bytes(size, '\0');
  DWORD got = 0;
  OVERLAPPED at{};
  if (!::ReadFile(file, bytes.data(), size, &got, &at)) got = 0;
  bytes.resize(got);
  return bytes;
}

std::string AsideName(const std::string& path, const FILETIME& written, int attempt) {
  const std::string::size_type slash = path.find_last_of("\\/:");
  const std::string::size_type dot = path.find_last_of('.');
  const bool hasExtension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExtension ? path.substr(0, dot) : path;
  const std::string extension = hasExtension ? path.substr(dot) : std::string();
  SYSTEMTIME utc{}, local{};
  ::FileTimeToSystemTime(&written, &utc);
  ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", local.wYear, local.wMonth,
                local.wDay, local.wHour, local.wMinute, local.wSecond);
  std::string name = stem + "." + stamp;
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return name + extension;
}

enum class Step { kDone, kRetry, kFailed };

Step MoveExistingAside(const std::string& path, const std::string& ownHeader, std::string& movedTo,
                       OutputFileFailure& failure) {
  const HANDLE file = OpenNamed(path, true);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return Step::kRetry;  // gone meanwhile
    failure = OpenFailed(error);
    return Step::kFailed;
  }
  struct Closer {
    HANDLE file;
    ~Closer() { ::CloseHandle(file); }
  } closer{file};

  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) {
    failure = {OutputFileFailure::kCannotCreate, win::ErrorText(::GetLastError())};
    return Step::kFailed;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    failure = Refused("it is a symbolic link, which is not followed");
    return Step::kFailed;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    failure = Refused("it is a folder");
    return Step::kFailed;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    failure = Refused("it is not a regular file");
    return Step::kFailed;
  }
  if (!TryLock(file, failure)) return Step::kFailed;
  if (!StillNamed(file, path)) return Step::kRetry;
  const bool empty = info.nFileSizeHigh == 0 && info.nFileSizeLow == 0;
  if (!empty && FirstBytes(file, static_cast<DWORD>(ownHeader.size())) != ownHeader) {
    failure = Refused(
        "it exists and was not written by this program (its first line differs); it was left "
        "untouched");
    return Step::kFailed;
  }
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string aside = AsideName(path, info.ftLastWriteTime, attempt);
    // Without MOVEFILE_REPLACE_EXISTING: a taken name fails.
    if (::MoveFileExA(path.c_str(), aside.c_str(), 0)) {
      movedTo = aside;
      return Step::kDone;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      failure = {OutputFileFailure::kCannotCreate, "the earlier file could not be moved aside to " +
                                                       aside + ": " + win::ErrorText(error)};
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
    // Readers may look in; a later program may move it aside once it is
    // closed (the lock keeps it from doing so before).
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      const bool exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                          (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES);
      if (!exists) {
        failure = OpenFailed(error);
        return nullptr;
      }
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
    if (!TryLock(file, failure)) {
      ::CloseHandle(file);
      return nullptr;
    }
    if (!StillNamed(file, path)) {
      ::CloseHandle(file);
      continue;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      failure = {OutputFileFailure::kCannotCreate, "the file cannot be opened for writing"};
      ::CloseHandle(file);
      return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "wb");
    if (stream == nullptr) {
      failure = {OutputFileFailure::kCannotCreate, "the file cannot be opened for writing"};
      ::_close(fd);  // closes the handle too
      return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(stream, path, movedAside));
  }
  failure = {OutputFileFailure::kInUse,
             "the name kept changing while it was being opened (another program is using it)"};
  return nullptr;
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
