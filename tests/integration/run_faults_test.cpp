// Faults of the acquisition server during a run, end to end: the trial
// worker, the server client and the simulator with its fault switches.
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

// The server hangs up mid-run: the run ends at once, as a failure, with the
// ERROR line of the command that met the closed connection.
TEST_F(RunFaultsTest, ServerHangsUpMidRunTheRunEndsAtOnceAsAFailure) {
  simOptions.fault_command = "-PostEvent";
  simOptions.close_after_n = 4;  // after the end event of trial 2
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

class BrokenReplyTest : public FaultEnv,
                        public ::testing::WithParamInterface<testing::BrokenHeader> {};

// The third event's reply is broken. The rest of its frame is still on the
// connection and where the next frame begins is unknown: the run ends at once
// as a failure ("broken reply"), and a new connect gives a connection in step.
TEST_P(BrokenReplyTest, MidRunEndsTheRunAsAFailureWithBoundedMemory) {
  simOptions.fault_command = "-PostEvent";
  testing::SendBrokenHeader(simOptions, GetParam(), 3);
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
  if (GetParam().inBox) expected.emplace_back(GetParam().text);
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

// The headers after which the connection is out of step (all but a size of
// zero, whose frame is whole).
INSTANTIATE_TEST_SUITE_P(Faults, BrokenReplyTest,
                         ::testing::ValuesIn(testing::BrokenHeadersWhere([](const auto& h) {
                           return h.outOfStep;
                         })),
                         testing::BrokenHeaderName);

// A size below the client's limit announces 60 MB and sends two bytes: the
// exchange waits for the rest, which never comes; Stop ends the wait and the
// memory taken is what arrived, not what was announced.
TEST_F(RunFaultsTest, LargeAnnouncedSizeWaitsWithoutTakingItsMemoryAndStopEndsIt) {
  simOptions.fault_command = "-PostEvent";
  simOptions.absurd_size = {1, 60 * 1024 * 1024};
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
