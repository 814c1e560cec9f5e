// Json: what the record writes reads back, and text that is not whole JSON
// (a session.json cut short by a crash, or damaged) is refused with a
// reason and the offset where reading stopped.
#include "record/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "record/record_reader.h"

namespace orvanta::testing {
namespace {

using record::Json;

TEST(RecordFormatTest, JsonAndCsvReadBackWhatTheRecordWrites) {
  Json object = Json::Object();
  object.Set("text", Json::String("tab\tquote\" back\\ \x01 é"));
  object.Set("list", Json::Array().Push(Json::Number(-12)).Push(Json()).Push(Json::Bool(true)));
  Json back;
  std::string error;
  ASSERT_TRUE(Json::Parse(object.Dump(), back, error)) << error;
  EXPECT_EQ(back["text"].Str(), "tab\tquote\" back\\ \x01 é");
  EXPECT_EQ(back["list"].items().size(), 3u);
  EXPECT_EQ(back["list"].items()[0].Int(), -12);
  EXPECT_FALSE(Json::Parse("{\"a\": 1,}", back, error));
  EXPECT_FALSE(Json::Parse("[\"open", back, error));

  const auto rows = record::ParseCsv("a,\"b,\"\"c\"\"\nd\",\n1,2,3\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"a", "b,\"c\"\nd", ""}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"1", "2", "3"}));
}

struct Broken {
  std::string text;
  std::string error;
};

// Cut short at every kind of place, and damaged in every way the parser
// tells apart.
const Broken kBroken[] = {
    {"", "unexpected end at offset 0"},
    {"   \n", "unexpected end at offset 4"},
    {"{", "expected a key at offset 1"},
    {"{\n  \"outcome\"", "expected : at offset 13"},
    {"{\"a\":", "unexpected end at offset 5"},
    {"{\"a\": 1", "unterminated object at offset 7"},
    {"{\"a\": 1,", "expected a key at offset 8"},
    {"{\"a\": \"tex", "unterminated string at offset 10"},
    {"{\"a\": \"te\\", "unterminated string at offset 10"},
    {"{\"a\": \"\\u12", "short \\u escape at offset 9"},
    {"{\"a\": 12", "unterminated object at offset 8"},
    {"{\"a\": 1.5e", "bad number at offset 10"},
    {"{\"a\": -", "bad number at offset 7"},
    {"{\"a\": tr", "unknown literal at offset 6"},
    {"{\"a\": [1, 2", "unterminated array at offset 11"},
    {"{\"a\": [1 2]}", "expected , or ] at offset 9"},
    {"{\"a\": 1 \"b\": 2}", "expected , or } at offset 8"},
    {"{\"a\": 1}}", "unexpected text after the value at offset 8"},
    {std::string("{\"a\": 1}\0", 9), "unexpected text after the value at offset 8"},
    {"\x89PNG\r\n", "unexpected character at offset 0"},
    {"{a: 1}", "expected a key at offset 1"},
    {"{\"a\": 1e999}", "bad number at offset 11"},
    {"{\"a\": -1e999}", "bad number at offset 12"},
    {"{\"a\": NaN}", "unexpected character at offset 6"},
    {"{\"a\": 0x10}", "expected , or } at offset 7"},
    {"{\"a\": \"\\x\"}", "bad escape at offset 9"},
    {"{\"a\": \"\\u12G4\"}", "bad \\u escape at offset 12"},
    {"{\"a\": \"\\ud83d\\u0041\"}", "bad \\u escape at offset 19"},
    {"{\"a\": \"line\nbreak\"}", "control character in a string at offset 12"},
    {std::string("{\"a\": \"nul\0\"}", 13), "control character in a string at offset 11"},
};

TEST(JsonParseTest, BrokenTextIsRefusedWithItsReasonAndOffset) {
  for (const Broken& b : kBroken) {
    SCOPED_TRACE(b.text);
    Json value;
    std::string error;
    EXPECT_FALSE(Json::Parse(b.text, value, error));
    EXPECT_EQ(error, b.error);
  }
}

TEST(JsonParseTest, NestingIsBoundedWithoutDeepRecursion) {
  Json value;
  std::string error;
  const std::string ok = std::string(65, '[') + std::string(65, ']');
  ASSERT_TRUE(Json::Parse(ok, value, error)) << error;
  EXPECT_EQ(Json::Parse(std::string(66, '[') + std::string(66, ']'), value, error), false);
  EXPECT_EQ(error, "nested too deeply at offset 65");
  // A million openers, as a damaged file might hold: refused at once.
  EXPECT_FALSE(Json::Parse(std::string(1000000, '{'), value, error));
  EXPECT_EQ(error, "expected a key at offset 1");
  EXPECT_FALSE(Json::Parse("{\"a\":" + std::string(1000000, '['), value, error));
  EXPECT_EQ(error, "nested too deeply at offset 69");
}

TEST(JsonParseTest, HugeNumbersReadAsFarAsADoubleGoes) {
  Json value;
  std::string error;
  ASSERT_TRUE(
      Json::Parse("[1e308, -1e308, 123456789012345678901234567890, 9007199254740993, 1e-400, -0]",
                  value, error))
      << error;
  const auto& n = value.items();
  ASSERT_EQ(n.size(), 6u);
  EXPECT_EQ(n[0].number(), 1e308);
  // Int() keeps to the ends of int64_t.
  EXPECT_EQ(n[0].Int(), INT64_MAX);
  EXPECT_EQ(n[1].Int(), INT64_MIN);
  EXPECT_EQ(n[2].Int(), INT64_MAX);
  EXPECT_EQ(n[3].Int(), 9007199254740992);  // the nearest double
  EXPECT_EQ(n[4].number(), 0.0);
  EXPECT_EQ(n[5].Int(-1), 0);
  EXPECT_EQ(Json::Number(-9223372036854775808.0).Int(), INT64_MIN);
  EXPECT_EQ(Json::String("5").Int(-1), -1);
  // A number too long for a double is refused rather than read as infinity.
  EXPECT_FALSE(Json::Parse(std::string(400, '9'), value, error));
  EXPECT_EQ(error, "bad number at offset 400");
}

// A repeated key keeps its first place and takes its last value, as Set()
// does.
TEST(JsonParseTest, RepeatedKeysKeepTheirPlaceAndTakeTheLastValue) {
  Json value;
  std::string error;
  ASSERT_TRUE(Json::Parse(R"({"a": 1, "b": 2, "a": [3], "c": {"x": 1, "x": 2}})", value, error))
      << error;
  EXPECT_EQ(value.Dump(),
            "{\n  \"a\": [\n    3\n  ],\n  \"b\": 2,\n  \"c\": {\n    \"x\": 2\n  }\n}\n");
}

// Strings keep their bytes: what is not UTF-8 goes through as it is, \u
// escapes and surrogate pairs become UTF-8.
TEST(JsonParseTest, StringBytesAndEscapes) {
  Json value;
  std::string error;
  ASSERT_TRUE(Json::Parse("[\"\xff\xfe\xc3\", \"\\u00e9\\u20ac\\ud83d\\ude00\\/\", \"\x7f\"]",
                          value, error))
      << error;
  EXPECT_EQ(value.items()[0].Str(), "\xff\xfe\xc3");
  EXPECT_EQ(value.items()[1].Str(), "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80/");
  EXPECT_EQ(value.items()[2].Str(), "\x7f");
  // Written back, the raw bytes stay raw; DEL is escaped.
  EXPECT_EQ(Json::Quote(value.items()[0].Str()), "\"\xff\xfe\xc3\"");
  EXPECT_EQ(Json::Quote("\x7f"), "\"\\u007f\"");
}

}  // namespace
}  // namespace orvanta::testing
