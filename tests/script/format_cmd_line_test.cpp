// The script line reader on real files: line kinds, line numbers, the line
// length limit, comments, macros and their arithmetic, with the exact texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "script/format_cmd_line.h"
#include "script_test_support.h"

namespace orvanta::testing {
namespace {

using Args = std::vector<std::string>;

class FormatCmdLineTest : public ::testing::Test {
 protected:
  // Opens `content` as a file with command lines wanted.
  void Open(const std::string& content) {
    ASSERT_EQ(reader.OpenFileCfg(dir.Write("setup.cfg", content)), 0);
    reader.SetReturnCommandLines(true);
  }
  // Every line handed out until the reader stops, as "number:line".
  Args ReadAll() {
    Args out;
    std::string line;
    int32_t number = 0;
    while (reader.GetNextLine(line, number) == 0)
      out.push_back(std::to_string(number) + ":" + line);
    return out;
  }
  // The value of macro `name`, or "<none>".
  std::string Macro(const std::string& name) {
    for (const auto& [n, v] : reader.GetMacros())
      if (n == name) return v;
    return "<none>";
  }

  TempDir dir;
  ScriptModel m;
  FormatCmdLine reader{m.log};
};

TEST_F(FormatCmdLineTest, HandsOutOnlyTheWantedKindsWithPhysicalLineNumbers) {
  const std::string file =
      "# comment\r\n"
      "-AddTrial \"A\"\r\n"
      "\r\n"
      "  \t \r\n"
      "%m = 1\r\n"
      "   // another comment\r\n"
      "\t-SetTrialCount \"A\" 2\r\n";
  Open(file);
  EXPECT_EQ(ReadAll(), (Args{"2:-AddTrial \"A\"", "7:\t-SetTrialCount \"A\" 2"}));
  EXPECT_TRUE(reader.ReachedEndOfFile());

  ASSERT_EQ(reader.OpenFileCfg(dir.File("setup.cfg")), 0);
  reader.SetReturnCommandLines(false);
  reader.SetReturnCommentLines(true);
  EXPECT_EQ(ReadAll(), (Args{"1:# comment", "6:   // another comment"}));

  ASSERT_EQ(reader.OpenFileCfg(dir.File("setup.cfg")), 0);
  reader.SetReturnCommentLines(false);
  reader.SetReturnBlankLines(true);
  EXPECT_EQ(ReadAll(), (Args{"3:", "4:  \t "}));

  ASSERT_EQ(reader.OpenFileCfg(dir.File("setup.cfg")), 0);
  reader.SetReturnBlankLines(false);
  reader.SetReturnMacroLines(true);
  EXPECT_EQ(ReadAll(), (Args{"5:%m = 1"}));
}

TEST_F(FormatCmdLineTest, LogsEveryLineAndTheEndOfTheFile) {
  Open("# only\n-AddTrial x");  // the last line has no line end
  EXPECT_EQ(ReadAll(), (Args{"2:-AddTrial x"}));
  EXPECT_EQ(m.Entries(),
            (Args{"NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 1",
                  "NOTICE|FormatCmdLine::GetNextLine() - Processing line: # only",
                  "NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 2",
                  "NOTICE|FormatCmdLine::GetNextLine() - Processing line: -AddTrial x",
                  "NOTICE|FormatCmdLine::GetLineFromFile() - The end of the file has been "
                  "reached."}));
}

TEST_F(FormatCmdLineTest, InvalidLinesStopTheFile) {
  for (const std::string bad : {"AddTrial \"B\"", "/ comment", "  x", "\xEF\xBB\xBF-AddTrial"}) {
    m.ClearLog();
    Open("-AddTrial \"A\"\n" + bad + "\n-AddTrial \"C\"\n");
    EXPECT_EQ(ReadAll(), (Args{"1:-AddTrial \"A\""})) << bad;
    EXPECT_FALSE(reader.ReachedEndOfFile());
    EXPECT_EQ(reader.GetStopLineNumber(), 2);
    EXPECT_EQ(m.Errors(), (Args{"FormatCmdLine::ProcessLine() - Error, Invalid Syntax, unable to "
                                "determine what type of line to process."}));
  }
}

TEST_F(FormatCmdLineTest, LinesUpTo999CharactersAreRead) {
  const std::string exact = "-AddTrial " + std::string(989, 'x');
  ASSERT_EQ(exact.size(), 999u);
  Open(exact + "\r\n" + exact + "\n" + exact);
  EXPECT_EQ(ReadAll(), (Args{"1:" + exact, "2:" + exact, "3:" + exact}));
  EXPECT_TRUE(reader.ReachedEndOfFile());

  m.ClearLog();
  Open("-AddTrial \"A\"\n" + exact + "y\n-AddTrial \"C\"\n");
  EXPECT_EQ(ReadAll(), (Args{"1:-AddTrial \"A\""}));
  EXPECT_FALSE(reader.ReachedEndOfFile());
  EXPECT_EQ(reader.GetStopLineNumber(), 2);
  EXPECT_EQ(m.Errors(),
            (Args{"FormatCmdLine::GetLineFromFile() - Error, unable to get next line from file."}));
}

TEST_F(FormatCmdLineTest, OpenFailuresAndReadingWithoutAFile) {
  std::string line;
  int32_t number = 0;
  EXPECT_EQ(reader.GetNextLine(line, number), -1);
  EXPECT_EQ(reader.OpenFileCfg(dir.File("missing.cfg")), -1);
  EXPECT_EQ(reader.OpenFileCfg(dir.path()), -1);
  EXPECT_EQ(reader.GetNextLine(line, number), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"FormatCmdLine::GetNextLine() - Error, a file in not currently opened.",
                  "FormatCmdLine::OpenFileCfg() - Error, attempt to open filename failed.  "
                  "filename: " +
                      dir.File("missing.cfg"),
                  "FormatCmdLine::OpenFileCfg() - Error, attempt to open filename failed.  "
                  "filename: " +
                      dir.path(),
                  "FormatCmdLine::GetNextLine() - Error, a file in not currently opened."}));
}

TEST_F(FormatCmdLineTest, CommentsAreCutAnywhereInCommandLines) {
  Open(
      "-AddTrial \"A\" # trailing note\n"
      "-SetStartOfTrialEventString \"A\" \"x#y\"\n"
      "-SetWavFileName \"A\" \"http://host/a.wav\"\n"
      "-AddTrial \"B\"// note # more\n");
  EXPECT_EQ(ReadAll(), (Args{"1:-AddTrial \"A\" ", "2:-SetStartOfTrialEventString \"A\" \"x",
                             "3:-SetWavFileName \"A\" \"http:", "4:-AddTrial \"B\""}));
}

// The worked example, line by line.
TEST_F(FormatCmdLineTest, WorkedMacroExample) {
  Open(
      "%count = 5\n"
      "%count += 2.5\n"
      "%count *= 2\n"
      "%label = Tone\n"
      "%label := A\n"
      "%copy = %count\n"
      "-SetTrialCount %label %count\n"
      "-SetTrialCount %label %count2\n");
  reader.SetReturnMacroLines(true);
  std::string line;
  int32_t number = 0;
  const std::pair<const char*, const char*> steps[] = {
      {"%count", "5"},    {"%count", "7.50"},  {"%count", "15"},
      {"%label", "Tone"}, {"%label", "ToneA"}, {"%copy", "15"},
  };
  for (const auto& [name, value] : steps) {
    ASSERT_EQ(reader.GetNextLine(line, number), 0);
    EXPECT_EQ(Macro(name), value) << "line " << number;
  }
  ASSERT_EQ(reader.GetNextLine(line, number), 0);
  EXPECT_EQ(line, "-SetTrialCount ToneA 15");
  ASSERT_EQ(reader.GetNextLine(line, number), 0);
  EXPECT_EQ(line, "-SetTrialCount ToneA %count2");
  EXPECT_EQ(number, 8);
  EXPECT_EQ(reader.GetMacros().size(), 3u);
  EXPECT_TRUE(m.Errors().empty());
}

TEST_F(FormatCmdLineTest, MacroSubstitutionRules) {
  Open(
      "%n = tone1.wav\n"
      "%x = y%x\n"
      "%title = \"Stim A\"\n"
      "%bare = Stim A\n"
      "-SetWavFileName T C:\\wav\\%n\n"
      "-A %x %x\t%x\n"
      "-AddTrial %title\n"
      "-AddTrial %bare\n"
      "%pct = 50%\n"
      "-A %pct %nope %n\n");
  EXPECT_EQ(ReadAll(),
            (Args{"5:-SetWavFileName T C:\\wav\\tone1.wav", "6:-A y%x y%x\ty%x",
                  "7:-AddTrial \"Stim A\"", "8:-AddTrial Stim", "10:-A 50% %nope tone1.wav"}));
}

TEST_F(FormatCmdLineTest, MacroArithmeticInSinglePrecision) {
  Open(
      "%a = abc\n%a += 2\n"
      "%b = 7.5\n%b -= 7.5\n"
      "%c = 1\n%c /= 3\n"
      "%d = 0.1\n%d *= 3\n"
      "%e = -1\n%e *= 0\n"
      "%f = 16777216\n%f += 1\n"
      "%g = 2.5e1xyz\n%g += 0\n");
  ReadAll();
  EXPECT_EQ(Macro("%a"), "2");
  EXPECT_EQ(Macro("%b"), "0");
  EXPECT_EQ(Macro("%c"), "0.33");
  EXPECT_EQ(Macro("%d"), "0.30");
  EXPECT_EQ(Macro("%e"), "-0");
  EXPECT_EQ(Macro("%f"), "16777216");  // 16777217 has no float
  EXPECT_EQ(Macro("%g"), "25");
  EXPECT_TRUE(reader.ReachedEndOfFile());
}

TEST_F(FormatCmdLineTest, NonFiniteMacroResultsHaveStableTexts) {
  Open(
      "%p = 1\n%p /= 0\n"
      "%n = -1\n%n /= 0\n"
      "%z = 0\n%z /= 0\n"
      "%big = 3e38\n%big *= 10\n"
      "%huge = 1e400\n%huge += 0\n"
      "%tiny = 1e-400\n%tiny += 1\n"
      "%p2 = %p\n%p2 += 1\n"
      "%n2 = %n\n%n2 *= 2\n"
      "%z2 = %z\n%z2 -= 1\n"
      "-SetTrialDuration T %p\n");
  EXPECT_EQ(ReadAll(), (Args{"19:-SetTrialDuration T inf"}));
  EXPECT_EQ(Macro("%p"), "inf");
  EXPECT_EQ(Macro("%n"), "-inf");
  EXPECT_EQ(Macro("%z"), "nan");
  EXPECT_EQ(Macro("%big"), "inf");
  EXPECT_EQ(Macro("%huge"), "inf");
  EXPECT_EQ(Macro("%tiny"), "1");
  EXPECT_EQ(Macro("%p2"), "inf");
  EXPECT_EQ(Macro("%n2"), "-inf");
  EXPECT_EQ(Macro("%z2"), "nan");
}

TEST(MacroNumbers, ConversionAndFormat) {
  EXPECT_EQ(MacroTextToFloat("  -2.5xyz"), -2.5f);
  EXPECT_EQ(MacroTextToFloat("+.5"), 0.5f);
  EXPECT_EQ(MacroTextToFloat("5."), 5.0f);
  EXPECT_EQ(MacroTextToFloat("1e"), 1.0f);
  EXPECT_EQ(MacroTextToFloat("0x10"), 0.0f);
  EXPECT_EQ(MacroTextToFloat("infinity"), 0.0f);
  EXPECT_EQ(MacroTextToFloat("."), 0.0f);
  EXPECT_TRUE(std::isinf(MacroTextToFloat("inf")));
  EXPECT_TRUE(std::isnan(MacroTextToFloat("nan")));
  EXPECT_EQ(FormatMacroNumber(1.005f), "1");  // 1.00499999 rounds down
  EXPECT_EQ(FormatMacroNumber(100.0f), "100");
  EXPECT_EQ(FormatMacroNumber(-0.5f), "-0.50");
  EXPECT_EQ(FormatMacroNumber(std::numeric_limits<float>::max()),
            "340282346638528859811704183484516925440");
  EXPECT_EQ(FormatMacroNumber(-std::numeric_limits<float>::infinity()), "-inf");
  EXPECT_TRUE(std::isnan(ApplyMacroArithmetic(-0.0f, "/=", 0.0f)));
  EXPECT_EQ(ApplyMacroArithmetic(2.0f, "/=", -0.0f), -std::numeric_limits<float>::infinity());
}

TEST_F(FormatCmdLineTest, MacroLineErrors) {
  struct Case {
    const char* line;
    const char* error;
  } cases[] = {
      {"%a =",
       "FormatCmdLine::ProcessMacroLine() - Error, Invalid number of arguments, unable to "
       "process macro line.  commandLine: %a ="},
      {"%a ++ 1",
       "FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax for macro "
       "operation, unknown operator = ++."},
      {"%a = %b",
       "FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax, Macro substitution "
       "value not found, value = %b"},
      {"%a += 1",
       "FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax, Attempting to "
       "modify a macro that does not exist."},
      {"%a := x",
       "FormatCmdLine::ProcessMacroLine() - Error, Invalid Syntax, Attempting to "
       "modify a macro that does not exist."},
      {"%a = \"open",
       "FormatCmdLine::ParseCommandString() - Error Processing command string, "
       "unable to find matching double quotes. command string: open"},
  };
  for (const Case& c : cases) {
    m.ClearLog();
    Open(std::string("%keep = 1\n") + c.line + "\n-AddTrial x\n");
    EXPECT_TRUE(ReadAll().empty()) << c.line;
    EXPECT_FALSE(reader.ReachedEndOfFile());
    EXPECT_EQ(reader.GetStopLineNumber(), 2);
    EXPECT_EQ(m.Errors(), (Args{c.error})) << c.line;
    EXPECT_EQ(Macro("%keep"), "1");  // defined before the failed line: kept
  }
  // Extra arguments after the value are ignored; "=" redefines.
  Open("%a = 1 2 3\n%a = 4\n-X %a\n");
  EXPECT_EQ(ReadAll(), (Args{"3:-X 4"}));
}

TEST_F(FormatCmdLineTest, ReopeningStartsAfresh) {
  Open("%a = 1\n-X %a\n");
  EXPECT_EQ(ReadAll(), (Args{"2:-X 1"}));
  Open("-X %a\n");
  EXPECT_EQ(ReadAll(), (Args{"1:-X %a"}));
  EXPECT_TRUE(reader.GetMacros().empty());
}

}  // namespace
}  // namespace orvanta::testing
