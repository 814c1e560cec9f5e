// Windows side of the setup file's atomic save: a temporary file beside the
// target, flushed to disk, then MoveFileEx with MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/text_format.h"
#include "platform/win_files.h"
#include "script/setup_file_save.h"

namespace orvanta {

using text_format::Format;

namespace {

// The file a link at `path` points to; `path` itself otherwise.
std::string FinalPath(const std::string& path) {
  const HANDLE file = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  char buffer[MAX_PATH * 4];
  const DWORD length =
      ::GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  ::CloseHandle(file);
  if (length == 0 || length >= sizeof buffer) return path;
  std::string final(buffer, length);
  if (final.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + final.substr(7);
  if (final.rfind("\\\\?\\", 0) == 0) return final.substr(4);
  return final;
}

// Writes through `write` into `file` (whose handle it then owns) and
// closes it. "" on success, else why it failed.
std::string WriteAndClose(const std::function<void(std::FILE*)>& write, HANDLE file,
                          bool flushToDisk) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  std::FILE* stream = fd < 0 ? nullptr : ::_fdopen(fd, "wb");
  if (stream == nullptr) {
    if (fd >= 0) {
      ::_close(fd);
    } else {
      ::CloseHandle(file);
    }
    return "the file cannot be opened for writing";
  }
  write(stream);
  std::string failure;
  if (std::fflush(stream) != 0 || std::ferror(stream)) {
    failure = win::ErrorText(::GetLastError());
  } else if (flushToDisk && !::FlushFileBuffers(file)) {
    failure = win::ErrorText(::GetLastError());
  }
  if (std::fclose(stream) != 0 && failure.empty()) failure = "the file could not be closed";
  return failure;
}

}  // namespace

std::string ReplaceSetupFile(const std::string& path,
                             const std::function<void(std::FILE*)>& write) {
  const std::string target = FinalPath(path);
  const DWORD attributes = ::GetFileAttributesA(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "the name is that of a folder";
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
    // Replacing it through the folder would not ask; a plain write would fail.
    return "cannot write to it: the file is read-only";
  }
  if (exists) {
    // A device (a serial port, a console) cannot be replaced; it is written
    // in place.
    const HANDLE file = ::CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
      const std::string failure = WriteAndClose(write, file, false);
      if (!failure.empty()) return Format("writing failed: %s", failure.c_str());
      return std::string();
    }
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  }

  const std::string::size_type slash = target.find_last_of("\\/:");
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) return "the name is that of a folder";

  static std::atomic<unsigned> counter{0};
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = (slash == std::string::npos ? std::string() : folder) + "." + name +
                Format(".tmp-%lu-%u", ::GetCurrentProcessId(), ++counter);
    file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    error = ::GetLastError();
    if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    return Format("cannot create a file in the folder %s: %s", folder.c_str(),
                  win::ErrorText(error).c_str());
  }
  const std::string failure = WriteAndClose(write, file, true);
  if (!failure.empty()) {
    ::DeleteFileA(temporary.c_str());
    return Format("writing failed: %s", failure.c_str());
  }
  error = win::ReplaceFileRetrying(temporary, target);
  if (error != 0) {
    ::DeleteFileA(temporary.c_str());
    return Format("cannot replace the file: %s", win::ErrorText(error).c_str());
  }
  return std::string();
}

}  // namespace orvanta
