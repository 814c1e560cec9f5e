// Reading numbers and tokens out of the server's reply texts.
#pragma once

#include <string>

namespace orvanta::client_text {

// Reads up to `count` whitespace-separated decimal integers (each with an
// optional sign) from the start of `text` into values[0..count). Reading
// stops at the first value that cannot be read; the values not read are left
// as they were. Values beyond the int range are clamped. Returns how many
// were read.
int ReadIntegers(const std::string& text, int* values, int count);

// The integer at the start of `text` (leading blanks, an optional sign, then
// decimal digits), 0 when there is none. Clamped to the int range.
int LeadingInteger(const std::string& text);

}  // namespace orvanta::client_text
