// Runs against the acquisition-server simulator on loopback through the real
// client: the command texts on the wire, the gaps between them read from the
// simulator's transcript, Stop and Pause, and a server that has gone away.
// (A stop while a reply is owed: stop_with_reply_owed_test.cpp.)
#include <gtest/gtest.h>
#include <algorithm>

#include <string>
#include <vector>

#include "tests/integration/run_env.h"

namespace orvanta::testing {
namespace {

// Generous bound on how late a wait may end on a loaded test machine. The
// lower bounds are exact: a wait never ends early.
constexpr uint64_t kSlackUs = 150000;
// The simulator stamps a command when its thread reads it, which can be a
// little after the bytes arrived; two stamps may therefore lie slightly closer
// than the worker's wait between the two sends.
constexpr uint64_t kStampJitterUs = 2000;

class EndToEndTest : public ::testing::Test, public ModelEnv {
 protected:
  static uint64_t Gap(const TranscriptLine& from, const TranscriptLine& to) {
    EXPECT_TRUE(from.replyUs.has_value()) << from.text;
    return to.timeUs - from.replyUs.value_or(0);
  }
};

// Three trials of 120 ms with 200 ms intervals: each trial's end event follows
// its start event by the duration, and the next start event follows by the
// interval, as the simulator saw them.
TEST_F(EndToEndTest, ThreeTrialsKeepTheirDurationsAndIntervals) {
  StartAndConnect();
  Trial* t = AddType("A", 3, 120, 200);
  t->SetStartOfTrialGenerateEvent(true);
  t->SetStartOfTrialEventString("on");
  t->SetEndOfTrialGenerateEvent(true);
  t->SetEndOfTrialEventString("off");
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());

  const auto c = Commands();
  ASSERT_EQ(c.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(c[i].text, i % 2 == 0 ? "-PostEvent \"on\" 0 0" : "-PostEvent \"off\" 0 0");
    EXPECT_EQ(c[i].reply, "0");
  }
  for (size_t i = 0; i + 1 < 6; ++i) {
    const uint64_t nominal = i % 2 == 0 ? 120000 : 200000;
    const uint64_t gap = Gap(c[i], c[i + 1]);
    EXPECT_GE(gap + kStampJitterUs, nominal) << i;
    EXPECT_LT(gap, nominal + kSlackUs) << i;
  }

  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            "Start Trial #1",
                            "Sent Quorvin Event.  Event String: on, TTL Value: 0, Reply: 0",
                            "Sent Quorvin Event.  Event String: off, TTL Value: 0, Reply: 0",
                            "End Trial #1",
                            "Start Trial #2",
                            "Sent Quorvin Event.  Event String: on, TTL Value: 0, Reply: 0",
                            "Sent Quorvin Event.  Event String: off, TTL Value: 0, Reply: 0",
                            "End Trial #2",
                            "Start Trial #3",
                            "Sent Quorvin Event.  Event String: on, TTL Value: 0, Reply: 0",
                            "Sent Quorvin Event.  Event String: off, TTL Value: 0, Reply: 0",
                            "End Trial #3",
                            std::string(kRunCompletedLogText) + "1 to 3 of 3",
                        }));
  EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Trials Completed Successfully"}));
  EXPECT_EQ(window.model_calls().back(), "OnStop");
}

TEST_F(EndToEndTest, EmptyDeckSendsNothingAndCompletes) {
  StartAndConnect();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Trials Completed Successfully"}));
}

// Bits 0, 3, 15 and 16, each a 40 ms pulse: the port values on the wire and
// the width between the two output commands.
TEST_F(EndToEndTest, PulsesOnBits0And3And15And16) {
  StartAndConnect();
  for (int bit : {0, 3, 15, 16}) {
    Trial* t = AddType("bit" + std::to_string(bit), 1, 0, 0);
    t->SetStartOfTrialGenerateTTLPulse(true);
    t->SetStartOfTrialTTLPulseBitNumber(bit);
    t->SetStartOfTrialTTLPulseDuration(40);
    t->SetStartOfTrialTTLPulseBoardNumber(1);
  }
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());

  const auto c = Commands();
  ASSERT_EQ(c.size(), 12u);
  const char* values[] = {"1", "8", "-32768", "0"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(c[3 * i].text, "-SetDigitalIOPortDirection \"VRXBD\" 1 Output");
    EXPECT_EQ(c[3 * i + 1].text, std::string("-SetDIOPortOutput \"VRXBD\" 1 ") + values[i]);
    EXPECT_EQ(c[3 * i + 2].text, "-SetDIOPortOutput \"VRXBD\" 1 0");
    const uint64_t width = Gap(c[3 * i + 1], c[3 * i + 2]);
    EXPECT_GE(width + kStampJitterUs, 40000u);
    EXPECT_LT(width, 40000u + kSlackUs);
  }
  EXPECT_TRUE(
      LogHas("Sent TTL Pulse Start.  Sub System Name: VRXBD, Board Number: 1, Bit "
             "Number: 15, Reply: 0"));
}

TEST_F(EndToEndTest, EventStringsWithSpacesAndEmptyAndTheFourWavCommands) {
  StartAndConnect();
  Trial* spaced = AddType("Spaced", 1, 0, 0);
  spaced->SetStartOfTrialGenerateEvent(true);
  spaced->SetStartOfTrialEventString("Tone  On A");
  spaced->SetStartOfTrialEventTTLValue(12);
  Trial* empty = AddType("Empty", 1, 0, 0);
  empty->SetEndOfTrialGenerateEvent(true);
  Trial* wav = AddType("Wav", 1, 0, 0);
  wav->SetPlayWavFile(true);
  wav->SetWavFileName("tone 1kHz.wav");
  wav->SetWavFileBufferNumber(2);
  wav->SetWavFileBoardNumber(1);
  wav->SetWavFileSubSystemName("AO 1");
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());

  EXPECT_EQ(CommandTexts(), (std::vector<std::string>{
                                "-PostEvent \"Tone  On A\" 12 0",
                                "-PostEvent \"\" 0 0",
                                "-SetDAOutputMode  \"AO 1\" 1 BufferedOutput",
                                "-SetDAWavFile \"AO 1\" 1 \"tone 1kHz.wav\" 2",
                                "-SelectDAWavBuffer  \"AO 1\" 1 2",
                                "-PlayDAWavFile \"AO 1\" 1",
                            }));
  for (const auto& c : Commands()) EXPECT_EQ(c.reply, "0") << c.text;
  EXPECT_TRUE(LogHas("Sent Quorvin Event.  Event String: Tone  On A, TTL Value: 12, Reply: 0"));
  EXPECT_TRUE(
      LogHas("Sent -PlayDAWavFile  command.  Sub System Name: AO 1, Board Number: 1, "
             "Reply: 0"));
}

// Stop during the trial's duration: nothing more reaches the server, and the
// connection answers the next exchange with its own reply.
TEST_F(EndToEndTest, StopDuringTheTrialSendsNothingMore) {
  StartAndConnect();
  Trial* t = AddType("A", 2, 10000, 0);
  t->SetStartOfTrialGenerateEvent(true);
  t->SetEndOfTrialGenerateEvent(true);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForCommands(1));
  ASSERT_TRUE(WaitUntil([&] { return LogTexts().size() == 2; }));
  const auto start = SteadyClock::now();
  trials.StopProcessingTrials();
  EXPECT_LT(MillisSince(start), 1000);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Commands().size(), 1u);
  EXPECT_EQ(LogTexts().end()[-2], kTerminatedLine);
  EXPECT_EQ(LogTexts().end()[-1], kWaitLine);
  EXPECT_EQ(LogCount("End Trial"), 0u);

  std::string reply;
  EXPECT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
}

// Stop while the pulse's bit is set: the one reset command of that pulse goes
// out and is logged; nothing else is sent after the Stop.
TEST_F(EndToEndTest, StopDuringAPulseSendsTheOneResetCommand) {
  StartAndConnect();
  Trial* t = AddType("A", 1, 0, 0);
  t->SetStartOfTrialGenerateTTLPulse(true);
  t->SetStartOfTrialTTLPulseBitNumber(2);
  t->SetStartOfTrialTTLPulseDuration(10000);
  t->SetEndOfTrialGenerateEvent(true);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForCommands(2));
  const auto start = SteadyClock::now();
  trials.StopProcessingTrials();
  EXPECT_LT(MillisSince(start), 1000);
  ASSERT_TRUE(WaitForEnd());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(CommandTexts(), (std::vector<std::string>{
                                "-SetDigitalIOPortDirection \"VRXBD\" 0 Output",
                                "-SetDIOPortOutput \"VRXBD\" 0 4",
                                "-SetDIOPortOutput \"VRXBD\" 0 0",
                            }));
  const auto log = LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "TrialContainer::ProcessTrials() - The run ended during a TTL pulse, the "
                      "port has been reset.  Sub System Name: VRXBD, Board Number: 0, Bit "
                      "Number: 2, Reply: 0"),
            log.end());
  EXPECT_EQ(observer.end().outcome, RunOutcome::kStopped);
}

// The same against a server that answers after 700 ms: the reset takes that
// long (within its 2 s bound), and Stop waits for it, so a healthy worker is
// reported ended, never "unable to terminate".
TEST_F(EndToEndTest, StopDuringAPulseWaitsForASlowReset) {
  simOptions.reply_delay_ms = 700;
  StartAndConnect(Link::kMessageOnly);
  client.SetReplyTimeout(3000ms);
  Trial* t = AddType("A", 1, 0, 0);
  t->SetStartOfTrialGenerateTTLPulse(true);
  t->SetStartOfTrialTTLPulseBitNumber(2);
  t->SetStartOfTrialTTLPulseDuration(10000);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForCommands(2));
  std::this_thread::sleep_for(900ms);  // the bit is set; the worker waits out the pulse
  const auto start = SteadyClock::now();
  trials.StopProcessingTrials();
  EXPECT_GE(MillisSince(start), 500);
  EXPECT_TRUE(trials.WaitForRunEnd(0ms));
  EXPECT_EQ(LogCount("TrialContainer::StopProcessingTrials() - Error"), 0u);
  EXPECT_EQ(LogCount(kTerminatedLine), 1u);
  EXPECT_EQ(LogCount("TrialContainer::ProcessTrials() - The run ended during a TTL pulse, the port "
                     "has been reset."),
            1u);
}

TEST_F(EndToEndTest, PauseHoldsTheNextTrialUntilResumed) {
  StartAndConnect();
  Trial* t = AddType("A", 2, 50, 50);
  t->SetStartOfTrialGenerateEvent(true);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForCommands(1));
  trials.TogglePauseProcessingTrials();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(Commands().size(), 1u);
  trials.TogglePauseProcessingTrials();
  ASSERT_TRUE(WaitForEnd());
  const auto c = Commands();
  ASSERT_EQ(c.size(), 2u);
  EXPECT_GE(Gap(c[0], c[1]), 400000u);
  EXPECT_EQ(boxes.texts().size(), 1u);
}

// The server goes away before the run: the first command meets the closed
// connection and the run ends at once as a failure, without the success box.
TEST_F(EndToEndTest, ServerGoneTheRunEndsAtTheFirstCommandAsAFailure) {
  StartAndConnect();
  Trial* t = AddType("A", 2, 60, 40);
  t->SetStartOfTrialGenerateEvent(true);
  t->SetPlayWavFile(true);
  server->Stop();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());

  const auto records = observer.commands();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].replied);
  EXPECT_TRUE(records[0].status.ConnectionLost()) << records[0].status.Describe();
  const RunSummary end = observer.end();
  EXPECT_EQ(end.outcome, RunOutcome::kFailed);
  EXPECT_TRUE(end.connectionLost);
  EXPECT_EQ(end.failedCommands, 1);
  EXPECT_EQ(end.lostAt.command, "-PostEvent \"\" 0 0");
  for (const auto& text : LogTexts()) EXPECT_EQ(text.rfind("Sent ", 0), std::string::npos) << text;
  ASSERT_EQ(boxes.texts().size(), 1u);
  EXPECT_EQ(boxes.texts()[0].rfind("Trial processing ended at trial #1, the connection to "
                                   "Quorvin was lost: ",
                                   0),
            0u);
}

}  // namespace
}  // namespace orvanta::testing
