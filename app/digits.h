// Text-to-number rules of the window's digits fields. Qt-free.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

// Converts a field's text the way the editor stores it: leading blanks are
// skipped, an optional sign is taken, then decimal digits up to the first
// other character; no digits gives 0. Values beyond the signed 32-bit range
// saturate at its ends instead of wrapping around.
int32_t ParseDigitsField(const std::string& text);

// True when the number in `text`, read as ParseDigitsField reads it, lies
// beyond the signed 32-bit range (ParseDigitsField would saturate it).
bool DigitsFieldOverflows(const std::string& text);

// The most a digits field holds.
inline constexpr int32_t kDigitsFieldMax = 2147483647;

// A number as the window shows it ("%i").
std::string FormatNumber(int32_t value);

// True when `text` holds decimal digits only (also when it is empty).
bool IsDigitsOnly(const std::string& text);

}  // namespace orvanta
