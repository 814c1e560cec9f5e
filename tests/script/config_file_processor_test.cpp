// The setup-file runner and writer on real files: the exact file, save and
// load round trips, failing commands, and saves that must not lose data.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "script_test_support.h"

namespace orvanta::testing {
namespace {

using Args = std::vector<std::string>;

const char kHeader[] =
    "#Orvanta system setup file\r\n"
    "#Generated using Orvanta v1.0\r\n"
    "#File Generation Date: 2024-03-07 09:05:03\r\n"
    "\r\n"
    "#Orvanta Setup\r\n";

// A setup with three types, every kind of value set, and a shuffled deck.
void BuildSetup(ScriptModel& m, const std::string& logPath, ShuffleType type) {
  ASSERT_EQ(m.log.SetLogFilename(logPath), 0);
  for (const char* name : {"Tone A", "Light", "Catch"}) ASSERT_EQ(m.trials.AddTrial(name), 0);
  int32_t suit = 0;
  ASSERT_EQ(m.trials.GetSuitID("Tone A", suit), 0);
  ASSERT_EQ(m.deck.SetNumCardsInSuit(suit, 4), 0);
  ASSERT_EQ(m.trials.GetSuitID("Light", suit), 0);
  ASSERT_EQ(m.deck.SetNumCardsInSuit(suit, 3), 0);
  ASSERT_EQ(m.trials.GetSuitID("Catch", suit), 0);
  ASSERT_EQ(m.deck.SetNumCardsInSuit(suit, 2), 0);

  Trial* t = m.TrialNamed("Tone A");
  t->SetTrialDuration(500);
  t->SetInterTrialInterval(-800);
  t->SetPlayWavFile(true);
  t->SetWavFileName("/data/wav files/tone 1k.wav");
  t->SetWavFileBufferNumber(2);
  t->SetWavFileBoardNumber(1);
  t->SetWavFileSubSystemName("DA 1");
  t->SetStartOfTrialGenerateEvent(true);
  t->SetStartOfTrialEventString("Tone On");
  t->SetStartOfTrialEventTTLValue(7);
  t->SetStartOfTrialGenerateTTLPulse(true);
  t->SetStartOfTrialTTLPulseBitNumber(3);
  t->SetStartOfTrialTTLPulseDuration(10);
  t->SetStartOfTrialTTLPulseBoardNumber(2);
  t->SetStartOfTrialTTLPulseSubSystemName("DIO");
  t = m.TrialNamed("Light");
  t->SetEndOfTrialGenerateEvent(true);
  t->SetEndOfTrialEventString("off");
  t->SetEndOfTrialEventTTLValue(-1);
  t->SetEndOfTrialGenerateTTLPulse(true);
  t->SetEndOfTrialTTLPulseBitNumber(15);
  t->SetEndOfTrialTTLPulseDuration(20);
  t->SetEndOfTrialTTLPulseBoardNumber(4);
  t->SetEndOfTrialTTLPulseSubSystemName("DIO2");

  m.deck.SetShuffleType(type);
  ASSERT_EQ(m.deck.SetMaxConsectutiveSameSuitCards(2), 0);
  m.deck.Seed(12345);
  ASSERT_EQ(m.deck.Shuffle(), 0);
}

// Every setting of every type, as text, for comparing two models.
Args Describe(ScriptModel& m) {
  Args out;
  for (const std::string& name : m.trials.GetTrialNames()) {
    Trial* t = m.TrialNamed(name);
    out.push_back(
        name + " count=" + std::to_string(m.CountOf(name)) +
        " dur=" + std::to_string(t->GetTrialDuration()) + " iti=" +
        std::to_string(t->GetInterTrialInterval()) + " wav=" + std::to_string(t->GetPlayWavFile()) +
        "|" + t->GetWavFileName() + "|" + std::to_string(t->GetWavFileBufferNumber()) + "|" +
        std::to_string(t->GetWavFileBoardNumber()) + "|" + t->GetWavFileSubSystemName() +
        " start=" + std::to_string(t->GetStartOfTrialGenerateEvent()) + "|" +
        t->GetStartOfTrialEventString() + "|" + std::to_string(t->GetStartOfTrialEventTTLValue()) +
        "|" + std::to_string(t->GetStartOfTrialGenerateTTLPulse()) + "|" +
        std::to_string(t->GetStartOfTrialTTLPulseBitNumber()) + "|" +
        std::to_string(t->GetStartOfTrialTTLPulseDuration()) + "|" +
        std::to_string(t->GetStartOfTrialTTLPulseBoardNumber()) + "|" +
        t->GetStartOfTrialTTLPulseSubSystemName() +
        " end=" + std::to_string(t->GetEndOfTrialGenerateEvent()) + "|" +
        t->GetEndOfTrialEventString() + "|" + std::to_string(t->GetEndOfTrialEventTTLValue()) +
        "|" + std::to_string(t->GetEndOfTrialGenerateTTLPulse()) + "|" +
        std::to_string(t->GetEndOfTrialTTLPulseBitNumber()) + "|" +
        std::to_string(t->GetEndOfTrialTTLPulseDuration()) + "|" +
        std::to_string(t->GetEndOfTrialTTLPulseBoardNumber()) + "|" +
        t->GetEndOfTrialTTLPulseSubSystemName());
  }
  out.push_back("shuffle=" + std::to_string(m.deck.GetShuffleType()) +
                " max=" + std::to_string(m.deck.GetMaxConsectutiveSameSuitCards()));
  return out;
}

TEST(SetupFileWriter, WritesTheExactFile) {
  TempDir dir;
  ScriptModel m;
  ASSERT_EQ(m.log.SetLogFilename(dir.File("run.txt")), 0);
  ASSERT_EQ(m.trials.AddTrial("Tone"), 0);
  const std::string expected = std::string(kHeader) + "-SetLogFile \"" + dir.File("run.txt") +
                               "\"\r\n\r\n\r\n" +
                               "-AddTrial \"Tone\"\r\n"
                               "-SetTrialCount \"Tone\" 1\r\n"
                               "-SetTrialDuration \"Tone\" 2000\r\n"
                               "-SetInterTrialInterval \"Tone\" 5000\r\n"
                               "-SetPlayWavFile \"Tone\" false\r\n"
                               "-SetWavFileBufferNumber \"Tone\" 0\r\n"
                               "-SetWavFileBoardNumber \"Tone\" 0\r\n"
                               "-SetWavFileSubSystemName \"Tone\" \"VRXBD\"\r\n"
                               "-SetStartOfTrialGenerateEvent \"Tone\" false\r\n"
                               "-SetStartOfTrialEventTTLValue \"Tone\" 0\r\n"
                               "-SetStartOfTrialGenerateTTLPulse \"Tone\" false\r\n"
                               "-SetStartOfTrialTTLPulseBitNumber \"Tone\" 0\r\n"
                               "-SetStartOfTrialTTLPulseDuration \"Tone\" 0\r\n"
                               "-SetStartOfTrialTTLPulseBoardNumber \"Tone\" 0\r\n"
                               "-SetStartOfTrialTTLPulseSubSystemName \"Tone\" \"VRXBD\"\r\n"
                               "-SetEndOfTrialGenerateEvent \"Tone\" false\r\n"
                               "-SetEndOfTrialEventTTLValue \"Tone\" 0\r\n"
                               "-SetEndOfTrialGenerateTTLPulse \"Tone\" false\r\n"
                               "-SetEndOfTrialTTLPulseBitNumber \"Tone\" 0\r\n"
                               "-SetEndOfTrialTTLPulseDuration \"Tone\" 0\r\n"
                               "-SetEndOfTrialTTLPulseBoardNumber \"Tone\" 0\r\n"
                               "-SetEndOfTrialTTLPulseSubSystemName \"Tone\" \"VRXBD\"\r\n"
                               "\r\n"
                               "-SetShuffleType Normal\r\n"
                               "-SetShuffleMaxConsecutiveTypeCount 1\r\n"
                               "-SetTrialOrder \"Tone\" 0\r\n";

  // The plain writer into a file the caller opened.
  const std::string plain = dir.File("plain.cfg");
  std::FILE* file = std::fopen(plain.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(m.config.WriteSetupFile(file), 0);
  std::fclose(file);
  EXPECT_EQ(ReadFile(plain), expected);

  // The checked save writes the same bytes.
  const SetupFileSaveResult saved = m.config.SaveSetupFile(dir.File("saved.cfg"));
  EXPECT_EQ(saved.status, 0) << saved.error;
  EXPECT_TRUE(saved.warnings.empty());
  EXPECT_EQ(ReadFile(dir.File("saved.cfg")), expected);
  EXPECT_EQ(m.config.GetSetupFileText(m.clock.Now()), expected);

  // An empty model writes only the header, the log line and the deck's two lines.
  ScriptModel empty;
  ASSERT_EQ(empty.log.SetLogFilename(dir.File("run2.txt")), 0);
  EXPECT_EQ(empty.config.GetSetupFileText(LocalTime{2031, 12, 31, 23, 59, 58, 999}),
            "#Orvanta system setup file\r\n#Generated using Orvanta v1.0\r\n"
            "#File Generation Date: 2031-12-31 23:59:58\r\n\r\n#Orvanta Setup\r\n"
            "-SetLogFile \"" +
                dir.File("run2.txt") +
                "\"\r\n\r\n\r\n"
                "-SetShuffleType Normal\r\n-SetShuffleMaxConsecutiveTypeCount 1\r\n");
}

// A start trigger adds its one line after its type's lines and nothing
// else; a saved trigger loads and saves back byte for byte. (A setup without
// one saves as WritesTheExactFile shows.)
TEST(SetupFileWriter, ATriggerLineLoadsAndSavesBackByteForByte) {
  TempDir dir;
  const std::string triggerLine = "-SetStartOfTrialTrigger \"Tone\" \"SE 1\" 3 50 10000 Skip\r\n";
  // The saved text of `lines`, loaded into a fresh model whose log is `log`.
  auto saved = [&](const std::string& lines, const std::string& log) {
    ScriptModel m;
    EXPECT_EQ(m.log.SetLogFilename(dir.File(log)), 0);
    EXPECT_EQ(m.config.ProcessScript(dir.Write(log + ".cfg", lines)), 0) << lines;
    return m.config.GetSetupFileText(m.clock.Now());
  };
  const std::string plain = "-AddTrial \"Tone\"\r\n-SetTrialCount \"Tone\" 2\r\n";
  const std::string without = saved(plain, "a.txt");
  const std::string with = saved(plain + triggerLine, "b.txt");
  const std::string typeEnd = "-SetEndOfTrialTTLPulseSubSystemName \"Tone\" \"VRXBD\"\r\n";
  std::string expected = without;
  ASSERT_NE(expected.find(typeEnd), std::string::npos);
  expected.insert(expected.find(typeEnd) + typeEnd.size(), triggerLine);
  // The log lines differ by their names only.
  expected.replace(expected.find(dir.File("a.txt")), dir.File("a.txt").size(), dir.File("b.txt"));
  EXPECT_EQ(with, expected);
  // Loaded as saved (b's log, which it names, is free again), it saves the
  // same bytes.
  const std::string file = dir.Write("with.cfg", with);
  ScriptModel c;
  ASSERT_EQ(c.config.ProcessScript(file), 0);
  EXPECT_EQ(c.config.GetSetupFileText(c.clock.Now()), with);
}

class RoundTrip : public ::testing::TestWithParam<ShuffleType> {};

TEST_P(RoundTrip, SavedSetupLoadsIntoAFreshModelUnchanged) {
  TempDir dir;
  ScriptModel a;
  BuildSetup(a, dir.File("a.txt"), GetParam());
  const SetupFileSaveResult saved = a.config.SaveSetupFile(dir.File("setup.cfg"));
  ASSERT_EQ(saved.status, 0) << saved.error;
  EXPECT_TRUE(saved.warnings.empty());

  // The setup names a's log; b may only take it over once a has let it go.
  ASSERT_EQ(a.log.SetLogFilename(dir.File("a-later.txt")), 0);
  ScriptModel b;
  ASSERT_EQ(b.log.SetLogFilename(dir.File("b.txt")), 0);
  EXPECT_EQ(b.config.ProcessScript(dir.File("setup.cfg")), 0);
  EXPECT_TRUE(b.Errors().empty()) << b.Errors().front();
  EXPECT_EQ(b.config.GetLastOutcome().kind, ScriptOutcome::kCompleted);
  EXPECT_TRUE(b.boxes.boxes().empty());
  EXPECT_EQ(b.trials.GetTrialNames(), (Args{"Tone A", "Light", "Catch"}));
  EXPECT_EQ(Describe(b), Describe(a));
  EXPECT_EQ(b.OrderNames(), a.OrderNames());
  EXPECT_EQ(b.deck.GetOrder(), a.deck.GetOrder());
  EXPECT_EQ(b.log.GetFilePath(), dir.File("a.txt"));

  // Saved again, the fresh model writes the very same file.
  ASSERT_EQ(b.config.SaveSetupFile(dir.File("again.cfg")).status, 0);
  EXPECT_EQ(ReadFile(dir.File("again.cfg")), ReadFile(dir.File("setup.cfg")));
}

INSTANTIATE_TEST_SUITE_P(BothShuffleTypes, RoundTrip, ::testing::Values(Normal, Group));

// -SetTimingMode: read ignoring case, saved last and only when Fixed, so files
// that never chose the fixed schedule stay as they were.
TEST(ScriptRunner, TimingModeParsesSavesAndReloads) {
  TempDir dir;
  ScriptModel a;
  ASSERT_EQ(a.log.SetLogFilename(dir.File("a.txt")), 0);
  const std::string relativeText = a.config.GetSetupFileText(a.clock.Now());
  EXPECT_EQ(relativeText.find("-SetTimingMode"), std::string::npos);
  EXPECT_EQ(a.commands.ProcessCommandString("-settimingmode FIXED"), 0);
  EXPECT_EQ(a.trials.GetTimingMode(), TimingMode::kFixed);
  EXPECT_EQ(a.commands.ProcessCommandString("-SetTimingMode Sometimes"), -1);
  EXPECT_EQ(a.commands.ProcessCommandString("-SetTimingMode"), -1);
  EXPECT_EQ(a.Errors(),
            (Args{"CommandProcessor::SetTimingMode() - Error, invalid argument. Argument 1 must be "
                  "equal to one of the following(Fixed,Relative) Argument 1: Sometimes",
                  "CommandProcessor::SetTimingMode() - The -SetTimingMode command expects 1 "
                  "arguments.  There were 0 specifed."}));
  EXPECT_EQ(a.trials.GetTimingMode(), TimingMode::kFixed);
  EXPECT_EQ(a.config.GetSetupFileText(a.clock.Now()), relativeText + "-SetTimingMode Fixed\r\n");
  ASSERT_EQ(a.config.SaveSetupFile(dir.File("fixed.cfg")).status, 0);

  ScriptModel b;
  ASSERT_EQ(b.config.ProcessScript(dir.File("fixed.cfg")), 0);
  EXPECT_EQ(b.trials.GetTimingMode(), TimingMode::kFixed);
  EXPECT_EQ(b.commands.ProcessCommandString("-SetTimingMode relative"), 0);
  EXPECT_EQ(b.trials.GetTimingMode(), TimingMode::kRelative);
}

TEST(ScriptRunner, LoadingIntoAModelThatHoldsTheTypesStopsAtLine9) {
  TempDir dir;
  ScriptModel m;
  BuildSetup(m, dir.File("a.txt"), Normal);
  ASSERT_EQ(m.config.SaveSetupFile(dir.File("setup.cfg")).status, 0);
  const std::vector<int32_t> order = m.deck.GetOrder();
  m.ClearLog();

  const std::string path = dir.File("setup.cfg");
  EXPECT_EQ(m.config.ProcessScript(path), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"TrialContainer::AddTrial() - Error, unable to add new trial to list, the trial "
                  "name is already in use.  Name: Tone A",
                  "ConfigFileProcessor::ProcessScript() - Error, Command String failed to "
                  "execute.  Line Number: 9, Command Line: -AddTrial \"Tone A\", Filename: " +
                      path}));
  const auto boxes = m.boxes.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(
      boxes[0].text,
      "There was an error processing your configuration file.  See the logfile for "
      "details.\r\n\r\nFile: " +
          path +
          "\r\nLine Number: 9\r\nCommand: -AddTrial \"Tone A\"\r\nReason: "
          "TrialContainer::AddTrial() - Error, unable to add new trial to list, the trial name "
          "is already in use.  Name: Tone A\r\n\r\nThe lines before line 9 were loaded and "
          "stay in the setup (3 trial types are now loaded); line 9 and the lines after it "
          "were not run.\r\n");
  EXPECT_EQ(boxes[0].caption, "Configuration File Error");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
  EXPECT_EQ(boxes[0].buttons, BoxButtons::kOk);
  const ScriptOutcome& outcome = m.config.GetLastOutcome();
  EXPECT_EQ(outcome.kind, ScriptOutcome::kCommandFailed);
  EXPECT_EQ(outcome.lineNumber, 9);
  EXPECT_EQ(outcome.commandLine, "-AddTrial \"Tone A\"");
  // The setup is untouched: the -SetLogFile line reopened the same file.
  EXPECT_EQ(m.deck.GetOrder(), order);
}

TEST(ScriptRunner, AThirdFailingCommandKeepsTheFirstTwo) {
  TempDir dir;
  ScriptModel m;
  const std::string path = dir.Write("s.cfg",
                                     "-AddTrial \"A\"   # first\n"
                                     "-SetTrialCount \"A\" 3\n"
                                     "-SetTrialDuration \"A\" soon\n"
                                     "-AddTrial \"B\"\n");
  EXPECT_EQ(m.config.ProcessScript(path), -1);
  EXPECT_EQ(m.trials.GetTrialNames(), (Args{"A"}));
  EXPECT_EQ(m.CountOf("A"), 3);
  EXPECT_EQ(m.TrialNamed("A")->GetTrialDuration(), 2000);
  const Args entries = m.Entries();
  const Args expected = {
      "NOTICE|ConfigFileProcessor::ProcessScript() - Started Processing Filename: " + path,
      "NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 1",
      "NOTICE|FormatCmdLine::GetNextLine() - Processing line: -AddTrial \"A\"   # first",
      "NOTICE|ConfigFileProcessor::ProcessScript() - Next Ascii Command to Process.  Line Number: "
      "1, Command Line: -AddTrial \"A\"   , Filename: " +
          path,
      "NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 2",
      "NOTICE|FormatCmdLine::GetNextLine() - Processing line: -SetTrialCount \"A\" 3",
      "NOTICE|ConfigFileProcessor::ProcessScript() - Next Ascii Command to Process.  Line Number: "
      "2, Command Line: -SetTrialCount \"A\" 3, Filename: " +
          path,
      "NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 3",
      "NOTICE|FormatCmdLine::GetNextLine() - Processing line: -SetTrialDuration \"A\" soon",
      "NOTICE|ConfigFileProcessor::ProcessScript() - Next Ascii Command to Process.  Line Number: "
      "3, Command Line: -SetTrialDuration \"A\" soon, Filename: " +
          path,
      "ERROR|CommandProcessor::SetTrialDuration() - Error, invalid argument received. Argument 2 "
      "must be a numeric value.  Argument 2: soon",
      "ERROR|ConfigFileProcessor::ProcessScript() - Error, Command String failed to execute.  Line "
      "Number: 3, Command Line: -SetTrialDuration \"A\" soon, Filename: " +
          path,
  };
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(m.boxes.boxes().size(), 1u);
}

TEST(ScriptRunner, AFileOfCommentsOnlyLogsOnlyTheReading) {
  TempDir dir;
  ScriptModel m;
  const std::string path = dir.Write("c.cfg", "# one\r\n\r\n  // two\r\n");
  EXPECT_EQ(m.config.ProcessScript(path), 0);
  EXPECT_EQ(m.config.GetLastOutcome().kind, ScriptOutcome::kCompleted);
  EXPECT_EQ(
      m.Entries(),
      (Args{
          "NOTICE|ConfigFileProcessor::ProcessScript() - Started Processing Filename: " + path,
          "NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 1",
          "NOTICE|FormatCmdLine::GetNextLine() - Processing line: # one",
          "NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 2",
          "NOTICE|FormatCmdLine::GetNextLine() - Processing line: ",
          "NOTICE|FormatCmdLine::GetNextLine() - Processing line number: 3",
          "NOTICE|FormatCmdLine::GetNextLine() - Processing line:   // two",
          "NOTICE|FormatCmdLine::GetLineFromFile() - The end of the file has been reached.",
          "NOTICE|ConfigFileProcessor::ProcessScript() - Finished Processing Filename: " + path}));
  EXPECT_TRUE(m.boxes.boxes().empty());
}

TEST(ScriptRunner, MissingFileAndReaderStops) {
  TempDir dir;
  ScriptModel m;
  EXPECT_EQ(m.config.ProcessScript(dir.File("none.cfg")), -1);
  EXPECT_EQ(m.config.GetLastOutcome().kind, ScriptOutcome::kOpenFailed);
  EXPECT_EQ(m.Errors(), (Args{"FormatCmdLine::OpenFileCfg() - Error, attempt to open filename "
                              "failed.  filename: " +
                              dir.File("none.cfg")}));
  EXPECT_TRUE(m.boxes.boxes().empty());

  // An invalid line stops the load as a failure, with a box that gives the
  // line and the reader's reason; what came before it stays.
  m.ClearLog();
  const std::string path =
      dir.Write("bad.cfg", "-AddTrial \"A\"\nAddTrial \"B\"\n-AddTrial \"C\"\n");
  EXPECT_EQ(m.config.ProcessScript(path), -1);
  const ScriptOutcome& outcome = m.config.GetLastOutcome();
  EXPECT_EQ(outcome.kind, ScriptOutcome::kStoppedEarly);
  EXPECT_EQ(outcome.lineNumber, 2);
  EXPECT_EQ(outcome.commandLine, "AddTrial \"B\"");
  const std::string reason =
      "FormatCmdLine::ProcessLine() - Error, Invalid Syntax, unable to determine what type of "
      "line to process.";
  EXPECT_EQ(outcome.reason, reason);
  EXPECT_EQ(m.trials.GetTrialNames(), (Args{"A"}));
  ASSERT_EQ(m.boxes.boxes().size(), 1u);
  EXPECT_EQ(m.boxes.boxes()[0].caption, "Configuration File Error");
  EXPECT_EQ(
      m.boxes.boxes()[0].text,
      "Your configuration file could not be read to its end.  See the logfile for "
      "details.\r\n\r\nFile: " +
          path + "\r\nLine Number: 2\r\nLine: AddTrial \"B\"\r\nReason: " + reason +
          "\r\n\r\nThe lines before line 2 were loaded and stay in the setup (1 trial type is "
          "now loaded); line 2 and the lines after it were not run.\r\n");
  EXPECT_EQ(m.Errors(),
            (Args{reason,
                  "ConfigFileProcessor::ProcessScript() - Error, processing stopped at a line that "
                  "could not be read; the rest of the file was not run.  Line Number: 2, Line: "
                  "AddTrial \"B\", Filename: " +
                      path}));

  // An overlong line shows the part read, cut for the box.
  m.boxes.Clear();
  const std::string longLine = "-AddTrial \"" + std::string(1200, 'x') + "\"\n";
  EXPECT_EQ(m.config.ProcessScript(dir.Write("long.cfg", "-AddTrial \"D\"\n" + longLine)), -1);
  EXPECT_EQ(m.config.GetLastOutcome().lineNumber, 2);
  ASSERT_EQ(m.boxes.boxes().size(), 1u);
  EXPECT_NE(
      m.boxes.boxes()[0].text.find("\r\nLine: -AddTrial \"" + std::string(189, 'x') + "...\r\n"),
      std::string::npos);
  EXPECT_NE(m.boxes.boxes()[0].text.find("(2 trial types are now loaded)"), std::string::npos);
}

TEST(ScriptRunner, ClearSetupStartsAfresh) {
  TempDir dir;
  ScriptModel m;
  BuildSetup(m, dir.File("a.txt"), Group);
  ASSERT_GT(m.trials.GetNumTrials(), 0);
  const std::string logLines = m.log.GetSetupFileLines();
  EXPECT_EQ(m.config.ClearSetup(), 0);
  EXPECT_EQ(m.trials.GetNumTrials(), 0);
  EXPECT_EQ(m.deck.GetNumCards(), 0);
  EXPECT_EQ(m.deck.GetShuffleType(), Normal);
  EXPECT_EQ(m.deck.GetMaxConsectutiveSameSuitCards(), 1);
  // The log stays where it was; the setup reads as a fresh program's.
  EXPECT_EQ(m.config.GetSetupLines(),
            logLines + "-SetShuffleType Normal\r\n-SetShuffleMaxConsecutiveTypeCount 1\r\n");
}

TEST(ScriptRunner, MacrosDoNotCarryOverToTheNextFile) {
  TempDir dir;
  ScriptModel m;
  EXPECT_EQ(m.config.ProcessScript(dir.Write("1.cfg", "%name = Tone\n-AddTrial %name\n")), 0);
  EXPECT_EQ(m.config.ProcessScript(dir.Write("2.cfg", "-AddTrial %name\n")), 0);
  EXPECT_EQ(m.trials.GetTrialNames(), (Args{"Tone", "%name"}));
}

// --- saving without losing data ---

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m.log.SetLogFilename(dir.File("log.txt")), 0);
    ASSERT_EQ(m.trials.AddTrial("Tone"), 0);
  }
  TempDir dir;
  ScriptModel m;
};

TEST_F(SaveTest, ReplacesTheFileAndLeavesNothingBehind) {
  const std::string path = dir.Write("setup.cfg", "old contents\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const SetupFileSaveResult saved = m.config.SaveSetupFile(path);
  ASSERT_EQ(saved.status, 0) << saved.error;
  EXPECT_EQ(saved.error, "");
  EXPECT_EQ(ReadFile(path), m.config.GetSetupFileText(m.clock.Now()));
  EXPECT_EQ(dir.Names(), (Args{"log.txt", "setup.cfg"}));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(SaveTest, ThroughALinkReplacesTheFileItPointsTo) {
  const std::string real = dir.Write("real.cfg", "old\r\n");
  const std::string link = dir.File("link.cfg");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ASSERT_EQ(m.config.SaveSetupFile(link).status, 0);
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadFile(real), m.config.GetSetupFileText(m.clock.Now()));
}

TEST_F(SaveTest, AMissingFolderOrAFolderNameIsReported) {
  SetupFileSaveResult saved = m.config.SaveSetupFile(dir.File("no such folder/setup.cfg"));
  EXPECT_EQ(saved.status, -1);
  EXPECT_EQ(saved.error, "cannot create a file in the folder " + dir.File("no such folder") +
                             ": No such file or directory");
  saved = m.config.SaveSetupFile(dir.path());
  EXPECT_EQ(saved.status, -1);
  EXPECT_EQ(saved.error, "the name is that of a folder");
  saved = m.config.SaveSetupFile("");
  EXPECT_EQ(saved.status, -1);
  EXPECT_EQ(m.Errors(),
            (Args{"ConfigFileProcessor::SaveSetupFile() - Error, unable to save the setup file.  "
                  "Filename: " +
                      dir.File("no such folder/setup.cfg") +
                      ", Reason: cannot create a file in the folder " + dir.File("no such folder") +
                      ": No such file or directory",
                  "ConfigFileProcessor::SaveSetupFile() - Error, unable to save the setup file.  "
                  "Filename: " +
                      dir.path() + ", Reason: the name is that of a folder",
                  "ConfigFileProcessor::SaveSetupFile() - Error, unable to save the setup file.  "
                  "Filename: , Reason: no file name was given"}));
}

// Saves where permissions forbid it. Permissions do not bind the superuser,
// so as root the save runs in a child process that has dropped to an
// unprivileged user. Returns the save's error text ("<saved>" on success),
// or "<skip>" when no unprivileged user can be had.
std::string SaveWithoutPrivileges(const std::string& path) {
  auto save = [&path]() {
    ScriptModel m;
    m.trials.AddTrial("Tone");
    const SetupFileSaveResult saved = m.config.SaveSetupFile(path);
    return saved.status == 0 ? std::string("<saved>") : saved.error;
  };
  if (::geteuid() != 0) return save();
  int fds[2];
  if (::pipe(fds) != 0) return "<pipe failed>";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(77);
    const std::string error = save();
    if (::write(fds[1], error.data(), error.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string error;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
    error.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return "<skip>";
  return error;
}

TEST_F(SaveTest, AnUnwritableFolderKeepsTheOldFile) {
  const std::string folder = dir.File("locked");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string path = dir.Write("locked/setup.cfg", "old\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);  // the file itself may be written
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  const std::string error = SaveWithoutPrivileges(path);
  ::chmod(folder.c_str(), 0700);
  if (error == "<skip>") GTEST_SKIP() << "cannot drop to an unprivileged user";
  EXPECT_EQ(error, "cannot create a file in the folder " + folder + ": Permission denied");
  EXPECT_EQ(ReadFile(path), "old\r\n");
  EXPECT_EQ(dir.Names(), (Args{"locked", "log.txt"}));
}

TEST_F(SaveTest, AReadOnlyFileIsNotReplaced) {
  const std::string folder = dir.File("open");
  ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);  // whatever the umask
  const std::string path = dir.Write("open/setup.cfg", "old\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string error = SaveWithoutPrivileges(path);
  if (error == "<skip>") GTEST_SKIP() << "cannot drop to an unprivileged user";
  EXPECT_EQ(error, "cannot write to it: Permission denied");
  EXPECT_EQ(ReadFile(path), "old\r\n");
}

TEST_F(SaveTest, AFullDeviceIsReportedAsAFailure) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const SetupFileSaveResult saved = m.config.SaveSetupFile("/dev/full");
  EXPECT_EQ(saved.status, -1);
  EXPECT_EQ(saved.error, "writing failed: No space left on device");
  // The device is still a device: it was written in place, not replaced.
  struct stat info {};
  ASSERT_EQ(::stat("/dev/full", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(SaveTest, AWriteThatFailsHalfwayKeepsTheOldFile) {
  const std::string path = dir.Write("setup.cfg", "old\r\n");
  // Writes beyond 300 bytes fail with EFBIG, as on a disk that fills up.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit limited = old;
  limited.rlim_cur = 300;
  void (*previous)(int) = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const SetupFileSaveResult saved = m.config.SaveSetupFile(path);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);

  EXPECT_EQ(saved.status, -1);
  EXPECT_EQ(saved.error, "writing failed: File too large");
  EXPECT_EQ(ReadFile(path), "old\r\n");
  EXPECT_EQ(dir.Names(), (Args{"log.txt", "setup.cfg"}));
}

TEST_F(SaveTest, ValuesThatWillNotReadBackAreReported) {
  EXPECT_TRUE(m.config.FindUnreadableValues().empty());
  ASSERT_EQ(m.trials.AddTrial("A#1"), 0);
  Trial* t = m.TrialNamed("Tone");
  t->SetStartOfTrialEventString("see http://x");
  t->SetWavFileName("say \"hi\"\tnow");
  t->SetEndOfTrialTTLPulseSubSystemName("");
  t->SetEndOfTrialEventString(std::string(1000, 'e'));
  const SetupFileSaveResult saved = m.config.SaveSetupFile(dir.File("s.cfg"));
  EXPECT_EQ(saved.status, 0);
  EXPECT_EQ(
      saved.warnings,
      (Args{"Trial type \"Tone\": the wav file name \"say \"hi\"\tnow\" holds a double quote "
            "and a tab and will not read back from the setup file.",
            "Trial type \"Tone\": the start of trial event string \"see http://x\" holds "
            "\"//\" and will not read back from the setup file.",
            "Trial type \"Tone\": the end of trial pulse subsystem name is empty and will not "
            "read back from the setup file.",
            "The trial type name \"A#1\" holds \"#\" and will not read back from the setup "
            "file.",
            "Line 27 of the setup file is 1035 characters long; lines longer than 999 "
            "characters do not read back."}));

  // The warning is right: the saved file does not load back whole.
  ScriptModel fresh;
  EXPECT_EQ(fresh.config.ProcessScript(dir.File("s.cfg")), -1);
  EXPECT_EQ(fresh.config.GetLastOutcome().lineNumber, 14);  // the wav file name line
}

TEST_F(SaveTest, ALogPathThatCannotBeReadBackIsReported) {
  ScriptModel other;
  EXPECT_EQ(other.config.FindUnreadableValues(),
            (Args{"The log file path is empty and will not read back from the setup file."}));
  ASSERT_EQ(other.log.SetLogFilename(dir.File("run#2.txt")), 0);
  EXPECT_EQ(other.config.FindUnreadableValues(),
            (Args{"The log file path \"" + dir.File("run#2.txt") +
                  "\" holds \"#\" and will not read back from the setup file."}));
}

}  // namespace
}  // namespace orvanta::testing
