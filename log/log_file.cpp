#include "log/log_file.h"

#include <cctype>
#include <string>
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

std::string TwoDigits(int value) {
  std::string text = value < 10 ? "0" : "";
  return text + std::to_string(value);
}

std::string ThreeDigits(int value) {
  std::string text;
  if (value < 100) text += "0";
  if (value < 10) text += "0";
  return text + std::to_string(value);
}

std::FILE* OpenTruncated(const std::string& path) {
#if defined(__GLIBC__)
  // 'e': the file is not inherited by programs we start (the viewer).
  return std::fopen(path.c_str(), "wbe");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

}  // namespace

LogFile::LogFile(const Clock& clock, MessageBoxes& boxes, MainWindowRef& window,
                 ShellOpener& shell)
    : clock_(clock), boxes_(boxes), window_(window), shell_(shell) {}

LogFile::~LogFile() {
  std::lock_guard<std::mutex> lock(mLogLock);
  if (mLogStream != nullptr) {
    std::fclose(mLogStream);
    mLogStream = nullptr;
  }
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

std::string LogFile::GetTimeStamp() const {
  const LocalTime now = clock_.Now();
  return " " + TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" + TwoDigits(now.second) +
         "." + ThreeDigits(now.millisecond);
}

int LogFile::WriteLogEntry(int level, const std::string& text) {
  if (level == kLogDebug && !mDebugEnabled) return 0;
  LogErrorCapture::Note(level, text);

  std::lock_guard<std::mutex> lock(mLogLock);
  const std::string line = GetLevelTag(level) + GetTimeStamp() + " - " + text;
  const int result = WriteLine(line);
  // Still under the lock, so the window sees entries in file order. The
  // listener only queues the line; it never waits for its own thread.
  window_.Call([&line](WindowListener& window) { window.AddLogMessage(line); });
  return result;
}

int LogFile::SetLogFilename(const std::string& path) {
  if (path.empty()) {
    WriteLogEntry(kLogError,
                  "LogFile::SetLogFilename() - Error, invalid parameter, filename string is empty.");
    return -1;
  }

  const PathParts parts = SplitPath(path);
  std::vector<std::string> boxes;
  int result = 0;
  {
    std::lock_guard<std::mutex> lock(mLogLock);
    if ((!parts.drive.empty() && !parts.directory.empty()) || IsAbsoluteHere(parts.directory)) {
      mDirectory = parts.drive + parts.directory;
    } else {
      mDirectory.clear();
    }
    if (!parts.name.empty()) mFileName = parts.name + ".txt";
    result = OpenLogFile(boxes);
  }
  ShowBoxes(boxes);
  return result == 0 ? 0 : -1;
}

int LogFile::OpenLogFile(std::vector<std::string>& boxes) {
  const std::string path = mDirectory + (mFileName.empty() ? kDefaultLogFileName : mFileName);

  if (mLogStream != nullptr) {
    if (mFilePath == path) return 0;
    CloseLogFile(boxes);
  }

  mFilePath = path;
  // Each file starts with a clean stream state: a failure on an earlier file
  // must not keep this one empty.
  mStreamFailed = false;
  mLogStream = OpenTruncated(path);
  if (mLogStream == nullptr) {
    // Not reported: the log stays closed and entries still reach the window.
    return 0;
  }

  const LocalTime now = clock_.Now();
  WriteLine("Veltrix Base Log File Opened - File Name:  " + path);
  WriteLine("Time Opened: (m/d/y)  " + std::to_string(now.month) + "/" + std::to_string(now.day) +
            "/" + std::to_string(now.year) + " at time " + std::to_string(now.hour) + ":" +
            std::to_string(now.minute) + ":" + std::to_string(now.second) + "." +
            std::to_string(now.millisecond));

  if (mStreamFailed) {
    // The file opened but cannot even take its header (a full or broken
    // device): nothing written to it would survive.
    std::fclose(mLogStream);
    mLogStream = nullptr;
    boxes.push_back("Error openning filename: " + path +
                    ", file may be invalid, please check the filename ");
    return -1;
  }
  return 0;
}

int LogFile::CloseLogFile(std::vector<std::string>& boxes) {
  if (mLogStream == nullptr) {
    boxes.push_back("Unable to close Log File.  There is currently not a log file open.");
    return -1;
  }
  WriteLine(kClosingLine);
  std::fclose(mLogStream);
  mLogStream = nullptr;
  return 0;
}

int LogFile::WriteLine(const std::string& text) {
  if (mLogStream == nullptr) return -1;
  const bool written = std::fwrite(text.data(), 1, text.size(), mLogStream) == text.size() &&
                       std::fwrite("\r\n", 1, 2, mLogStream) == 2 &&
                       std::fflush(mLogStream) == 0;
  if (!written) {
    // Remember the failure, but keep trying later lines: a full disk that
    // gets space again should not lose the rest of the run.
    mStreamFailed = true;
    std::clearerr(mLogStream);
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

  WriteLogEntry(kLogError, "LogFile::ViewLogFile() - Error, shell execute failed to open the log file.");
  std::string text;
  switch (result) {
    case kShellNoAssociation:
      text = "LogFile::ViewLogFile() - Error, unable to open logfile, there is not a valid file "
             "association.";
      break;
    case kShellAccessDenied:
      text = "LogFile::ViewLogFile() - Error, unable to open logfile, permission was denied.";
      break;
    default:
      text = "LogFile::ViewLogFile() - Error, unable to open logfile, call to shell execute failed.";
      break;
  }
  ShowBoxes({text});
  return 0;
}

std::string LogFile::GetSetupFileLines() const {
  std::lock_guard<std::mutex> lock(mLogLock);
  return "-SetLogFile \"" + mFilePath + "\"\r\n\r\n\r\n";
}

std::string LogFile::GetFilePath() const {
  std::lock_guard<std::mutex> lock(mLogLock);
  return mFilePath;
}

bool LogFile::IsOpen() const {
  std::lock_guard<std::mutex> lock(mLogLock);
  return mLogStream != nullptr;
}

}  // namespace orvanta
