#include "log/log_file.h"

#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "log/log_capture.h"

namespace orvanta {

namespace {

constexpr char kDefaultLogFileName[] = "QuorvinLogFile.txt";
constexpr char kClosingLine[] = "Log File Closed - End of File\r\n";

// The pieces of a path, split the way Windows paths are split: an optional
// drive ("C:"), the directory up to and including the last separator, the
// name, and the extension (the last dot of the final component and what
// follows it). Both '\\' and '/' separate components.
struct PathParts {
  std::string drive;
  std::string directory;
  std::string name;
  std::string extension;
};

PathParts SplitPath(const std::string& path) {
  PathParts parts;
  std::string rest = path;
  if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    parts.drive = rest.substr(0, 2);
    rest.erase(0, 2);
  }
  const std::string::size_type last_separator = rest.find_last_of("\\/");
  if (last_separator != std::string::npos) {
    parts.directory = rest.substr(0, last_separator + 1);
    rest.erase(0, last_separator + 1);
  }
  const std::string::size_type dot = rest.find_last_of('.');
  if (dot != std::string::npos) {
    parts.extension = rest.substr(dot);
    rest.erase(dot);
  }
  parts.name = rest;
  return parts;
}

// A directory that names a place on its own on this platform, without a drive.
bool IsAbsoluteHere(const std::string& directory) {
#if defined(_WIN32)
  (void)directory;
  return false;
#else
  return !directory.empty() && directory[0] == '/';
#endif
}

}  // namespace

LogFile::LogFile(const Clock& clock, MessageBoxes& boxes, MainWindowRef& window, ShellOpener& shell)
    : writer_(clock, &LogFile::GetLevelTag), boxes_(boxes), window_(window), shell_(shell) {}

LogFile::~LogFile() {
  MutexLock lock(&mLogLock);
  mLogStream.reset();
}

std::string LogFile::GetLevelTag(int level) {
  switch (level) {
    case kLogFatal:
      return "-*  FATAL  *- ";
    case kLogError:
      return "-*  ERROR  *- ";
    case kLogWarning:
      return "-* WARNING *- ";
    case kLogNotice:
      return "-* NOTICE  *- ";
    case kLogData:
      return "-*  DATA   *- ";
    case kLogDebug:
      return "-*  DEBUG  *- ";
    default:
      return "-* UNKNOWN *- ";
  }
}

std::string LogFile::GetTimeStamp() const { return writer_.TimeStamp(); }

int LogFile::WriteLogEntry(int level, const std::string& text) {
  if (level == kLogDebug && !mDebugEnabled) return 0;
  LogErrorCapture::Note(level, text);

  MutexLock lock(&mLogLock);
  return WriteEntryLocked(level, text);
}

int LogFile::WriteEntryLocked(int level, const std::string& text) {
  const std::string line = writer_.Entry(level, text);
  const int result = WriteLine(line);
  // Still under the lock, so the window sees entries in file order. The
  // listener only queues the line; it never waits for its own thread.
  window_.Call([&line](WindowListener& window) { window.AddLogMessage(line); });
  return result;
}

int LogFile::SetLogFilename(const std::string& path) {
  if (path.empty()) {
    WriteLogEntry(
        kLogError,
        "LogFile::SetLogFilename() - Error, invalid parameter, filename string is empty.");
    return -1;
  }

  const PathParts parts = SplitPath(path);
  std::vector<std::string> boxes;
  int result = 0;
  {
    MutexLock lock(&mLogLock);
    const std::string previousDirectory = mDirectory;
    const std::string previousName = mFileName;
    if ((!parts.drive.empty() && !parts.directory.empty()) || IsAbsoluteHere(parts.directory)) {
      mDirectory = parts.drive + parts.directory;
    } else {
      mDirectory.clear();
    }
    if (!parts.name.empty()) mFileName = parts.name + ".txt";
    result = OpenLogFile(boxes);
    if (result == 0 && mLogStream != nullptr && mFilePath != CurrentPathLocked()) {
      // The switch failed and the earlier log goes on: so do its names.
      mDirectory = previousDirectory;
      mFileName = previousName;
    }
  }
  ShowBoxes(boxes);
  return result == 0 ? 0 : -1;
}

std::string LogFile::CurrentPathLocked() const {
  return mDirectory + (mFileName.empty() ? kDefaultLogFileName : mFileName);
}

std::string LogFile::ResolveLogFilename(const std::string& path) const {
  const PathParts parts = SplitPath(path);
  MutexLock lock(&mLogLock);
  const bool keepDirectory =
      (!parts.drive.empty() && !parts.directory.empty()) || IsAbsoluteHere(parts.directory);
  const std::string name = !parts.name.empty() ? parts.name + ".txt"
                           : mFileName.empty() ? kDefaultLogFileName
                                               : mFileName;
  return (keepDirectory ? parts.drive + parts.directory : std::string()) + name;
}

std::vector<LogOpenFailure> LogFile::TakeOpenFailures() {
  MutexLock lock(&mLogLock);
  std::vector<LogOpenFailure> failures;
  failures.swap(mOpenFailures);
  return failures;
}

int LogFile::OpenLogFile(std::vector<std::string>& boxes) {
  const std::string path = CurrentPathLocked();
  if (mLogStream != nullptr && mFilePath == path) return 0;

  // The new file is opened before the old one is closed, so that a file that
  // cannot be had leaves the log where it was.
  OutputFileFailure failure;
  std::unique_ptr<OutputFile> file = OpenOutputFile(path, kLogFileHeader, failure);
  if (file == nullptr) {
    const bool keeps = mLogStream != nullptr;
    mOpenFailures.push_back({path, failure, keeps ? mFilePath : std::string()});
    if (!keeps) mFilePath = path;
    WriteEntryLocked(kLogError, "LogFile::OpenLogFile() - Error, unable to open the log file " +
                                    path + ", " + failure.reason + "." +
                                    (keeps ? "  Logging goes on in " + mFilePath + "."
                                           : "  No log file is open."));
    boxes.push_back("Error openning filename: " + path +
                    ", file may be invalid, please check the filename ");
    return 0;
  }

  if (mLogStream != nullptr) CloseLogFile(boxes);
  mFilePath = path;
  // Each file starts with a clean stream state: a failure on an earlier file
  // must not keep this one empty.
  mStreamFailed = false;
  mLogStream = std::move(file);

  WriteLine(kLogFileHeader + path);
  WriteLine(writer_.OpenedLine());

  if (mStreamFailed) {
    // The file opened but cannot even take its header (a full or broken
    // device): nothing written to it would survive.
    mLogStream.reset();
    boxes.push_back("Error openning filename: " + path +
                    ", file may be invalid, please check the filename ");
    return -1;
  }
  if (!mLogStream->movedAside().empty()) {
    WriteEntryLocked(kLogNotice,
                     "LogFile::OpenLogFile() - The earlier log file of this name was "
                     "moved aside to " +
                         mLogStream->movedAside() + ".");
    // Each start moves one aside: only the newest few are kept.
    const std::vector<std::string> removed = PruneMovedAside(path, kLogFileHeader);
    if (!removed.empty()) {
      WriteEntryLocked(kLogNotice,
                       "LogFile::OpenLogFile() - " + std::to_string(removed.size()) +
                           (removed.size() == 1 ? " older log file" : " older log files") +
                           " of this name removed, the newest " +
                           std::to_string(kKeptMovedAsideFiles) +
                           " are kept.  Oldest removed: " + removed.front() + ".");
    }
  }
  return 0;
}

int LogFile::CloseLogFile(std::vector<std::string>& boxes) {
  if (mLogStream == nullptr) {
    boxes.emplace_back("Unable to close Log File.  There is currently not a log file open.");
    return -1;
  }
  WriteLine(kClosingLine);
  mLogStream.reset();
  return 0;
}

int LogFile::WriteLine(const std::string& text) {
  if (mLogStream == nullptr) return -1;
  if (!LogLineWriter::WriteLine(mLogStream->stream(), text)) {
    // Remember the failure, but keep trying later lines: a full disk that
    // gets space again should not lose the rest of the run.
    mStreamFailed = true;
    return -1;
  }
  return 0;
}

void LogFile::ShowBoxes(const std::vector<std::string>& boxes) {
  for (const std::string& text : boxes) {
    boxes_.Show(text, kDefaultBoxCaption, BoxIcon::kNone, BoxButtons::kOk);
  }
}

int LogFile::ViewLogFile() {
  const std::string path = GetFilePath();
  const int result = shell_.Open(path);
  if (result > 32) return 0;

  WriteLogEntry(kLogError,
                "LogFile::ViewLogFile() - Error, shell execute failed to open the log file.");
  std::string text;
  switch (result) {
    case kShellNoAssociation:
      text =
          "LogFile::ViewLogFile() - Error, unable to open logfile, there is not a valid file "
          "association.";
      break;
    case kShellAccessDenied:
      text = "LogFile::ViewLogFile() - Error, unable to open logfile, permission was denied.";
      break;
    default:
      text =
          "LogFile::ViewLogFile() - Error, unable to open logfile, call to shell execute failed.";
      break;
  }
  ShowBoxes({text});
  return 0;
}

std::string LogFile::GetSetupFileLines() const {
  MutexLock lock(&mLogLock);
  return "-SetLogFile \"" + mFilePath + "\"\r\n\r\n\r\n";
}

std::string LogFile::GetFilePath() const {
  MutexLock lock(&mLogLock);
  return mFilePath;
}

bool LogFile::IsOpen() const {
  MutexLock lock(&mLogLock);
  return mLogStream != nullptr;
}

}  // namespace orvanta
