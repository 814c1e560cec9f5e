#include "record/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace orvanta::record {

namespace {

const Json kNullValue;

}  // namespace

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}

  bool ParseDocument(Json& value, std::string& error) {
    if (!ParseValue(value, 0)) {
      error = error_ + " at offset " + std::to_string(pos_);
      return false;
    }
    SkipSpace();
    if (pos_ != text_.size()) {
      error = "unexpected text after the value at offset " + std::to_string(pos_);
      return false;
    }
    return true;
  }

 private:
  static constexpr int kMaxDepth = 64;

  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Fail(const char* what) {
    error_ = what;
    return false;
  }
  bool Literal(const char* word) {
    const std::string w = word;
    if (text_.compare(pos_, w.size(), w) != 0) return Fail("unknown literal");
    pos_ += w.size();
    return true;
  }

  bool ParseValue(Json& value, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    SkipSpace();
    if (pos_ >= text_.size()) return Fail("unexpected end");
    const char c = text_[pos_];
    if (c == '{') return ParseObject(value, depth);
    if (c == '[') return ParseArray(value, depth);
    if (c == '"') {
      std::string s;
      if (!ParseString(s)) return false;
      value = Json::String(std::move(s));
      return true;
    }
    if (c == 't') {
      value = Json::Bool(true);
      return Literal("true");
    }
    if (c == 'f') {
      value = Json::Bool(false);
      return Literal("false");
    }
    if (c == 'n') {
      value = Json();
      return Literal("null");
    }
    return ParseNumber(value);
  }

  bool ParseNumber(Json& value) {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    while (pos_ < text_.size() &&
           std::string("0123456789.eE+-").find(text_[pos_]) != std::string::npos) {
      ++pos_;
    }
    if (pos_ == start) return Fail("unexpected character");
    const std::string number = text_.substr(start, pos_ - start);
    char* end = nullptr;
    const double d = std::strtod(number.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(d)) return Fail("bad number");
    value = Json::Number(d);
    return true;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool Hex4(unsigned& code) {
    if (pos_ + 4 > text_.size()) return Fail("short \\u escape");
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[pos_++];
      code <<= 4;
      if (h >= '0' && h <= '9')
        code |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f')
        code |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        code |= static_cast<unsigned>(h - 'A' + 10);
      else
        return Fail("bad \\u escape");
    }
    return true;
  }

  bool ParseString(std::string& out) {
    ++pos_;  // the opening quote
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      const char e = text_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00 && text_.compare(pos_, 2, "\\u") == 0) {
            pos_ += 2;
            unsigned low = 0;
            if (!Hex4(low)) return false;
            // Only a low surrogate completes the pair; anything else would
            // make a code point beyond Unicode.
            if (low < 0xDC00 || low >= 0xE000) return Fail("bad \\u escape");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }

  bool ParseArray(Json& value, int depth) {
    ++pos_;
    value = Json::Array();
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      Json item;
      if (!ParseValue(item, depth + 1)) return false;
      value.Push(std::move(item));
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("unterminated array");
      if (text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (text_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected , or ]");
    }
  }

  bool ParseObject(Json& value, int depth) {
    ++pos_;
    value = Json::Object();
    std::unordered_map<std::string, std::size_t> index;  // key: its place in keys_
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("expected a key");
      std::string key;
      if (!ParseString(key)) return false;
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != ':') return Fail("expected :");
      ++pos_;
      Json item;
      if (!ParseValue(item, depth + 1)) return false;
      // As Set() does (a repeated key keeps its place and takes the last
      // value), without searching the keys so far: a damaged file may hold
      // an object of a million keys.
      const auto [at, fresh] = index.emplace(key, value.keys_.size());
      if (fresh) {
        value.keys_.push_back(std::move(key));
        value.items_.push_back(std::move(item));
      } else {
        value.items_[at->second] = std::move(item);
      }
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("unterminated object");
      if (text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (text_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected , or }");
    }
  }

  const std::string& text_;
  std::size_t pos_ = 0;
  std::string error_;
};

Json Json::Bool(bool value) {
  Json j;
  j.kind_ = Kind::kBool;
  j.bool_ = value;
  return j;
}
Json Json::Number(double value) {
  Json j;
  j.kind_ = Kind::kNumber;
  j.number_ = value;
  return j;
}
Json Json::String(std::string value) {
  Json j;
  j.kind_ = Kind::kString;
  j.text_ = std::move(value);
  return j;
}
Json Json::Array() {
  Json j;
  j.kind_ = Kind::kArray;
  return j;
}
Json Json::Object() {
  Json j;
  j.kind_ = Kind::kObject;
  return j;
}

Json& Json::Set(const std::string& key, Json value) {
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] == key) {
      items_[i] = std::move(value);
      return *this;
    }
  }
  keys_.push_back(key);
  items_.push_back(std::move(value));
  return *this;
}

Json& Json::Push(Json value) {
  items_.push_back(std::move(value));
  return *this;
}

const Json& Json::operator[](const std::string& key) const {
  if (kind_ != Kind::kObject) return kNullValue;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] == key) return items_[i];
  }
  return kNullValue;
}

int64_t Json::Int(int64_t fallback) const {
  if (kind_ != Kind::kNumber || std::isnan(number_)) return fallback;
  // A number beyond int64_t (only a damaged or foreign file holds one) gives
  // the nearer end of the range: rounding it is left undefined.
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (number_ >= kTwoTo63) return INT64_MAX;
  if (number_ <= -kTwoTo63) return INT64_MIN;
  return static_cast<int64_t>(std::llround(number_));
}

std::string Json::Str(const std::string& fallback) const {
  return kind_ == Kind::kString ? text_ : fallback;
}

std::string Json::Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", u);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void Json::DumpTo(std::string& out, int indent) const {
  const std::string pad(static_cast<std::size_t>(indent + 2), ' ');
  switch (kind_) {
    case Kind::kNull:
      out += "null";
      break;
    case Kind::kBool:
      out += bool_ ? "true" : "false";
      break;
    case Kind::kNumber: {
      char text[40];
      if (number_ == std::floor(number_) && std::fabs(number_) < 9e15) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(number_));
      } else {
        // The shortest form that reads back the same: 5994.213, not
        // 5994.2129999999997.
        std::snprintf(text, sizeof text, "%.15g", number_);
        if (std::strtod(text, nullptr) != number_) {
          std::snprintf(text, sizeof text, "%.17g", number_);
        }
      }
      out += text;
      break;
    }
    case Kind::kString:
      out += Quote(text_);
      break;
    case Kind::kArray:
    case Kind::kObject: {
      const bool object = kind_ == Kind::kObject;
      if (items_.empty()) {
        out += object ? "{}" : "[]";
        break;
      }
      out += object ? "{\n" : "[\n";
      for (std::size_t i = 0; i < items_.size(); ++i) {
        out += pad;
        if (object) out += Quote(keys_[i]) + ": ";
        items_[i].DumpTo(out, indent + 2);
        out += i + 1 < items_.size() ? ",\n" : "\n";
      }
      out += std::string(static_cast<std::size_t>(indent), ' ') + (object ? "}" : "]");
      break;
    }
  }
}

std::string Json::Dump() const {
  std::string out;
  DumpTo(out, 0);
  return out + "\n";
}

bool Json::Parse(const std::string& text, Json& value, std::string& error) {
  JsonParser parser(text);
  return parser.ParseDocument(value, error);
}

}  // namespace orvanta::record
