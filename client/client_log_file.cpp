#include "client/client_log_file.h"

#include <utility>

namespace orvanta {

ClientLogFile::ClientLogFile(const Clock& clock) : writer_(clock, &ClientLogFile::GetLevelTag) {}

ClientLogFile::~ClientLogFile() {
  MutexLock lock(&mLogLock);
  mLogStream.reset();
}

int ClientLogFile::Open(const std::string& name) {
  MutexLock lock(&mLogLock);
  // Binary mode: the line ends are written as CR LF explicitly. Other
  // programs may read the file while it is open. The new file is had before
  // the old one closes, so a refused name leaves the log where it was.
  std::unique_ptr<OutputFile> file = OpenOutputFile(name, kClientLogFileHeader, mLastOpenFailure);
  if (file == nullptr) return -1;
  if (mLogStream != nullptr) CloseLocked();
  mLogStream = std::move(file);
  // Each start moves one aside: only the newest few are kept.
  if (!mLogStream->movedAside().empty()) PruneMovedAside(name, kClientLogFileHeader);

  WriteLineLocked("Vintra Log File Opened - File Name:  " + name);
  WriteLineLocked(writer_.OpenedLine());
  WriteLineLocked("Vintra Version 1.21\r\n");
  mFileName = name;
  return 0;
}

int ClientLogFile::Close() {
  MutexLock lock(&mLogLock);
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
  const std::string line = writer_.Entry(level, text);
  MutexLock lock(&mLogLock);
  return WriteLineLocked(line);
}

int ClientLogFile::WriteLine(const std::string& text) {
  MutexLock lock(&mLogLock);
  return WriteLineLocked(text);
}

int ClientLogFile::WriteLineLocked(const std::string& text) {
  if (mLogStream == nullptr) return -1;
  // A failed write (a full disk) does not keep the next entry out.
  return LogLineWriter::WriteLine(mLogStream->stream(), text) ? 0 : -1;
}

OutputFileFailure ClientLogFile::GetLastOpenFailure() const {
  MutexLock lock(&mLogLock);
  return mLastOpenFailure;
}

std::string ClientLogFile::GetFileName() const {
  MutexLock lock(&mLogLock);
  return mFileName;
}

bool ClientLogFile::IsOpen() const {
  MutexLock lock(&mLogLock);
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

std::string ClientLogFile::GetTimeStamp() const { return writer_.TimeStamp(); }

}  // namespace orvanta
