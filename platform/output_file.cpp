// The opening rules of OutputFile (output_file.h), the same on every
// platform: create the name new; when it exists, check that it is a file of
// this kind and move it aside under its time stamp; try again when the name
// changes meanwhile. The system calls come from output_file_<platform>.cpp.
#include <string>
#include <utility>

#include "platform/output_file.h"
#include "platform/output_file_calls.h"

namespace orvanta {

namespace output_file {

namespace {

// How often a name that changes under us while it is opened is tried again.
constexpr int kOpenAttempts = 4;
// How many numbered names ("-2", "-3", ...) a moved-aside file may take.
constexpr int kAsideNames = 100;

enum class Step { kDone, kRetry, kFailed };

OutputFileFailure Refused(std::string reason) {
  return {OutputFileFailure::kRefused, std::move(reason)};
}

// "<stem>.<stamp><extension>", "-<attempt>" added after the first.
std::string AsideName(const std::string& path, const char* folderEnds, const std::string& stamp,
                      int attempt) {
  const std::string::size_type slash = path.find_last_of(folderEnds);
  const std::string::size_type dot = path.find_last_of('.');
  const bool hasExtension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExtension ? path.substr(0, dot) : path;
  const std::string extension = hasExtension ? path.substr(dot) : std::string();
  std::string name = stem + "." + stamp;
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return name + extension;
}

// Why an existing file of this kind is refused; empty for a regular file.
std::string RefusalOf(ExistingFile::Kind kind) {
  switch (kind) {
    case ExistingFile::kLink:
      return "it is a symbolic link, which is not followed";
    case ExistingFile::kFolder:
      return "it is a folder";
    case ExistingFile::kOther:
      return "it is not a regular file";
    case ExistingFile::kRegular:
      break;
  }
  return std::string();
}

Step MoveAside(SystemCalls& calls, const std::string& path, const std::string& stamp,
               std::string& movedTo, OutputFileFailure& failure) {
  for (int attempt = 1; attempt <= kAsideNames; ++attempt) {
    const std::string aside = AsideName(path, calls.FolderEnds(), stamp, attempt);
    std::string error;
    switch (calls.MoveNoReplace(path, aside, error)) {
      case Moved::kDone:
        movedTo = aside;
        return Step::kDone;
      case Moved::kFailed:
        failure = {OutputFileFailure::kCannotCreate,
                   "the earlier file could not be moved aside to " + aside + ": " + error};
        return Step::kFailed;
      case Moved::kTaken:
        break;
    }
  }
  failure = {OutputFileFailure::kCannotCreate,
             "the earlier file could not be moved aside: every name for it is taken"};
  return Step::kFailed;
}

// The name exists: check that it is ours and move it aside, holding its lock
// meanwhile so that a program still writing it is never disturbed.
Step MoveExistingAside(SystemCalls& calls, const std::string& path, const std::string& ownHeader,
                       std::string& movedTo, OutputFileFailure& failure) {
  Handle file = 0;
  ExistingFile info;
  switch (calls.OpenExisting(path, file, info, failure)) {
    case Opened::kGone:
      return Step::kRetry;  // gone meanwhile
    case Opened::kFailed:
      return Step::kFailed;
    case Opened::kOpened:
      break;
  }
  struct Closer {
    SystemCalls& calls;
    Handle file;
    ~Closer() { calls.Close(file); }
  } closer{calls, file};

  if (const std::string refusal = RefusalOf(info.kind); !refusal.empty()) {
    failure = Refused(refusal);
    return Step::kFailed;
  }
  if (!calls.TryLock(file, failure)) return Step::kFailed;
  if (!calls.StillNamed(file, path)) return Step::kRetry;
  // An empty file holds nothing to lose (a program that stopped before its
  // first line); any other content must be our own.
  if (!info.empty && calls.FirstBytes(file, ownHeader.size()) != ownHeader) {
    failure = Refused(
        "it exists and was not written by this program (its first line differs); it was left "
        "untouched");
    return Step::kFailed;
  }
  return MoveAside(calls, path, info.stamp, movedTo, failure);
}

}  // namespace

std::FILE* OpenStream(SystemCalls& calls, const std::string& path, const std::string& ownHeader,
                      std::string& movedAside, OutputFileFailure& failure) {
  failure = OutputFileFailure{};
  movedAside.clear();
  if (path.empty()) {
    failure = {OutputFileFailure::kCannotCreate, "the name is empty"};
    return nullptr;
  }
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    Handle file = 0;
    switch (calls.CreateNew(path, file, failure)) {
      case Created::kFailed:
        return nullptr;
      case Created::kExists: {
        // Also a dangling symbolic link ends here: it is never created through.
        std::string movedTo;
        const Step step = MoveExistingAside(calls, path, ownHeader, movedTo, failure);
        if (step == Step::kFailed) return nullptr;
        if (step == Step::kDone && movedAside.empty()) movedAside = movedTo;
        continue;
      }
      case Created::kOpened:
        break;
    }
    if (!calls.TryLock(file, failure)) {
      // Another program took the new name first; its file is its own.
      calls.Close(file);
      return nullptr;
    }
    if (!calls.StillNamed(file, path)) {
      calls.Close(file);
      continue;
    }
    return calls.Stream(file, failure);
  }
  failure = {OutputFileFailure::kInUse,
             "the name kept changing while it was being opened (another program is using it)"};
  return nullptr;
}

}  // namespace output_file

OutputFile::OutputFile(std::FILE* stream, std::string path, std::string movedAside)
    : stream_(stream), path_(std::move(path)), movedAside_(std::move(movedAside)) {}

OutputFile::~OutputFile() { std::fclose(stream_); }

std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path, const std::string& ownHeader,
                                           OutputFileFailure& failure) {
  std::string movedAside;
  std::FILE* stream =
      output_file::OpenStream(output_file::PlatformCalls(), path, ownHeader, movedAside, failure);
  if (stream == nullptr) return nullptr;
  return std::unique_ptr<OutputFile>(new OutputFile(stream, path, movedAside));
}

}  // namespace orvanta
