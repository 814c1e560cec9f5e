// The portable half of the record's file operations: fresh folder names,
// the temporary file of an atomic replace, the texts of failures and the
// time stamps. The system calls are record_io_<platform>.cpp's.
#include "record/record_io.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "platform/local_calendar.h"
#include "record/record_io_calls.h"

namespace orvanta::record {

namespace {

std::string FolderOf(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

bool LocalTm(std::chrono::system_clock::time_point when, std::tm& tm) {
  return LocalCalendar(std::chrono::system_clock::to_time_t(when), tm);
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
    bool taken = false;
    std::string reason;
    if (calls::MakeFolder(candidate, taken, reason)) {
      path = candidate;
      return true;
    }
    if (!taken) {
      error = "cannot create the folder " + candidate + ": " + reason;
      return false;
    }
  }
  error = "cannot create a new folder for " + name + " in " + parent;
  return false;
}

RowFile::~RowFile() { Close(); }

bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string temp = path + ".tmp" + std::to_string(ThisProcessId());
  calls::RemoveFile(temp);  // a leftover of an earlier attempt of this process id
  calls::File file = 0;
  std::string reason;
  if (!calls::CreateNew(temp, file, reason)) {
    error = "cannot create " + temp + ": " + reason;
    return false;
  }
  bool ok = calls::WriteSynced(file, text, reason);
  std::string closeReason;
  if (!calls::Close(file, closeReason) && ok) {
    ok = false;
    reason = closeReason;
  }
  if (ok) ok = calls::ReplaceWith(temp, path, reason);
  if (!ok) {
    calls::RemoveFile(temp);
    error = "cannot write " + path + ": " + reason;
    return false;
  }
  calls::SyncFolder(FolderOf(path));
  return true;
}

bool WriteNewFile(const std::string& path, const std::string& text, std::string& error) {
  calls::File file = 0;
  std::string reason;
  if (!calls::CreateNew(path, file, reason)) {
    error = "cannot create " + path + ": " + reason;
    return false;
  }
  const bool ok = calls::WriteSynced(file, text, reason);
  std::string ignored;  // the bytes are on disk already
  calls::Close(file, ignored);
  if (!ok) error = "cannot write " + path + ": " + reason;
  return ok;
}

std::string LocalIsoTime(std::chrono::system_clock::time_point when) {
  std::tm tm{};
  if (!LocalTm(when, tm)) return std::string();
  char date[40];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
      1000);
  const long offset = calls::UtcOffsetMinutes(std::chrono::system_clock::to_time_t(when), tm);
  const long absolute = offset < 0 ? -offset : offset;
  char text[128];
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

}  // namespace orvanta::record
