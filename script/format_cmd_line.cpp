#include "script/format_cmd_line.h"

#include <sys/stat.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>

#include "log/log_file.h"
#include "platform/text_format.h"
#include "script/command_processor.h"

namespace orvanta {

using text_format::Format;

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Rounds a double to single precision; values beyond the float range become
// infinities instead of an out-of-range conversion.
float NarrowToFloat(double value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  // Half a unit in the last place above FLT_MAX: from here on, round to
  // nearest gives infinity.
  const double overflow = static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103);
  if (value >= overflow) return std::numeric_limits<float>::infinity();
  if (value <= -overflow) return -std::numeric_limits<float>::infinity();
  if (value > static_cast<double>(FLT_MAX)) return FLT_MAX;
  if (value < -static_cast<double>(FLT_MAX)) return -FLT_MAX;
  return static_cast<float>(value);
}

}  // namespace

float MacroTextToFloat(const std::string& text) {
  if (text == "inf") return std::numeric_limits<float>::infinity();
  if (text == "-inf") return -std::numeric_limits<float>::infinity();
  if (text == "nan") return std::numeric_limits<float>::quiet_NaN();

  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The longest leading decimal number: digits, an optional fraction, and an
  // exponent only when digits follow the "e".
  const size_t start = i;
  size_t integerDigits = 0;
  size_t leadingZeros = 0;  // integer digits before the first non-zero one
  while (i < text.size() && IsDigit(text[i])) {
    if (integerDigits == leadingZeros && text[i] == '0') ++leadingZeros;
    ++integerDigits;
    ++i;
  }
  size_t fractionDigits = 0;
  size_t fractionZeros = 0;  // fraction digits before the first non-zero one
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1;
    while (j < text.size() && IsDigit(text[j])) {
      if (fractionDigits == fractionZeros && text[j] == '0') ++fractionZeros;
      ++fractionDigits;
      ++j;
    }
    if (integerDigits > 0 || fractionDigits > 0) i = j;
  }
  if (integerDigits == 0 && fractionDigits == 0) return 0.0f;
  int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool negativeExponent = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      negativeExponent = text[j] == '-';
      ++j;
    }
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) {
        if (exponent < 100000000) exponent = exponent * 10 + (text[j] - '0');
        ++j;
      }
      if (negativeExponent) exponent = -exponent;
      i = j;
    }
  }

  double magnitude = 0.0;
  const auto result =
      std::from_chars(text.data() + start, text.data() + i, magnitude, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: decide by the decimal position of
    // the first significant digit.
    const bool allZero = (integerDigits == leadingZeros) && (fractionDigits == fractionZeros);
    int64_t position;
    if (allZero) {
      position = std::numeric_limits<int64_t>::min() / 2;
    } else if (integerDigits > leadingZeros) {
      position = static_cast<int64_t>(integerDigits - leadingZeros) + exponent;
    } else {
      position = -static_cast<int64_t>(fractionZeros) + exponent;
    }
    magnitude = position > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (result.ec != std::errc()) {
    magnitude = 0.0;
  }
  return NarrowToFloat(negative ? -magnitude : magnitude);
}

std::string FormatMacroNumber(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[128];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                    std::chars_format::fixed, 2);
  std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
  for (size_t at = text.find(".00"); at != std::string::npos; at = text.find(".00", at)) {
    text.erase(at, 3);
  }
  return text;
}

float ApplyMacroArithmetic(float current, const std::string& op, float operand) {
  // Single-precision results: each operation is carried out exactly enough in
  // double and rounded once to float.
  const double a = current;
  const double b = operand;
  if (op == "+=") return NarrowToFloat(a + b);
  if (op == "-=") return NarrowToFloat(a - b);
  if (op == "*=") return NarrowToFloat(a * b);
  if (op == "/=") {
    if (b == 0.0) {
      if (std::isnan(a) || a == 0.0) return std::numeric_limits<float>::quiet_NaN();
      const bool negative = std::signbit(a) != std::signbit(b);
      return negative ? -std::numeric_limits<float>::infinity()
                      : std::numeric_limits<float>::infinity();
    }
    return NarrowToFloat(a / b);
  }
  return current;
}

FormatCmdLine::InputFile::~InputFile() {
  if (file != nullptr) std::fclose(file);
}

FormatCmdLine::FormatCmdLine(LogFile& log) : log_(log) {}

FormatCmdLine::~FormatCmdLine() = default;

int FormatCmdLine::Fail(const std::string& message) {
  mMessage = message;
  log_.WriteLogEntry(kLogError, mMessage);
  return -1;
}

int FormatCmdLine::OpenFileCfg(const std::string& fileName) {
  mInputFile.reset();
  mInputFile.reset(new (std::nothrow) InputFile);
  if (!mInputFile) {
    return Fail(
        Format("FormatCmdLine::OpenFileCfg() - Error, memory allocation failed, file "
               "pointer is equall to NULL.  Unable to open filename: %s",
               fileName.c_str()));
  }
  // Binary mode: line ends are handled here, the same on every platform.
  std::FILE* file = std::fopen(fileName.c_str(), "rb");
  if (file != nullptr) {
    struct stat info {};
    if (::fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
      std::fclose(file);
      file = nullptr;
    }
  }
  if (file == nullptr) {
    return Fail(Format(
        "FormatCmdLine::OpenFileCfg() - Error, attempt to open filename failed.  filename: %s",
        fileName.c_str()));
  }
  mInputFile->file = file;
  mLineCount = 0;
  mMacros.clear();
  mReachedEnd = false;
  mStopLineNumber = 0;
  mStopLine.clear();
  return 0;
}

int FormatCmdLine::GetLineFromFile(std::string& line) {
  std::FILE* file = mInputFile->file;
  line.clear();
  bool readAny = false;
  bool ended = false;
  int c = 0;
  // One character more than the limit may be a CR before the LF; anything
  // beyond that is an overlong line, and reading stops there.
  while (line.size() <= kMaxScriptLineLength + 1) {
    c = std::getc(file);
    if (c == EOF) {
      ended = true;
      break;
    }
    readAny = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (ended && std::ferror(file)) {
    return Fail("FormatCmdLine::GetLineFromFile() - Error, unable to get next line from file.");
  }
  if (ended && !readAny) {
    mReachedEnd = true;
    mMessage = "FormatCmdLine::GetLineFromFile() - The end of the file has been reached.";
    log_.WriteLogEntry(kLogNotice, mMessage);
    return -1;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxScriptLineLength) {
    return Fail("FormatCmdLine::GetLineFromFile() - Error, unable to get next line from file.");
  }
  // The line is text: it ends at a NUL byte, as a C string does.
  const size_t nul = line.find('\0');
  if (nul != std::string::npos) line.resize(nul);
  return 0;
}

int FormatCmdLine::GetNextLine(std::string& line, int32_t& lineNumber) {
  if (!mInputFile || mInputFile->file == nullptr) {
    return Fail("FormatCmdLine::GetNextLine() - Error, a file in not currently opened.");
  }
  for (;;) {
    std::string raw;
    if (GetLineFromFile(raw) != 0) {
      if (!mReachedEnd) {
        mStopLineNumber = mLineCount + 1;
        mStopLine = raw;  // what could be read of it
      }
      return -1;
    }
    ++mLineCount;
    lineNumber = mLineCount;
    log_.WriteLogEntry(kLogNotice,
                       Format("FormatCmdLine::GetNextLine() - Processing line number: %i",
                              static_cast<int>(mLineCount)));
    log_.WriteLogEntry(kLogNotice,
                       Format("FormatCmdLine::GetNextLine() - Processing line: %s", raw.c_str()));
    LineType type = kBlankLine;
    std::string asRead = raw;
    if (ProcessLine(raw, type) != 0) {
      mStopLineNumber = mLineCount;
      mStopLine = std::move(asRead);
      return -1;
    }
    line = raw;
    if ((type == kCommandLine && mReturnCommandLines) ||
        (type == kCommentLine && mReturnCommentLines) ||
        (type == kMacroLine && mReturnMacroLines) || (type == kBlankLine && mReturnBlankLines)) {
      return 0;
    }
  }
}

int FormatCmdLine::ProcessLine(std::string& line, LineType& type) {
  type = kBlankLine;
  const size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return 0;
  switch (line[first]) {
    case '-':
      type = kCommandLine;
      return SubstituteMacros(line);
    case '%':
      type = kMacroLine;
      return ProcessMacroLine(line);
    case '#':
      type = kCommentLine;
      return 0;
    case '/':
      if (first + 1 < line.size() && line[first + 1] == '/') {
        type = kCommentLine;
        return 0;
      }
      break;
    default:
      break;
  }
  return Fail(
      "FormatCmdLine::ProcessLine() - Error, Invalid Syntax, unable to determine what type of "
      "line to process.");
}

int FormatCmdLine::SubstituteMacros(std::string& line) {
  // Comments are cut anywhere, inside double quotes too.
  const size_t slashes = line.find("//");
  if (slashes != std::string::npos) line.resize(slashes);
  const size_t hash = line.find('#');
  if (hash != std::string::npos) line.resize(hash);

  const std::string original = line;
  for (const auto& [name, value] : mMacros) {
    const std::string replacement =
        value.find(' ') != std::string::npos ? "\"" + value + "\"" : value;
    size_t at = line.find(name);
    while (at != std::string::npos) {
      const size_t end = at + name.size();
      if (end == line.size() || line[end] == ' ' || line[end] == '\t') {
        if (line.size() - name.size() + replacement.size() > kMaxScriptLineLength) {
          // Macros that name macros could otherwise grow one line without end.
          return Fail(
              Format("FormatCmdLine::SubstituteMacros() - Error, the command line would "
                     "be longer than %i characters once its macros are replaced.  "
                     "commandLine: %s",
                     static_cast<int>(kMaxScriptLineLength), original.c_str()));
        }
        line.replace(at, name.size(), replacement);
        at = line.find(name, at + replacement.size());
      } else {
        at = line.find(name, at + 1);
      }
    }
  }
  return 0;
}

int FormatCmdLine::ParseCommandString(const std::string& line) {
  std::string unmatched;
  if (!SplitCommandArguments(line, mArguments, unmatched)) {
    mArguments.clear();
    return Fail(
        Format("FormatCmdLine::ParseCommandString() - Error Processing command string, "
               "unable to find matching double quotes. command string: %s",
               unmatched.c_str()));
  }
  return 0;
}

int FormatCmdLine::ProcessMacroLine(const std::string& line) {
  if (ParseCommandString(line) != 0) return -1;
  if (mArguments.size() < 3) {
    return Fail(
        Format("FormatCmdLine::ProcessMacroLine() - Error, Invalid number of arguments, "
               "unable to process macro line.  commandLine: %s",
               line.c_str()));
  }
  const std::string name = mArguments[0];
  const std::string op = mArguments[1];
  std::string value = mArguments[2];
  if (name.empty() || op.empty() || value.empty()) {
    return Fail(
        "FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax for macro operation, not all "
        "parameters present.");
  }
  if (op != "=" && op != "+=" && op != "-=" && op != "*=" && op != "/=" && op != ":=") {
    return Fail(
        Format("FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax for macro "
               "operation, unknown operator = %s.",
               op.c_str()));
  }

  auto find = [this](const std::string& macroName) -> std::pair<std::string, std::string>* {
    for (auto& entry : mMacros) {
      if (entry.first == macroName) return &entry;
    }
    return nullptr;
  };
  std::pair<std::string, std::string>* entry = find(name);

  // A value that begins with "%" names a macro. Stored values never begin
  // with "%", so one step resolves it; the bound only guards the loop.
  for (size_t steps = 0; !value.empty() && value[0] == '%'; ++steps) {
    const std::pair<std::string, std::string>* source = find(value);
    if (source == nullptr || steps > mMacros.size()) {
      return Fail(
          Format("FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax, Macro "
                 "substitution value not found, value = %s",
                 value.c_str()));
    }
    value = source->second;
  }

  if (op == "=") {
    if (entry != nullptr) {
      entry->second = value;
    } else {
      mMacros.emplace_back(name, value);
    }
    return 0;
  }
  if (entry == nullptr) {
    return Fail(
        "FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax, Attempting to modify a macro "
        "that does not exist.");
  }
  if (op == ":=") {
    if (entry->second.size() + value.size() > kMaxScriptLineLength) {
      // Appending a macro to itself doubles it on every line.
      return Fail(
          Format("FormatCmdLine::ProcessMacroLine() - Error, the value of macro %s would "
                 "be longer than %i characters, the longest line a setup file may hold.",
                 name.c_str(), static_cast<int>(kMaxScriptLineLength)));
    }
    entry->second += value;
    return 0;
  }
  const float result =
      ApplyMacroArithmetic(MacroTextToFloat(entry->second), op, MacroTextToFloat(value));
  entry->second = FormatMacroNumber(result);
  return 0;
}

}  // namespace orvanta
