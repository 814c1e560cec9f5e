// A small JSON value for session.json and events.json: written with stable
// key order, read back by a strict parser (objects, arrays, strings,
// numbers, true, false, null). Plain data; no locking.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvanta::record {

class JsonParser;

class Json {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Json() = default;
  static Json Bool(bool value);
  static Json Number(double value);
  static Json String(std::string value);
  static Json Array();
  static Json Object();

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }

  // Objects keep their keys in the order first set.
  Json& Set(const std::string& key, Json value);
  Json& Push(Json value);

  // Member `key` of an object; a null value when missing or not an object.
  const Json& operator[](const std::string& key) const;
  const std::vector<Json>& items() const { return items_; }
  const std::string& text() const { return text_; }
  double number() const { return number_; }
  bool boolean() const { return bool_; }
  // The number as an integer (rounded; beyond int64_t, the nearer end of its
  // range), or `fallback` when this is not a number.
  int64_t Int(int64_t fallback = 0) const;
  // The string, or `fallback` when this is not a string.
  std::string Str(const std::string& fallback = std::string()) const;

  // Two-space indented text with a final line break.
  std::string Dump() const;
  // Parses `text`; false with a reason in `error` when it is not valid JSON.
  static bool Parse(const std::string& text, Json& value, std::string& error);

  // `text` as a JSON string literal, quotes included.
  static std::string Quote(const std::string& text);

 private:
  friend class JsonParser;  // fills objects without a search per key
  void DumpTo(std::string& out, int indent) const;

  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  double number_ = 0;
  std::string text_;
  std::vector<Json> items_;        // array items, or object values
  std::vector<std::string> keys_;  // object keys, beside items_
};

}  // namespace orvanta::record
