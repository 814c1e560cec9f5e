// The trial output commands against a scripted channel: exact command texts
// and log lines, the port value of each bit, the reply held per call, failed
// exchanges, and the pulse's wait.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/run_env.h"

namespace orvanta::testing {
namespace {

class OutputCommandsTest : public ::testing::Test, public ModelEnv {};

TEST_F(OutputCommandsTest, PortValueIsTwoToTheBitAsSigned16Bit) {
  EXPECT_EQ(TrialContainer::PortValueForBit(0), 1);
  EXPECT_EQ(TrialContainer::PortValueForBit(3), 8);
  EXPECT_EQ(TrialContainer::PortValueForBit(14), 16384);
  EXPECT_EQ(TrialContainer::PortValueForBit(15), -32768);
  EXPECT_EQ(TrialContainer::PortValueForBit(16), 0);
  EXPECT_EQ(TrialContainer::PortValueForBit(31), 0);
  EXPECT_EQ(TrialContainer::PortValueForBit(-1), 0);
  EXPECT_EQ(TrialContainer::PortValueForBit(-2147483647 - 1), 0);
}

TEST_F(OutputCommandsTest, PostEventQuotesTheStringUnchanged) {
  EXPECT_EQ(trials.PostEvent("Tone On  now", 7), 0);
  EXPECT_EQ(trials.PostEvent("", -3), 0);
  EXPECT_EQ(scripted.commands(),
            (std::vector<std::string>{"-PostEvent \"Tone On  now\" 7 0", "-PostEvent \"\" -3 0"}));
  EXPECT_EQ(
      LogTexts(),
      (std::vector<std::string>{
          "Sent Quorvin Event.  Event String: Tone On  now, TTL Value: 7, Reply: ok "
          "-PostEvent \"Tone On  now\" 7 0",
          "Sent Quorvin Event.  Event String: , TTL Value: -3, Reply: ok -PostEvent \"\" -3 0",
      }));
  EXPECT_EQ(LogEntries()[0].tag, "-* NOTICE  *- ");
  EXPECT_EQ(trials.GetMessage(), LogTexts().back());
}

TEST_F(OutputCommandsTest, PulseSendsDirectionValueAndZeroWithItsLogLines) {
  scripted.answer = [](const std::string&) -> std::optional<std::string> { return "0"; };
  EXPECT_EQ(trials.GenerateTTLPulse("VRXBD", 2, 3, 0), 0);
  EXPECT_EQ(scripted.commands(), (std::vector<std::string>{
                                     "-SetDigitalIOPortDirection \"VRXBD\" 2 Output",
                                     "-SetDIOPortOutput \"VRXBD\" 2 8",
                                     "-SetDIOPortOutput \"VRXBD\" 2 0",
                                 }));
  EXPECT_EQ(LogTexts(),
            (std::vector<std::string>{
                "Sent SetDigitalIOPortDirection Command.  Sub System Name: VRXBD, Board Number: 2, "
                "Reply: 0",
                "Sent TTL Pulse Start.  Sub System Name: VRXBD, Board Number: 2, Bit Number: 3, "
                "Reply: 0",
                "Sent TTL Pulse End.  Sub System Name: VRXBD, Board Number: 2, Bit Number: 3, "
                "Reply: 0",
            }));
}

TEST_F(OutputCommandsTest, WavPlaybackSendsFourCommandsInOrder) {
  scripted.answer = [](const std::string&) -> std::optional<std::string> { return "0"; };
  EXPECT_EQ(trials.PlayWavFile("C:\\wav\\tone 1.wav", "VRXBD", 1, 4), 0);
  EXPECT_EQ(scripted.commands(), (std::vector<std::string>{
                                     "-SetDAOutputMode  \"VRXBD\" 1 BufferedOutput",
                                     "-SetDAWavFile \"VRXBD\" 1 \"C:\\wav\\tone 1.wav\" 4",
                                     "-SelectDAWavBuffer  \"VRXBD\" 1 4",
                                     "-PlayDAWavFile \"VRXBD\" 1",
                                 }));
  EXPECT_EQ(LogTexts(),
            (std::vector<std::string>{
                "Sent -SetDAOutputMode command.  Sub System Name: VRXBD, Board Number: 1, Reply: 0",
                "Sent -SetDAWavFile command.  Sub System Name: VRXBD, Board Number: 1, Filename: "
                "C:\\wav\\tone 1.wav, Buffer Number: 4, Reply: 0",
                "Sent -SelectDAWavBuffer  command.  Sub System Name: VRXBD, Board Number: 1, "
                "Buffer Number: 4, Reply: 0",
                "Sent -PlayDAWavFile  command.  Sub System Name: VRXBD, Board Number: 1, Reply: 0",
            }));
}

// A failed exchange logs an empty reply, never the reply of the command
// before it in the same call.
TEST_F(OutputCommandsTest, FailedExchangeLogsAnEmptyReplyNeverAnotherCommands) {
  int n = 0;
  scripted.answer = [&n](const std::string&) -> std::optional<std::string> {
    ++n;
    if (n == 1 || n == 3 || n == 4) return std::nullopt;
    return "reply " + std::to_string(n);
  };
  trials.GenerateTTLPulse("VRXBD", 0, 1, 0);  // exchanges 1 (fails), 2, 3 (fails)
  trials.PostEvent("E", 1);                   // exchange 4 (fails)
  const auto t = LogTexts();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0],
            "Sent SetDigitalIOPortDirection Command.  Sub System Name: VRXBD, Board Number: 0, "
            "Reply: ");
  EXPECT_EQ(t[1],
            "Sent TTL Pulse Start.  Sub System Name: VRXBD, Board Number: 0, Bit Number: 1, "
            "Reply: reply 2");
  EXPECT_EQ(t[2],
            "Sent TTL Pulse End.  Sub System Name: VRXBD, Board Number: 0, Bit Number: 1, "
            "Reply: ");
  EXPECT_EQ(t[3], "Sent Quorvin Event.  Event String: E, TTL Value: 1, Reply: ");
}

// Without a connection every command is still attempted, every line logged
// with an empty reply, and the pulse still waits its width.
TEST_F(OutputCommandsTest, WithoutChannelEveryCommandIsAttemptedAndThePulseStillWaits) {
  trials.SetCommandChannel(nullptr);
  const auto start = SteadyClock::now();
  trials.GenerateTTLPulse("VRXBD", 0, 2, 60);
  EXPECT_GE(MillisSince(start), 60);
  trials.PlayWavFile("a.wav", "VRXBD", 0, 0);
  const auto records = observer.commands();
  ASSERT_EQ(records.size(), 7u);
  for (const auto& r : records) {
    EXPECT_FALSE(r.replied);
    EXPECT_EQ(r.reply, "");
    EXPECT_EQ(r.trialNumber, 0);
  }
  EXPECT_GE(records[2].sentAt - records[1].repliedAt, 60ms);
  for (const auto& text : LogTexts()) EXPECT_EQ(text.substr(text.size() - 9), ", Reply: ") << text;
  EXPECT_EQ(LogTexts().size(), 7u);
}

TEST_F(OutputCommandsTest, NegativePulseWidthIsNoWait) {
  const auto start = SteadyClock::now();
  trials.GenerateTTLPulse("VRXBD", 0, 2, -100000);
  EXPECT_LT(MillisSince(start), 2000);
  EXPECT_EQ(scripted.count(), 3u);
}

}  // namespace
}  // namespace orvanta::testing

namespace orvanta::testing {
namespace {

// Control characters of a reply are escaped in the log, and a long reply is
// cut there; the reply handed to the observer stays as received.
TEST_F(OutputCommandsTest, RepliesAreEscapedAndCutInTheLogButNotInTheRecord) {
  const std::string forged = "0\r\n-* ERROR *- forged\x1b[2J\x7f";
  const std::string huge(3000, 'x');
  scripted.answer = [&](const std::string& command) -> std::optional<std::string> {
    return command.find("big") != std::string::npos ? huge : forged;
  };
  trials.PostEvent("E", 1);
  trials.PostEvent("big", 2);
  const auto texts = LogTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0],
            "Sent Quorvin Event.  Event String: E, TTL Value: 1, Reply: "
            "0\\r\\n-* ERROR *- forged\\x1b[2J\\x7f");
  EXPECT_EQ(texts[1], "Sent Quorvin Event.  Event String: big, TTL Value: 2, Reply: " +
                          std::string(1000, 'x') + " ... (cut, 3000 characters in all)");
  const auto records = observer.commands();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].reply, forged);
  EXPECT_EQ(records[1].reply, huge);
}

}  // namespace
}  // namespace orvanta::testing
