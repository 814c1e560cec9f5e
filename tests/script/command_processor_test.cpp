// The command interpreter: splitting, the command table, argument counts,
// numbers, booleans and what every command changes, with the exact texts.
#include <gtest/gtest.h>

#include <climits>

#include "script_test_support.h"

namespace orvanta::testing {
namespace {

class CommandProcessorTest : public ::testing::Test {
 protected:
  int Run(const std::string& line) { return m.commands.ProcessCommandString(line); }
  std::vector<std::string> Split(const std::string& line) {
    EXPECT_EQ(m.commands.ParseCommandString(line), 0) << line;
    return m.commands.GetArguments();
  }
  ScriptModel m;
};

using Args = std::vector<std::string>;

TEST_F(CommandProcessorTest, SplitsOnBlanksAndKeepsQuotedBlanks) {
  EXPECT_EQ(Split("-SetWavFileName \"Tone A\" \"C:\\my sounds\\a 1.wav\""),
            (Args{"-SetWavFileName", "Tone A", "C:\\my sounds\\a 1.wav"}));
  // Tabs, CR and LF are blanks, also inside quotes; runs of blanks separate once.
  EXPECT_EQ(Split("\t-AddTrial\t\t\"a\tb\"   x\r\n"), (Args{"-AddTrial", "a b", "x"}));
  // Text straight after a closing quote starts the next argument.
  EXPECT_EQ(Split("-AddTrial \"Name\"abc"), (Args{"-AddTrial", "Name", "abc"}));
  // A double quote inside an unquoted word belongs to the word.
  EXPECT_EQ(Split("-AddTrial ab\"c d"), (Args{"-AddTrial", "ab\"c", "d"}));
  // The closing-quote search starts one character late: "" followed by more
  // text takes the text up to the next quote.
  EXPECT_EQ(Split("-AddTrial \"\" abc\""), (Args{"-AddTrial", "\" abc"}));
  // A line of blanks is one empty argument.
  EXPECT_EQ(Split("   \t "), (Args{""}));
  EXPECT_TRUE(m.Errors().empty());
}

TEST_F(CommandProcessorTest, MissingClosingQuoteFailsWithTheRemainingText) {
  EXPECT_EQ(Run("-AddTrial \"Tone A"), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"CommandProcessor::ParseCommandString() - Error Processing command string, "
                  "unable to find matching double quotes. command string: Tone A"}));
  EXPECT_EQ(m.trials.GetNumTrials(), 0);
}

TEST_F(CommandProcessorTest, TwoQuotesAsLastArgumentAreNotAnEmptyArgument) {
  ASSERT_EQ(Run("-AddTrial \"T\""), 0);
  m.ClearLog();
  EXPECT_EQ(Run("-SetWavFileName \"T\" \"\""), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"CommandProcessor::ParseCommandString() - Error Processing command string, "
                  "unable to find matching double quotes. command string: \""}));
}

TEST_F(CommandProcessorTest, EmptyLineFailsSilentlyAndBlankLineIsAnUnknownCommand) {
  EXPECT_EQ(Run(""), -1);
  EXPECT_TRUE(m.Entries().empty());
  EXPECT_EQ(Run("    "), -1);
  EXPECT_EQ(m.Errors(), (Args{"CommandProcessor::ProcessCommandString() - Invalid Command Line "
                              "Syntax, Unrecognized Command: "}));
  m.ClearLog();
  EXPECT_EQ(Run("-NoSuchCommand 1"), -1);
  EXPECT_EQ(m.Errors(), (Args{"CommandProcessor::ProcessCommandString() - Invalid Command Line "
                              "Syntax, Unrecognized Command: -NoSuchCommand"}));
}

TEST_F(CommandProcessorTest, TableHas32CommandsMatchedIgnoringCase) {
  const auto& table = m.commands.GetCommandTable();
  ASSERT_EQ(table.size(), 32u);
  EXPECT_STREQ(table.front().name, "-SetLogFile");
  EXPECT_STREQ(table[2].name, "-SetTrialCount");
  EXPECT_STREQ(table[26].name, "-SetStartOfTrialTrigger");
  EXPECT_STREQ(table[27].name, "-SetShuffleType");
  EXPECT_STREQ(table[29].name, "-SetTrialOrder");
  EXPECT_STREQ(table.back().name, "-SetTimingTolerance");

  ASSERT_EQ(Run("-ADDTRIAL \"T\""), 0);
  EXPECT_EQ(Run("-settrialduration \"T\" 100"), 0);
  EXPECT_EQ(m.TrialNamed("T")->GetTrialDuration(), 100);
  EXPECT_EQ(Run("-SETTRIALDURATION \"T\" 200"), 0);
  EXPECT_EQ(m.TrialNamed("T")->GetTrialDuration(), 200);
  // Nothing is logged on success.
  EXPECT_TRUE(m.Entries().empty());
}

TEST_F(CommandProcessorTest, ArgumentCountMessageNamesHandlerCommandAndCounts) {
  ASSERT_EQ(Run("-AddTrial \"Trial Type 1\""), 0);
  EXPECT_EQ(Run("-SetTrialDuration Trial Type 1 2000"), -1);
  EXPECT_EQ(Run("-settrialduration \"Trial Type 1\""), -1);
  EXPECT_EQ(Run("-SetLogFile"), -1);
  EXPECT_EQ(Run("-SetShuffleType Normal extra"), -1);
  EXPECT_EQ(Run("-SetShuffleMaxConsecutiveTypeCount"), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"CommandProcessor::SetTrialDuration() - The -SetTrialDuration command expects 2 "
                  "arguments.  There were 4 specifed.",
                  "CommandProcessor::SetTrialDuration() - The -SetTrialDuration command expects 2 "
                  "arguments.  There were 1 specifed.",
                  "CommandProcessor::SetLogFile() - The -SetLogFile command expects 1 arguments.  "
                  "There were 0 specifed.",
                  "CommandProcessor::SetShuffleType() - The -SetShuffleType command expects 1 "
                  "arguments.  There were 2 specifed.",
                  "CommandProcessor::SetShuffleMaxConsecutiveTypeCount() - The "
                  "-SetShuffleMaxConsecutiveTypeCount command expects 1 arguments.  There were 0 "
                  "specifed."}));
  EXPECT_EQ(m.deck.GetShuffleType(), Normal);
}

TEST(NumericRule, DigitsWithOneSignFirstAndOnePointAnywhere) {
  for (const char* text :
       {"0", "2000", "-5", "+5", "2000.9", ".5", "5.", "-", "+", ".", "-.", "007"})
    EXPECT_TRUE(IsNumericString(text)) << text;
  for (const char* text : {"", "1e3", "1.2.3", "5-", "--5", " 5", "5 ", "0x10", "abc", "1,5"})
    EXPECT_FALSE(IsNumericString(text)) << text;
}

TEST(NumericRule, ConvertsLikeAtoiAndSaturatesOutsideTheRange) {
  EXPECT_EQ(AsciiToInt32("2000.9"), 2000);
  EXPECT_EQ(AsciiToInt32("-"), 0);
  EXPECT_EQ(AsciiToInt32("+"), 0);
  EXPECT_EQ(AsciiToInt32("."), 0);
  EXPECT_EQ(AsciiToInt32("-12.7"), -12);
  EXPECT_EQ(AsciiToInt32("+42"), 42);
  EXPECT_EQ(AsciiToInt32("2147483647"), INT32_MAX);
  EXPECT_EQ(AsciiToInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(AsciiToInt32("2147483648"), INT32_MAX);
  EXPECT_EQ(AsciiToInt32("-2147483649"), INT32_MIN);
  EXPECT_EQ(AsciiToInt32("99999999999999999999999999999999"), INT32_MAX);
  EXPECT_EQ(AsciiToInt32("-00000000000000000000000000000001"), -1);
}

TEST_F(CommandProcessorTest, NumericArgumentsAcceptedAndRefused) {
  ASSERT_EQ(Run("-AddTrial \"T\""), 0);
  Trial* t = m.TrialNamed("T");
  EXPECT_EQ(Run("-SetTrialDuration \"T\" 2000.9"), 0);
  EXPECT_EQ(t->GetTrialDuration(), 2000);
  EXPECT_EQ(Run("-SetTrialDuration \"T\" -"), 0);
  EXPECT_EQ(t->GetTrialDuration(), 0);
  // No range check here: negative values are stored unchanged.
  EXPECT_EQ(Run("-SetInterTrialInterval \"T\" -5"), 0);
  EXPECT_EQ(t->GetInterTrialInterval(), -5);
  EXPECT_EQ(Run("-SetStartOfTrialTTLPulseBitNumber \"T\" -5"), 0);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseBitNumber(), -5);
  EXPECT_EQ(Run("-SetTrialDuration \"T\" 5000000000"), 0);
  EXPECT_EQ(t->GetTrialDuration(), INT32_MAX);
  EXPECT_EQ(Run("-SetTrialDuration \"T\" -5000000000"), 0);
  EXPECT_EQ(t->GetTrialDuration(), INT32_MIN);
  EXPECT_TRUE(m.Errors().empty());

  EXPECT_EQ(Run("-SetTrialDuration \"T\" 1e3"), -1);
  EXPECT_EQ(Run("-SetWavFileBoardNumber \"T\" 1.2.3"), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"CommandProcessor::SetTrialDuration() - Error, invalid argument received. "
                  "Argument 2 must be a numeric value.  Argument 2: 1e3",
                  "CommandProcessor::SetWavFileBoardNumber() - Error, invalid argument received. "
                  "Argument 2 must be a numeric value.  Argument 2: 1.2.3"}));
  EXPECT_EQ(t->GetTrialDuration(), INT32_MIN);
  EXPECT_EQ(t->GetWavFileBoardNumber(), 0);
}

TEST_F(CommandProcessorTest, BooleansIgnoreCase) {
  ASSERT_EQ(Run("-AddTrial \"T\""), 0);
  Trial* t = m.TrialNamed("T");
  EXPECT_EQ(Run("-SetPlayWavFile \"T\" TRUE"), 0);
  EXPECT_TRUE(t->GetPlayWavFile());
  EXPECT_EQ(Run("-SetPlayWavFile \"T\" False"), 0);
  EXPECT_FALSE(t->GetPlayWavFile());
  EXPECT_EQ(Run("-SetStartOfTrialGenerateEvent \"T\" yes"), -1);
  EXPECT_EQ(Run("-SetEndOfTrialGenerateTTLPulse \"T\" 1"), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"CommandProcessor::SetStartOfTrialGenerateEvent() - Error, invalid argument. "
                  "Argument 2 must be equal to one of the following(true,false) Argument 2: yes",
                  "CommandProcessor::SetEndOfTrialGenerateTTLPulse() - Error, invalid argument. "
                  "Argument 2 must be equal to one of the following(true,false) Argument 2: 1"}));
  EXPECT_FALSE(t->GetStartOfTrialGenerateEvent());
}

TEST_F(CommandProcessorTest, UnknownTrialIsReportedByTheListBeforeTheValueIsChecked) {
  EXPECT_EQ(Run("-SetTrialDuration \"Nope\" abc"), -1);
  // Two quotes never make an empty name: the late closing-quote search
  // fails the line before any lookup.
  EXPECT_EQ(Run("-SetWavFileName \"\" x"), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the "
                  "trial name was not found.  Name: Nope",
                  "CommandProcessor::ParseCommandString() - Error Processing command string, "
                  "unable to find matching double quotes. command string: \" x"}));
}

// Every per-type command reaches its own field.
TEST_F(CommandProcessorTest, EveryTrialTypeCommandSetsItsField) {
  ASSERT_EQ(Run("-AddTrial \"Stim A\""), 0);
  const char* lines[] = {
      "-SetTrialDuration \"Stim A\" 11",
      "-SetInterTrialInterval \"Stim A\" 12",
      "-SetPlayWavFile \"Stim A\" true",
      "-SetWavFileName \"Stim A\" \"C:\\wav files\\a.wav\"",
      "-SetWavFileBufferNumber \"Stim A\" 13",
      "-SetWavFileBoardNumber \"Stim A\" 14",
      "-SetWavFileSubSystemName \"Stim A\" DA1",
      "-SetStartOfTrialGenerateEvent \"Stim A\" true",
      "-SetStartOfTrialEventString \"Stim A\" \"start ev\"",
      "-SetStartOfTrialEventTTLValue \"Stim A\" 15",
      "-SetStartOfTrialGenerateTTLPulse \"Stim A\" true",
      "-SetStartOfTrialTTLPulseBitNumber \"Stim A\" 16",
      "-SetStartOfTrialTTLPulseDuration \"Stim A\" 17",
      "-SetStartOfTrialTTLPulseBoardNumber \"Stim A\" 18",
      "-SetStartOfTrialTTLPulseSubSystemName \"Stim A\" DIO1",
      "-SetEndOfTrialGenerateEvent \"Stim A\" true",
      "-SetEndOfTrialEventString \"Stim A\" endev",
      "-SetEndOfTrialEventTTLValue \"Stim A\" 19",
      "-SetEndOfTrialGenerateTTLPulse \"Stim A\" true",
      "-SetEndOfTrialTTLPulseBitNumber \"Stim A\" 20",
      "-SetEndOfTrialTTLPulseDuration \"Stim A\" 21",
      "-SetEndOfTrialTTLPulseBoardNumber \"Stim A\" 22",
      "-SetEndOfTrialTTLPulseSubSystemName \"Stim A\" DIO2",
  };
  for (const char* line : lines) EXPECT_EQ(Run(line), 0) << line;
  Trial* t = m.TrialNamed("Stim A");
  EXPECT_EQ(t->GetTrialDuration(), 11);
  EXPECT_EQ(t->GetInterTrialInterval(), 12);
  EXPECT_TRUE(t->GetPlayWavFile());
  EXPECT_EQ(t->GetWavFileName(), "C:\\wav files\\a.wav");
  EXPECT_EQ(t->GetWavFileBufferNumber(), 13);
  EXPECT_EQ(t->GetWavFileBoardNumber(), 14);
  EXPECT_EQ(t->GetWavFileSubSystemName(), "DA1");
  EXPECT_TRUE(t->GetStartOfTrialGenerateEvent());
  EXPECT_EQ(t->GetStartOfTrialEventString(), "start ev");
  EXPECT_EQ(t->GetStartOfTrialEventTTLValue(), 15);
  EXPECT_TRUE(t->GetStartOfTrialGenerateTTLPulse());
  EXPECT_EQ(t->GetStartOfTrialTTLPulseBitNumber(), 16);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseDuration(), 17);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseBoardNumber(), 18);
  EXPECT_EQ(t->GetStartOfTrialTTLPulseSubSystemName(), "DIO1");
  EXPECT_TRUE(t->GetEndOfTrialGenerateEvent());
  EXPECT_EQ(t->GetEndOfTrialEventString(), "endev");
  EXPECT_EQ(t->GetEndOfTrialEventTTLValue(), 19);
  EXPECT_TRUE(t->GetEndOfTrialGenerateTTLPulse());
  EXPECT_EQ(t->GetEndOfTrialTTLPulseBitNumber(), 20);
  EXPECT_EQ(t->GetEndOfTrialTTLPulseDuration(), 21);
  EXPECT_EQ(t->GetEndOfTrialTTLPulseBoardNumber(), 22);
  EXPECT_EQ(t->GetEndOfTrialTTLPulseSubSystemName(), "DIO2");
  EXPECT_TRUE(m.Errors().empty());
}

TEST_F(CommandProcessorTest, AddTrialReturnsTheListsResult) {
  EXPECT_EQ(Run("-AddTrial \"a\""), 0);
  EXPECT_EQ(Run("-AddTrial \"A\""), 0);  // names are case-sensitive
  EXPECT_EQ(Run("-AddTrial \"a\""), -1);
  EXPECT_EQ(m.Errors(), (Args{"TrialContainer::AddTrial() - Error, unable to add new trial to "
                              "list, the trial name is already in use.  Name: a"}));
  EXPECT_EQ(m.trials.GetTrialNames(), (Args{"a", "A"}));
}

TEST_F(CommandProcessorTest, SetTrialCount) {
  ASSERT_EQ(Run("-AddTrial \"Tone\""), 0);
  EXPECT_EQ(Run("-SetTrialCount \"Tone\" 5"), 0);
  EXPECT_EQ(m.CountOf("Tone"), 5);
  EXPECT_EQ(m.deck.GetNumCards(), 5);
  EXPECT_EQ(Run("-SetTrialCount \"tone\" 3"), -1);  // letter case counts
  EXPECT_EQ(Run("-SetTrialCount \"Tone\" five"), -1);
  EXPECT_EQ(Run("-SetTrialCount \"Tone\" -1"), -1);  // the deck refuses it
  EXPECT_EQ(m.Errors(),
            (Args{"CommandProcessor::SetTrialCount() - Error, the trial name was not found.  "
                  "Trial Name: tone",
                  "CommandProcessor::SetTrialCount() - Error, invalid argument received. Argument "
                  "2 must be a numeric value.  Argument 2: five",
                  "CardDeck::SetNumCardsInSuit() - Error, the number of cards to set is a negative "
                  "number, this value must be positive.  Card Count: -1"}));
  EXPECT_EQ(m.CountOf("Tone"), 5);
}

TEST_F(CommandProcessorTest, SetStartOfTrialTriggerAndItsRefusals) {
  ASSERT_EQ(Run("-AddTrial \"Tone\""), 0);
  EXPECT_FALSE(m.TrialNamed("Tone")->GetStartTrigger().enabled);
  EXPECT_EQ(Run("-setstartoftrialtrigger \"Tone\" \"SE 1\" 3 50 10000 skip"), 0);
  EXPECT_EQ(m.TrialNamed("Tone")->GetStartTrigger(),
            (TrialTrigger{true, "SE 1", 3, 50, 10000, TriggerTimeout::kSkip}));
  EXPECT_TRUE(m.Errors().empty());

  const std::string h = "CommandProcessor::SetStartOfTrialTrigger() - ";
  const std::pair<const char*, std::string> refused[] = {
      {"-SetStartOfTrialTrigger \"Tone\" SE1 3 50 10000",
       h + "The -SetStartOfTrialTrigger command expects 6 arguments.  There were 5 specifed."},
      {"-SetStartOfTrialTrigger \"Tone\" SE1 three 50 10000 Play",
       h + "Error, invalid argument received. Argument 3 must be a numeric value.  Argument 3: "
           "three"},
      {"-SetStartOfTrialTrigger \"Tone\" SE1 3 50 10s Play",
       h + "Error, invalid argument received. Argument 5 must be a numeric value.  Argument 5: "
           "10s"},
      {"-SetStartOfTrialTrigger \"Tone\" SE1 0 50 10000 Play",
       h + "Error, invalid argument. Argument 3 must be at least 1.  Argument 3: 0"},
      {"-SetStartOfTrialTrigger \"Tone\" SE1 3 50 10000 Later",
       h + "Error, invalid argument. Argument 6 must be equal to one of the following(Play,Skip) "
           "Argument 6: Later"},
      {"-SetStartOfTrialTrigger \"Nope\" SE1 3 50 10000 Play",
       "TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the trial "
       "name was not found.  Name: Nope"},
  };
  for (const auto& [line, error] : refused) {
    m.ClearLog();
    EXPECT_EQ(Run(line), -1) << line;
    EXPECT_EQ(m.Errors(), (Args{error}));
  }
  // A refused line leaves the trigger as it was.
  EXPECT_EQ(m.TrialNamed("Tone")->GetStartTrigger().object, "SE 1");
}

TEST_F(CommandProcessorTest, ShuffleSettings) {
  EXPECT_EQ(Run("-SetShuffleType group"), 0);
  EXPECT_EQ(m.deck.GetShuffleType(), Group);
  EXPECT_EQ(Run("-SetShuffleType normal"), 0);
  EXPECT_EQ(m.deck.GetShuffleType(), Normal);
  EXPECT_EQ(Run("-SetShuffleType GROUP"), 0);
  EXPECT_EQ(m.deck.GetShuffleType(), Group);
  EXPECT_EQ(Run("-SetShuffleType Random"), -1);
  EXPECT_EQ(m.deck.GetShuffleType(), Group);

  EXPECT_EQ(Run("-SetShuffleMaxConsecutiveTypeCount 3"), 0);
  EXPECT_EQ(m.deck.GetMaxConsectutiveSameSuitCards(), 3);
  EXPECT_EQ(Run("-SetShuffleMaxConsecutiveTypeCount x"), -1);
  EXPECT_EQ(Run("-SetShuffleMaxConsecutiveTypeCount 0"), -1);
  EXPECT_EQ(m.deck.GetMaxConsectutiveSameSuitCards(), 3);
  EXPECT_EQ(m.Errors(),
            (Args{"CommandProcessor::SetShuffleType() - Error, invalid argument. Argument 1 must "
                  "be equal to one of the following(Normal,Group) Argument 1: Random",
                  "CommandProcessor::SetShuffleMaxConsecutiveTypeCount() - Error, invalid argument "
                  "received. Argument 1 must be a numeric value.  Argument 1: x",
                  "CardDeck::SetMaxConsectutiveSameSuitCards() - Error, the max value must be "
                  "greater than zero.  Max Value: 0"}));
}

TEST_F(CommandProcessorTest, SetTrialOrderMovesCards) {
  ASSERT_EQ(Run("-AddTrial \"X\""), 0);
  ASSERT_EQ(Run("-AddTrial \"Y\""), 0);
  ASSERT_EQ(Run("-SetTrialCount \"X\" 2"), 0);
  ASSERT_EQ(m.OrderNames(), (Args{"X", "X", "Y"}));
  EXPECT_EQ(Run("-SetTrialOrder \"Y\" 0"), 0);
  EXPECT_EQ(Run("-SetTrialOrder \"X\" 1"), 0);
  EXPECT_EQ(Run("-SetTrialOrder \"X\" 2"), 0);
  EXPECT_EQ(m.OrderNames(), (Args{"Y", "X", "X"}));

  EXPECT_EQ(Run("-SetTrialOrder \"Z\" 0"), -1);
  EXPECT_EQ(Run("-SetTrialOrder \"X\" 3"), -1);
  EXPECT_EQ(Run("-SetTrialOrder \"Y\" 1"), -1);
  EXPECT_EQ(Run("-SetTrialOrder \"X\" one"), -1);
  EXPECT_EQ(m.Errors(),
            (Args{"TrialContainer::GetSuitID() - Error, unable to get suit ID, the trial name was "
                  "not found.  Name: Z",
                  "CardDeck::SetSuitPosition() - Error, the list index is out of range.  "
                  "Range(0..3) Index: 3",
                  "CardDeck::SetSuitPosition() - Error, the requested suitID was not found in the "
                  "remainder of the list.  suit ID: 1, list index: 1",
                  "CommandProcessor::SetTrialOrder() - Error, invalid argument received. Argument "
                  "2 must be a numeric value.  Argument 2: one"}));
  EXPECT_EQ(m.OrderNames(), (Args{"Y", "X", "X"}));
}

TEST_F(CommandProcessorTest, SetLogFileMovesTheLog) {
  TempDir dir;
  EXPECT_EQ(Run("-SetLogFile \"" + dir.File("session one.log") + "\""), 0);
  EXPECT_EQ(m.log.GetFilePath(), dir.File("session one.txt"));
  EXPECT_TRUE(m.log.IsOpen());
}

}  // namespace
}  // namespace orvanta::testing
