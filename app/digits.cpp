#include "app/digits.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace orvanta {

int32_t ParseDigitsField(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a negative number so that the lowest value fits.
  constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
  constexpr int64_t kHighest = std::numeric_limits<int32_t>::max();
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kHighest + 1) value = kHighest + 1;  // saturated; keep reading digits
  }
  if (negative) return static_cast<int32_t>(-value < kLowest ? kLowest : -value);
  return static_cast<int32_t>(value > kHighest ? kHighest : value);
}

bool DigitsFieldOverflows(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) return true;
  }
  return false;
}

std::string FormatNumber(int32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%i", static_cast<int>(value));
  return buffer;
}

bool IsDigitsOnly(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace orvanta
