// Small text helpers for reading the commands the client sends and for
// writing list replies and transcript fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta::sim {

// Trims blanks (space, tab, CR, LF) from both ends.
std::string_view Trim(std::string_view s);

// Splits a command into its first word and the rest (trimmed).
// "-PostEvent \"a b\" 5 0" gives "-PostEvent" and "\"a b\" 5 0".
void SplitCommandWord(std::string_view text, std::string_view* word, std::string_view* rest);

// Takes `count` blank-separated words off the end of `text`. On success
// `head` is what remains before them (trimmed) and `tail` holds them in order.
// Returns false when there are fewer than `count` words after a non-empty
// head, or `text` is too short.
bool SplitTrailing(std::string_view text, size_t count, std::string_view* head,
                   std::vector<std::string>* tail);

// A name as written in a command: without its surrounding double quotes when
// it has them, else as it stands. Names of objects are sent unquoted, names of
// subsystems and files quoted; both are accepted wherever a name is expected.
std::string Unquote(std::string_view s);

// Reads a leading double-quoted string: on success `value` is the text between
// the quotes and `rest` what follows the closing quote (trimmed).
bool TakeQuoted(std::string_view text, std::string* value, std::string_view* rest);

// A whole decimal integer in 32-bit range, or nothing.
std::optional<int32_t> ParseInt32(std::string_view s);

// A list token: the text itself, or the text in double quotes when it holds a
// blank or is empty, so that the client's token parser gets it back whole.
std::string QuoteToken(const std::string& s);

// Escapes a transcript field: backslash, tab, CR, LF and other control bytes.
std::string EscapeField(std::string_view s);

// Case-insensitive ASCII comparison.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace orvanta::sim
