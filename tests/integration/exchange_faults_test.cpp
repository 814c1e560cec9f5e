// The simulator's fault injections as the facade meets them: slow replies,
// a connection stuck on an abandoned reply, a server that hangs up, broken
// reply headers and an absurd payload size. (A stop while a reply is owed:
// stop_with_reply_owed_test.cpp.)
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_signal.h"
#include "tests/integration/e2e_env.h"

namespace orvanta::e2e {
namespace {

using FaultsTest = E2eTest;

// Requests a stop after `delay`, on a thread of its own.
class DelayedStop {
 public:
  DelayedStop(StopSignal& stop, std::chrono::milliseconds delay)
      : thread_([&stop, delay] {
          std::this_thread::sleep_for(delay);
          stop.Request();
        }) {}
  ~DelayedStop() { thread_.join(); }

 private:
  std::thread thread_;
};

TEST_F(FaultsTest, ADelayedReplyStillCompletesTheExchange) {
  simOptions.reply_delay_ms = 80;
  StartSim();
  const auto connectStart = Clock::now();
  ASSERT_TRUE(Connect());
  EXPECT_GE(MillisSince(connectStart), 14 * 80);  // fourteen exchanges, one after the other

  const auto start = Clock::now();
  std::string reply;
  ASSERT_TRUE(client.SendCommand("-RequestSamplingFrequency CSC1", reply));
  EXPECT_GE(MillisSince(start), 80);
  EXPECT_EQ(reply, "0 32000");
  const auto cmds = Commands(14);
  ASSERT_EQ(cmds.size(), 1u);
  ASSERT_TRUE(cmds[0].replyUs.has_value());
  EXPECT_GE(*cmds[0].replyUs - cmds[0].timeUs, 80000u);
}

// The window checks the connection before it connects: a connection that
// no longer completes an exchange reports "not connected", so the connect
// that follows must not be refused as "already initialized".
TEST_F(FaultsTest, AConnectionStuckOnAnAbandonedReplyIsReplacedByTheNextConnect) {
  simOptions.fault_command = "-PostEvent";
  simOptions.no_reply_nth = 1;
  StartSim();
  ASSERT_TRUE(Connect());
  client.SetReplyTimeout(200ms);
  StopSignal stop;
  std::string reply = "untouched";
  {
    DelayedStop stopper(stop, 50ms);
    EXPECT_FALSE(client.SendCommand("-PostEvent \"Lost\" 1 0", reply, &stop));
  }
  EXPECT_FALSE(client.IsConnected());

  ASSERT_TRUE(Connect());
  EXPECT_TRUE(WaitForLine("1/message", "close", "closed by client"));
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  const auto cmds = Commands(15);
  ASSERT_EQ(cmds.size(), 15u);
  for (const Line& l : cmds) EXPECT_EQ(l.conn, "2/message") << l.text;
  EXPECT_FALSE(ClientLogHas(
      "WARNING: NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client "
      "that has already been initialized, unable to re-initialize"));
}

TEST_F(FaultsTest, AConnectionThatStillAnswersIsNotReplaced) {
  StartSim();
  ASSERT_TRUE(Connect());
  EXPECT_FALSE(Connect());
  EXPECT_TRUE(ClientLogHas(
      "WARNING: NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client "
      "that has already been initialized, unable to re-initialize"));
  EXPECT_TRUE(client.IsConnected());
  for (const Line& l : Lines("open")) EXPECT_EQ(l.conn, "1/message");
}

TEST_F(FaultsTest, AServerThatHangsUpShutsTheClientDown) {
  simOptions.fault_command = "-PostEvent";
  simOptions.close_after_n = 1;
  StartSim();
  ASSERT_TRUE(Connect());
  std::vector<std::string> names, types;
  ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
  client.SetCallbackFunctionCSC(&RecordSink::Callback, &csc);
  ASSERT_TRUE(client.OpenStream("CSC1", "CscAcqEnt"));
  ASSERT_TRUE(WaitUntil([&] { return csc.Count() >= 2; }));

  // The Nth command is still answered; then the server closes.
  std::string reply;
  ASSERT_TRUE(client.SendCommand("-PostEvent \"Last\" 2 0", reply));
  EXPECT_EQ(reply.rfind('0', 0), 0u);
  ASSERT_TRUE(
      WaitForLine("1/message", "close", "closed by simulator after command 1 (--close-after)"));

  reply = "untouched";
  EXPECT_FALSE(client.SendCommand("-PostEvent \"Unheard\" 3 0", reply));
  EXPECT_EQ(reply, "untouched");
  EXPECT_TRUE(ClientLogHas(
      "NOTICE: NetworkNodeClient::GetBuffer() - Attempting to recieve data has failed, socket has "
      "been closed gracefully"));
  EXPECT_FALSE(client.GetNetworkNodeClient().IsInitialized());
  EXPECT_FALSE(AnyStreamSetUp());
  EXPECT_EQ(client.GetServerName(), "Not Connected");
  EXPECT_EQ(client.GetNetworkNodeClient().GetPortNumber(), -1);
  const int64_t received = Received();
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(Received(), received);

  // Not half-connected: the next connect is not refused.
  ASSERT_TRUE(Connect());
  EXPECT_TRUE(client.IsConnected());
}

using testing::BrokenHeader;

class BrokenHeaderTest : public E2eTest, public ::testing::WithParamInterface<BrokenHeader> {};

TEST_P(BrokenHeaderTest, IsShownInAMessageBoxAndFailsTheExchange) {
  simOptions.fault_command = "-PostEvent";
  testing::SendBrokenHeader(simOptions, GetParam(), 1);
  StartSim();
  ASSERT_TRUE(Connect());
  std::string reply = "untouched";
  EXPECT_FALSE(client.SendCommand("-PostEvent \"Broken\" 1 0", reply));
  EXPECT_EQ(reply, "untouched");
  const auto shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, GetParam().text);
  EXPECT_EQ(shown[0].buttons, BoxButtons::kOk);
  // The rest of the frame is not read; the connection stays up, but what
  // comes next is read out of step, so it no longer counts as connected...
  EXPECT_TRUE(client.GetNetworkNodeClient().IsInitialized());
  EXPECT_FALSE(client.IsConnected());
  // ... and a new connect replaces it.
  ASSERT_TRUE(Connect());
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  EXPECT_TRUE(WaitForLine("1/message", "close", "closed by client"));
}

// The headers shown in a box: version and validation code.
INSTANTIATE_TEST_SUITE_P(Faults, BrokenHeaderTest,
                         ::testing::ValuesIn(testing::BrokenHeadersWhere([](const auto& h) {
                           return h.inBox;
                         })),
                         testing::BrokenHeaderName);

struct SizeFault {
  const char* name;
  int32_t size;
  const char* entry;
};

void PrintTo(const SizeFault& fault, std::ostream* os) { *os << fault.name; }

class AbsurdSizeTest : public E2eTest, public ::testing::WithParamInterface<SizeFault> {};

TEST_P(AbsurdSizeTest, FailsTheExchangeWithTheErrorAndNoBox) {
  simOptions.fault_command = "-PostEvent";
  simOptions.absurd_size = {1, GetParam().size};
  StartSim();
  ASSERT_TRUE(Connect());
  std::string reply = "untouched";
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendCommand("-PostEvent \"Huge\" 1 0", reply));
  EXPECT_LT(MillisSince(start), 2000);  // nothing waits for 2 GB that never come
  EXPECT_EQ(reply, "untouched");
  EXPECT_TRUE(ClientLogHas(GetParam().entry));
  EXPECT_TRUE(boxes.texts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AbsurdSizeTest,
    ::testing::Values(SizeFault{"Largest", 0x7FFFFFFF,
                                "ERROR: NetworkNodeClient::RecieveMessage() - Error allocating "
                                "memory for recieving a message, point returned a NULL"},
                      SizeFault{"Negative", -5,
                                "ERROR: NetworkNodeClient::RecieveMessage() - Invalid message "
                                "size for recieving message, messageSize: -5"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvanta::e2e
