#include "client/reply_parsing.h"

#include <climits>
#include <cstddef>

namespace orvanta::client_text {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses one integer at text[*pos], after blanks. False (pos unchanged) when
// there is none.
bool ParseInteger(const std::string& text, size_t* pos, int* value) {
  size_t i = *pos;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !IsDigit(text[i])) return false;
  long long magnitude = 0;
  while (i < text.size() && IsDigit(text[i])) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1)
      magnitude = magnitude * 10 + (text[i] - '0');
    ++i;
  }
  long long v = negative ? -magnitude : magnitude;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  *value = static_cast<int>(v);
  *pos = i;
  return true;
}

}  // namespace

int ReadIntegers(const std::string& text, int* values, int count) {
  size_t pos = 0;
  int read = 0;
  while (read < count) {
    int v = 0;
    if (!ParseInteger(text, &pos, &v)) break;
    values[read++] = v;
  }
  return read;
}

int LeadingInteger(const std::string& text) {
  size_t pos = 0;
  int v = 0;
  return ParseInteger(text, &pos, &v) ? v : 0;
}

}  // namespace orvanta::client_text
