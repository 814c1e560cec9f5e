// The script line reader: reads a setup file line by line, classifies every
// line (command, comment, macro, blank), carries out macro lines as it meets
// them, cuts comments off command lines and replaces macro names in them, and
// hands out the lines of the kinds its caller asked for, each with its
// physical line number.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orvanta {

class LogFile;

enum LineType : int {
  kCommandLine = 100,
  kCommentLine = 101,
  kMacroLine = 102,
  kBlankLine = 103,
};

// The longest line the reader accepts, without its line end. It bounds macro
// values too, and command lines once their macros are replaced: a line or a
// macro that would grow past it fails, so no setup file makes the reader's
// memory grow beyond a few times the file's size.
inline constexpr size_t kMaxScriptLineLength = 999;

// Converts the leading number of `text` the way the runtime's ascii-to-float
// conversion does (optional white space and sign, decimal digits with an
// optional fraction and exponent; 0 when there is none) and narrows it to
// single precision (beyond the float range: an infinity). The reader's own
// texts for non-finite results, "inf", "-inf" and "nan", read back as such.
// Locale-independent.
float MacroTextToFloat(const std::string& text);

// Formats a macro result with "%.2f" and removes every ".00" (15.00 -> 15).
// Non-finite results give the stable texts "inf", "-inf" and "nan".
// Locale-independent.
std::string FormatMacroNumber(float value);

// Applies an arithmetic macro operator ("+=", "-=", "*=" or "/=") in single
// precision. Division by zero gives an infinity of the right sign, or NaN for
// 0 / 0; nothing here traps or is undefined.
float ApplyMacroArithmetic(float current, const std::string& op, float operand);

// One reader per file run; it owns its input file. Used by one thread at a
// time. Every failure is logged (ERROR, or NOTICE at the end of the file)
// and gives -1.
class FormatCmdLine {
 public:
  explicit FormatCmdLine(LogFile& log);  // `log` must outlive the reader
  FormatCmdLine(const FormatCmdLine&) = delete;
  FormatCmdLine& operator=(const FormatCmdLine&) = delete;
  virtual ~FormatCmdLine();

  // Which line kinds GetNextLine hands out. All false at construction.
  void SetReturnCommandLines(bool value) { mReturnCommandLines = value; }
  void SetReturnCommentLines(bool value) { mReturnCommentLines = value; }
  void SetReturnMacroLines(bool value) { mReturnMacroLines = value; }
  void SetReturnBlankLines(bool value) { mReturnBlankLines = value; }

  // Opens `fileName` for reading (closing any earlier file) and starts it
  // from scratch: line count 0, no macros. 0, or -1 (logged) when the file
  // cannot be opened or is a folder.
  int OpenFileCfg(const std::string& fileName);

  // Reads on to the next line of a wanted kind and gives it, prepared
  // (comments cut and macros replaced for command lines), with its physical
  // line number (1-based, every line counted). -1 at the end of the file and
  // on any error alike; ReachedEndOfFile() tells them apart afterwards.
  int GetNextLine(std::string& line, int32_t& lineNumber);

  // True once GetNextLine has stopped because the file ended (rather than on
  // an invalid, unreadable or overlong line, or a failed macro line).
  bool ReachedEndOfFile() const { return mReachedEnd; }
  // After GetNextLine stopped on an error: the physical number of the line
  // that stopped it. 0 otherwise.
  int32_t GetStopLineNumber() const { return mStopLineNumber; }
  // After GetNextLine stopped on an error: that line as it was read (of an
  // overlong line, the part read before reading stopped). Empty otherwise.
  const std::string& GetStopLine() const { return mStopLine; }
  // Physical lines read from the open file so far.
  int32_t GetLineCount() const { return mLineCount; }
  // The macro table: (name with its "%", value), in order of definition.
  const std::vector<std::pair<std::string, std::string>>& GetMacros() const { return mMacros; }
  const std::string& GetMessage() const { return mMessage; }

 private:
  struct InputFile {
    std::FILE* file = nullptr;
    ~InputFile();
  };

  int GetLineFromFile(std::string& line);
  int ProcessLine(std::string& line, LineType& type);
  // Cuts comments and replaces macro names; -1 (logged) when the line would
  // grow past kMaxScriptLineLength.
  int SubstituteMacros(std::string& line);
  int ProcessMacroLine(const std::string& line);
  int ParseCommandString(const std::string& line);
  int Fail(const std::string& message);

  LogFile& log_;

  bool mReturnCommandLines = false;
  bool mReturnCommentLines = false;
  bool mReturnMacroLines = false;
  bool mReturnBlankLines = false;
  int32_t mLineCount = 0;
  std::unique_ptr<InputFile> mInputFile;
  std::string mMessage;
  std::vector<std::pair<std::string, std::string>> mMacros;
  std::vector<std::string> mArguments;
  bool mReachedEnd = false;
  int32_t mStopLineNumber = 0;
  std::string mStopLine;
};

}  // namespace orvanta
