// The system calls behind the record's file operations (record_io.h). The
// rules around them (fresh folder names, the temporary file of an atomic
// replace, the texts of failures, the time stamps) are record_io.cpp's;
// each platform supplies these in record_io_<platform>.cpp.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace orvanta::record::calls {

// A file open for writing: a descriptor or a handle, as the platform has it.
using File = std::intptr_t;

// Creates the folder `path`. False with `taken` when the name exists, else
// with the system's reason in `error`.
bool MakeFolder(const std::string& path, bool& taken, std::string& error);
// Creates `path` new for writing, never through a link; false with the
// system's reason.
bool CreateNew(const std::string& path, File& file, std::string& error);
// Writes all of `text` to `file` and flushes it to disk.
bool WriteSynced(File file, const std::string& text, std::string& error);
// Closes `file`; false with the reason when the close reports a lost write.
bool Close(File file, std::string& error);
void RemoveFile(const std::string& path);
// Renames `from` over `to`, replacing it whole.
bool ReplaceWith(const std::string& from, const std::string& to, std::string& error);
// Flushes the folder's entries to disk where the system has that.
void SyncFolder(const std::string& folder);
// The offset of local time from UTC at `t`, in minutes (towards zero), with
// `local` the calendar time there.
long UtcOffsetMinutes(std::time_t t, const std::tm& local);

}  // namespace orvanta::record::calls
