#include "client/client_log_file.h"

#include <cstdio>
#include <utility>

namespace orvanta {
namespace {

constexpr char kLineEnd[] = "\r\n";

}  // namespace

ClientLogFile::ClientLogFile(const Clock& clock) : clock_(clock) {}

ClientLogFile::~ClientLogFile() {
  std::lock_guard<std::mutex> lock(mLogLock);
  mLogStream.reset();
}

int ClientLogFile::Open(const std::string& name) {
  std::lock_guard<std::mutex> lock(mLogLock);
  // Binary mode: the line ends are written as CR LF explicitly. Other
  // programs may read the file while it is open. The new file is had before
  // the old one closes, so a refused name leaves the log where it was.
  std::unique_ptr<OutputFile> file = OpenOutputFile(name, kClientLogFileHeader, mLastOpenFailure);
  if (file == nullptr) return -1;
  if (mLogStream != nullptr) CloseLocked();
  mLogStream = std::move(file);

  const LocalTime now = clock_.Now();
  char opened[160];
  std::snprintf(opened, sizeof opened, "Time Opened: (m/d/y)  %d/%d/%d at time %d:%d:%d.%d",
                now.month, now.day, now.year, now.hour, now.minute, now.second, now.millisecond);
  WriteLineLocked("Vintra Log File Opened - File Name:  " + name);
  WriteLineLocked(opened);
  WriteLineLocked("Vintra Version 1.21\r\n");
  mFileName = name;
  return 0;
}

int ClientLogFile::Close() {
  std::lock_guard<std::mutex> lock(mLogLock);
  return CloseLocked();
}

int ClientLogFile::CloseLocked() {
  if (mLogStream == nullptr) return -1;
  WriteLineLocked("Log File Closed - End of File\r\n");
  mLogStream.reset();
  mFileName.clear();
  return 0;
}

int ClientLogFile::WriteLogEntry(int level, const std::string& text) {
  const std::string line = GetLevelTag(level) + GetTimeStamp() + " - " + text;
  std::lock_guard<std::mutex> lock(mLogLock);
  return WriteLineLocked(line);
}

int ClientLogFile::WriteLine(const std::string& text) {
  std::lock_guard<std::mutex> lock(mLogLock);
  return WriteLineLocked(text);
}

int ClientLogFile::WriteLineLocked(const std::string& text) {
  if (mLogStream == nullptr) return -1;
  std::FILE* const stream = mLogStream->stream();
  const bool ok = std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
                  std::fwrite(kLineEnd, 1, 2, stream) == 2 && std::fflush(stream) == 0;
  if (!ok) {
    // A full disk may have room again for the next entry.
    std::clearerr(stream);
    return -1;
  }
  return 0;
}

OutputFileFailure ClientLogFile::GetLastOpenFailure() const {
  std::lock_guard<std::mutex> lock(mLogLock);
  return mLastOpenFailure;
}

std::string ClientLogFile::GetFileName() const {
  std::lock_guard<std::mutex> lock(mLogLock);
  return mFileName;
}

bool ClientLogFile::IsOpen() const {
  std::lock_guard<std::mutex> lock(mLogLock);
  return mLogStream != nullptr;
}

std::string ClientLogFile::GetLevelTag(int level) {
  switch (level) {
    case 0:
      return "-* FATAL *- ";
    case 1:
      return "-* ERROR *- ";
    case 2:
      return "-* WARNING *- ";
    case 3:
      return "-* NOTICE *- ";
    case 4:
      return "-* DATA *- ";
    default:
      return "-* UNKNOWN *- ";
  }
}

std::string ClientLogFile::GetTimeStamp() const {
  const LocalTime t = clock_.Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, " %02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                t.millisecond);
  return stamp;
}

}  // namespace orvanta
