#include "app/digits.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace orvanta {

namespace {

// The number at the start of a field's text: leading blanks, an optional sign,
// then decimal digits up to the first other character. The magnitude stops
// growing once it passes the 32-bit range, so `magnitude` stays exact up to
// 2^31 and says "beyond" after that.
struct ScannedNumber {
  bool negative = false;
  int64_t magnitude = 0;
};

constexpr int64_t kBeyond = (int64_t{1} << 31) + 1;

ScannedNumber ScanDigitsField(const std::string& text) {
  ScannedNumber number;
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    number.negative = text[i] == '-';
    ++i;
  }
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    number.magnitude = number.magnitude * 10 + (text[i] - '0');
    if (number.magnitude > kBeyond) number.magnitude = kBeyond;  // keep reading digits
  }
  return number;
}

}  // namespace

int32_t ParseDigitsField(const std::string& text) {
  constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
  constexpr int64_t kHighest = std::numeric_limits<int32_t>::max();
  const ScannedNumber number = ScanDigitsField(text);
  if (number.negative) {
    return static_cast<int32_t>(-number.magnitude < kLowest ? kLowest : -number.magnitude);
  }
  return static_cast<int32_t>(number.magnitude > kHighest ? kHighest : number.magnitude);
}

bool DigitsFieldOverflows(const std::string& text) {
  const ScannedNumber number = ScanDigitsField(text);
  const int64_t limit = number.negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  return number.magnitude > limit;
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
