// printf-style formatting into a std::string, for the message texts of the
// setup-script classes. Integer and string conversions only, so the result
// does not depend on the process's locale.
#pragma once

#include <string>

namespace orvanta::script_internal {

#if defined(__GNUC__)
#define ORV_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define ORV_PRINTF_FORMAT(f, a)
#endif

std::string Format(const char* format, ...) ORV_PRINTF_FORMAT(1, 2);

}  // namespace orvanta::script_internal
