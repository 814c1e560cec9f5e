// Faults of the acquisition server during a run, end to end: the trial
// worker, the server client and the simulator with its fault switches.
//  - the server stops replying: Stop still returns promptly, and no reply
//    is ever taken for the wrong command afterwards;
//  - the server hangs up: the run still completes, every trial is logged,
//    the failed exchanges are logged with empty replies;
//  - broken reply headers and an absurd payload size: the error path, no
//    crash, memory stays bounded, the run goes on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/fault_env.h"

namespace orvanta::faults {
namespace {

using RunFaultsTest = FaultEnv;

std::string EventLine(const std::string& event, int ttl, const std::string& reply) {
  return "Sent Quorvin Event.  Event String: " + event + ", TTL Value: " + std::to_string(ttl) +
         ", Reply: " + reply;
}

TEST_F(RunFaultsTest, WithheldReplyMidRunStopReturnsPromptlyAndNothingIsReadOutOfStep) {
  options.fault_command = "-PostEvent";
  options.no_reply_nth = 5;  // the start event of trial 3
  StartAndConnect();
  client.SetReplyTimeout(300ms);
  AddEventType("Tone", 6, 5, 5);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);

  // The worker waits for the withheld reply.
  ASSERT_TRUE(WaitUntil([&] { return CountPrefix("-PostEvent") == 5; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(trials.IsProcessing());
  EXPECT_EQ(CountPrefix("-PostEvent"), 5u);

  const auto stopAt = SteadyClock::now();
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_LT(MillisSince(stopAt), 1000);
  EXPECT_TRUE(trials.WaitForRunEnd(2000ms));

  const auto log = Log();
  EXPECT_EQ(LogCount("Start Trial #3"), 1u);
  EXPECT_EQ(LogCount("End Trial #3"), 0u);
  EXPECT_EQ(LogCount("Sent Quorvin Event.  Event String: Tone on"), 2u);  // trials 1 and 2
  EXPECT_TRUE(LogHas(kStopLine1));
  EXPECT_TRUE(LogHas(kStopLine2));
  EXPECT_TRUE(boxes.texts().empty()) << "no completion box after a stop";

  // The withheld reply never comes: the next exchange waits for it (up to
  // the reply bound) and fails without sending anything, so no reply
  // is ever paired with the wrong command.
  const int64_t before = server->commands_received();
  std::string reply = "untouched";
  EXPECT_FALSE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "untouched");
  EXPECT_EQ(server->commands_received(), before);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(server->commands_received(), before);
  EXPECT_NE(ClientLog().find("the command was not sent"), std::string::npos);

  // A new connect replaces the stuck connection; everything is in step again.
  ASSERT_TRUE(Connect());
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  ASSERT_TRUE(client.SendCommand("-RequestSamplingFrequency CSC1", reply));
  EXPECT_EQ(reply, "0 32000");
}

TEST_F(RunFaultsTest, SlowRepliesStopReturnsAtOnceAndTheLateReplyIsDiscardedNotMisread) {
  options.reply_delay_ms = 150;
  StartAndConnect();
  AddEventType("Slow", 5, 0, 0);
  const int64_t connectCommands = server->commands_received();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  // The first event has arrived; its reply comes 150 ms later.
  ASSERT_TRUE(WaitUntil([&] { return server->commands_received() > connectCommands; }));
  std::this_thread::sleep_for(40ms);

  const auto stopAt = SteadyClock::now();
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_LT(MillisSince(stopAt), 500);
  EXPECT_TRUE(trials.WaitForRunEnd(2000ms));
  const size_t eventsSent = CountPrefix("-PostEvent");

  // The abandoned reply ("0") arrives later and is dropped; every later
  // exchange gets its own reply.
  std::string reply;
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  ASSERT_TRUE(client.SendCommand("-RequestADRange CSC1", reply));
  EXPECT_EQ(reply, "0 -1000 1000");
  EXPECT_NE(ClientLog().find("the late reply to an earlier command has been discarded"),
            std::string::npos);

  // A new run goes through in step: each logged reply is the simulator's
  // answer to that very command ("0" for an event).
  trials.SetCommandChannel(&client);
  const auto logBefore = Log().size();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(trials.WaitForRunEnd(10000ms));
  const auto log = Log();
  size_t events = 0;
  for (size_t i = logBefore; i < log.size(); ++i) {
    if (log[i].rfind("Sent Quorvin Event.", 0) != 0) continue;
    ++events;
    EXPECT_TRUE(log[i] == EventLine("Slow on", 1, "0") || log[i] == EventLine("Slow off", 2, "0"))
        << log[i];
  }
  EXPECT_EQ(events, 10u);
  EXPECT_EQ(CountPrefix("-PostEvent"), eventsSent + 10);
}

// The server hangs up mid-run: the run ends at once, as a failure, with the
// ERROR line of the command that met the closed connection.
TEST_F(RunFaultsTest, ServerHangsUpMidRunTheRunEndsAtOnceAsAFailure) {
  options.fault_command = "-PostEvent";
  options.close_after_n = 4;  // after the end event of trial 2
  StartAndConnect();
  AddEventType("Go", 6, 2, 2);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(trials.WaitForRunEnd(10000ms));

  EXPECT_EQ(LogCountExactly(EventLine("Go on", 1, "0")), 2u);
  EXPECT_EQ(LogCount("Start Trial #3"), 1u);
  EXPECT_EQ(LogCount("End Trial #3"), 0u);
  EXPECT_EQ(LogCount("Start Trial #4"), 0u);
  EXPECT_EQ(LogCount("TrialContainer::ProcessTrials() - Error, a command of trial #3 failed: "),
            1u);
  ASSERT_EQ(boxes.texts().size(), 1u);
  EXPECT_EQ(boxes.texts()[0].rfind("Trial processing ended at trial #3, the connection to Quorvin "
                                   "was lost: ",
                                   0),
            0u)
      << boxes.texts()[0];
  EXPECT_EQ(CountPrefix("-PostEvent"), 4u);
  EXPECT_FALSE(client.IsConnected());
}

struct HeaderFault {
  const char* name;
  void (*apply)(sim::SimOptions&);
  const char* box;  // the box the broken header shows; null: none
};

class BrokenReplyTest : public FaultEnv, public ::testing::WithParamInterface<HeaderFault> {};

// The third event's reply is broken. The rest of its frame is still on the
// connection and where the next frame begins is unknown: the run ends at once
// as a failure ("broken reply"), and a new connect gives a connection in step.
TEST_P(BrokenReplyTest, MidRunEndsTheRunAsAFailureWithBoundedMemory) {
  options.fault_command = "-PostEvent";
  GetParam().apply(options);
  StartAndConnect();
  AddEventType("Hdr", 8, 1, 1);
  const long rssBefore = ResidentKiB();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(trials.WaitForRunEnd(15000ms));

  EXPECT_EQ(LogCountExactly(EventLine("Hdr on", 1, "0")), 1u);
  EXPECT_EQ(LogCountExactly(EventLine("Hdr off", 2, "0")), 1u);
  EXPECT_EQ(LogCount("End Trial #2"), 0u);
  EXPECT_EQ(CountPrefix("-PostEvent"), 3u);
  const long grown = ResidentKiB() - rssBefore;
  EXPECT_LT(grown, 64 * 1024) << "resident set grew by " << grown << " KiB";

  // The client's box for the broken header (when it has one), then the
  // worker's at the end of the run.
  std::vector<std::string> expected;
  if (GetParam().box != nullptr) expected.emplace_back(GetParam().box);
  expected.emplace_back(
      "Trial processing ended at trial #2, the connection to Quorvin was lost: broken "
      "reply.  Command: -PostEvent \"Hdr on\" 1 0");
  EXPECT_EQ(boxes.texts(), expected);

  EXPECT_FALSE(client.IsConnected());
  ASSERT_TRUE(Connect());
  std::string reply;
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  ASSERT_TRUE(client.SendCommand("-RequestSamplingFrequency CSC1", reply));
  EXPECT_EQ(reply, "0 32000");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenReplyTest,
    ::testing::Values(
        HeaderFault{"VersionTwo",
                    [](sim::SimOptions& o) {
                      o.bad_version = {3, 2};
                    },
                    "Error, this Version of Veltrix Network Communication is not Supported, "
                    "please update to the latest version of the software.  Version #2"},
        HeaderFault{"VersionZero",
                    [](sim::SimOptions& o) {
                      o.bad_version = {3, 0};
                    },
                    "Error, invalid version number, data has been corrupted or improperly "
                    "formatted"},
        HeaderFault{"ValidationCode", [](sim::SimOptions& o) { o.bad_validation_nth = 3; },
                    "Error, invalid validation code, data has been corrupted or improperly "
                    "formatted"},
        HeaderFault{"AbsurdSize",
                    [](sim::SimOptions& o) {
                      o.absurd_size = {3, 0x7FFFFFFF};
                    },
                    nullptr},
        HeaderFault{"NegativeSize",
                    [](sim::SimOptions& o) {
                      o.absurd_size = {3, -8};
                    },
                    nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A size below the client's limit announces 60 MB and sends two bytes: the
// exchange waits for the rest, which never comes; Stop ends the wait and the
// memory taken is what arrived, not what was announced.
TEST_F(RunFaultsTest, LargeAnnouncedSizeWaitsWithoutTakingItsMemoryAndStopEndsIt) {
  options.fault_command = "-PostEvent";
  options.absurd_size = {1, 60 * 1024 * 1024};
  StartAndConnect();
  AddEventType("Big", 3, 1, 1);
  const long rssBefore = ResidentKiB();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitUntil([&] { return CountPrefix("-PostEvent") == 1; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(trials.IsProcessing());
  const long grown = ResidentKiB() - rssBefore;
  EXPECT_LT(grown, 16 * 1024) << "resident set grew by " << grown << " KiB";

  const auto stopAt = SteadyClock::now();
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_LT(MillisSince(stopAt), 1000);
  EXPECT_TRUE(trials.WaitForRunEnd(2000ms));
  EXPECT_EQ(LogCount("End Trial #1"), 0u);
  EXPECT_TRUE(LogHas(kStopLine2));
}

}  // namespace
}  // namespace orvanta::faults
