#include "tools/quorvin-sim/command_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace orvanta::sim {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

void SplitCommandWord(std::string_view text, std::string_view* word, std::string_view* rest) {
  text = Trim(text);
  size_t end = 0;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  *word = text.substr(0, end);
  *rest = Trim(text.substr(end));
}

bool SplitTrailing(std::string_view text, size_t count, std::string_view* head,
                   std::vector<std::string>* tail) {
  tail->assign(count, std::string());
  std::string_view remaining = Trim(text);
  for (size_t k = count; k > 0; --k) {
    if (remaining.empty()) return false;
    size_t start = remaining.size();
    while (start > 0 && !IsBlank(remaining[start - 1])) --start;
    (*tail)[k - 1] = std::string(remaining.substr(start));
    remaining = Trim(remaining.substr(0, start));
  }
  *head = remaining;
  return true;
}

std::string Unquote(std::string_view s) {
  s = Trim(s);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    return std::string(s.substr(1, s.size() - 2));
  }
  return std::string(s);
}

bool TakeQuoted(std::string_view text, std::string* value, std::string_view* rest) {
  text = Trim(text);
  if (text.empty() || text.front() != '"') return false;
  const size_t close = text.find('"', 1);
  if (close == std::string_view::npos) return false;
  *value = std::string(text.substr(1, close - 1));
  *rest = Trim(text.substr(close + 1));
  return true;
}

std::optional<int32_t> ParseInt32(std::string_view s) {
  s = Trim(s);
  if (s.empty() || s.size() > 20) return std::nullopt;
  const std::string copy(s);
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(copy.c_str(), &end, 10);
  if (errno != 0 || end == copy.c_str() || *end != '\0') return std::nullopt;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(v);
}

std::string QuoteToken(const std::string& s) {
  bool needs = s.empty();
  for (char c : s) {
    if (IsBlank(c)) needs = true;
  }
  return needs ? "\"" + s + "\"" : s;
}

std::string EscapeField(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace orvanta::sim
