// File operations of the session record: a fresh record folder that never
// replaces another, files created exclusively and written row by row, whole
// files replaced atomically, the run lock, and the local time and host name
// the record stores. All functions are thread-safe; RowFile and RunLock
// objects are used by one thread at a time (their owner serialises).
#pragma once

#include <chrono>
#include <string>

namespace orvanta::record {

// Creates `parent` (and the folders above it) when missing, then a new
// folder `parent/name`; when that exists, `name_2`, `name_3`, ... until one
// is new. True with its path in `path`; false with a reason in `error`.
bool CreateFreshFolder(const std::string& parent, const std::string& name, std::string& path,
                       std::string& error);

// A file created for this run only (it must not exist yet; a symbolic link
// in its place is refused), written by whole rows. Each Append hands the row
// to the system at once, so a crash of the process loses nothing appended.
class RowFile {
 public:
  RowFile() = default;
  RowFile(const RowFile&) = delete;
  RowFile& operator=(const RowFile&) = delete;
  ~RowFile();

  // `truncate` allows an existing regular file to be replaced (the
  // --timeline option's file); otherwise the file must be new.
  bool Create(const std::string& path, bool truncate, std::string& error);
  // Appends `row` whole; a failed write turns ok() false for good.
  void Append(const std::string& row);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  bool ok() const { return ok_; }
  // Why the first failed write failed; empty while ok().
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  bool ok_ = true;
  std::string error_;
};

// Writes `text` to `path` through a temporary file in the same folder that
// is flushed to disk and renamed over it, so that readers see the old or the
// new text whole, never a part.
bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string& error);

// Writes `text` to a new file `path` (exclusive creation) and flushes it to
// disk.
bool WriteNewFile(const std::string& path, const std::string& text, std::string& error);

// Reads a whole file; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& text);

// A lock held for the life of a run: a record whose lock is not held by a
// live process belongs to a run that has ended. The system releases it when
// the holder ends in any way, kill -9 included.
class RunLock {
 public:
  RunLock() = default;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  ~RunLock() { Release(); }
  bool Acquire(const std::string& path, std::string& error);
  void Release();

 private:
  int fd_ = -1;
};

// True while some open file (in this process or another) holds the run lock
// at `path`. False when the file is missing or nobody holds it.
bool IsRunLockHeld(const std::string& path);

// "2026-12-08T03:04:05.678+01:00": local time with milliseconds and offset.
std::string LocalIsoTime(std::chrono::system_clock::time_point when);
// "2026-12-08_03-04-05": the record folder's time stamp.
std::string FolderTimeStamp(std::chrono::system_clock::time_point when);

std::string ThisHostName();
long ThisProcessId();

}  // namespace orvanta::record
