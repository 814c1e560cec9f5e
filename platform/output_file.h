// Output files that never destroy what is already there: the application
// log, the client log, the run timeline and any other file the program writes
// for the whole of a session.
//
// Opening rules (OpenOutputFile):
//  - A name that does not exist is created new, and never through a symbolic
//    link.
//  - A name that exists must be a regular file of the same kind: its first
//    line starts with the kind's header text. It is then moved aside, unharmed,
//    to "<stem>.<yyyymmdd-hhmmss><extension>" (its modification time, local;
//    "-2", "-3", ... are added when that name is taken), and a new file is
//    created in its place. An empty file counts as one of the kind. Anything else
//    (a symbolic link, a folder, a device or a file of other content) is
//    refused and left untouched.
//  - The open file carries an advisory lock, exclusive, for as long as it is
//    open. A name that another program (or another OutputFile of this one)
//    holds is refused.
//
// The rules are output_file.cpp's; the system calls they use (open flags,
// locks, renames; output_file_calls.h) are output_file_<platform>.cpp's.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace orvanta {

// Why an output file could not be opened.
struct OutputFileFailure {
  enum Kind {
    kNone,
    kInUse,         // another program (or another OutputFile here) holds the lock
    kRefused,       // the name exists and is not a file of this kind, or is a link
    kCannotCreate,  // the system refused (missing folder, permissions, long name, ...)
  };
  Kind kind = kNone;
  // Completes "cannot open <path>: ", e.g. "it is in use by another program".
  std::string reason;
};

class OutputFile {
 public:
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Closes the stream; the lock goes with it.
  ~OutputFile();

  // The stream to write to (binary mode), owned by this object; never null.
  // Not synchronised: the owner serialises its writes.
  std::FILE* stream() const { return stream_; }
  // The path the file was opened under, as given.
  const std::string& path() const { return path_; }
  // Where an earlier file of that name was moved to; empty when none was.
  const std::string& movedAside() const { return movedAside_; }

 private:
  friend std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path,
                                                    const std::string& ownHeader,
                                                    OutputFileFailure& failure);
  OutputFile(std::FILE* stream, std::string path, std::string movedAside);

  std::FILE* stream_;
  std::string path_;
  std::string movedAside_;
};

// Opens `path` for writing by the rules above. `ownHeader` is the start of
// the first line that marks an existing file as one of this kind (not empty).
// Returns null on failure, with `failure` saying why. Nothing on disk changes
// when it fails. Thread-safe.
std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path, const std::string& ownHeader,
                                           OutputFileFailure& failure);

// True when `a` and `b` name the same file: the same path text, or, when both
// exist, the same file on disk (links and "dir/../" spellings included).
bool SameOutputFile(const std::string& a, const std::string& b);

// How many files an earlier open moved aside are kept per name
// (PruneMovedAside).
inline constexpr size_t kKeptMovedAsideFiles = 10;

// Removes the oldest of the files that opens of `path` moved aside (named
// "<stem>.<yyyymmdd-hhmmss>[-N]<extension>" beside it, see above) so that at
// most `keep` of them are left, the newest by the time in their names. Only
// regular files whose first line starts with `ownHeader` count and go; a
// file of another name, another content, a link or a folder is never
// touched. Returns the paths removed, oldest first. Thread-safe; failures
// to list or remove leave the files as they are.
std::vector<std::string> PruneMovedAside(const std::string& path, const std::string& ownHeader,
                                         size_t keep = kKeptMovedAsideFiles);

}  // namespace orvanta
