// Small pieces of the session report's HTML, shared by its sections.
#pragma once

#include <string>

namespace orvanta::record {

// `text` with the characters HTML gives meaning to escaped; control
// characters but tab become spaces.
std::string Html(const std::string& text);

// `value` with `decimals` decimals.
std::string Num(double value, int decimals = 3);

}  // namespace orvanta::record
