// printf-style formatting into a std::string, shared by the libraries'
// log and message texts. Callers use integer and string conversions only,
// so the results do not depend on the process's locale.
#pragma once

#include <string>

namespace orvanta::text_format {

#if defined(__MINGW32__)
// MinGW's std::vsnprintf is the C99 one (%zu, %lld), not the Microsoft one
// that "printf" stands for there.
#define ORV_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define ORV_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define ORV_PRINTF_FORMAT(f, a)
#endif

// The text std::vsnprintf() would write for `format` and the arguments,
// whatever its length; empty when the format string is rejected.
// Thread-safe.
std::string Format(const char* format, ...) ORV_PRINTF_FORMAT(1, 2);

}  // namespace orvanta::text_format
