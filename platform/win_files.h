// Small Windows helpers shared by the *_win.cpp halves of the file seams.
// Only Windows code includes this header.
#pragma once

#include <windows.h>

#include <string>

namespace orvanta::win {

// The system's text for `error` (FormatMessage), without the trailing
// newline and full stop; "system error N" when there is none.
std::string ErrorText(DWORD error);

// Replaces `to` with `from` (MoveFileEx, replace existing, write through).
// Another program holding the old file open without sharing its deletion
// usually lets go soon, so that case is retried for up to a second.
// Returns 0 on success, otherwise the last error.
DWORD ReplaceFileRetrying(const std::string& from, const std::string& to);

}  // namespace orvanta::win
