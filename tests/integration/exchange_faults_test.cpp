// The simulator's fault injections as the facade meets them: slow replies,
// a withheld reply, a server that hangs up, broken reply headers and an
// absurd payload size.
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
  options.reply_delay_ms = 80;
  StartSim();
  const auto connectStart = Clock::now();
  ASSERT_TRUE(ConnectDirect());
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

// A reply that comes late after a stop is read and dropped before the next
// command goes out, so the next command gets its own reply.
TEST_F(FaultsTest, AStoppedExchangeReturnsAtOnceAndItsLateReplyIsDrained) {
  options.reply_delay_ms = 400;
  StartSim();
  // The message connection alone: a whole connect would take 14 slow replies.
  ASSERT_TRUE(client.GetNetworkNodeClient().InitializeClient("127.0.0.1", server->message_port()));

  StopSignal stop;
  std::string reply = "untouched";
  const auto start = Clock::now();
  {
    DelayedStop stopper(stop, 50ms);
    EXPECT_FALSE(client.SendCommand("-RequestSamplingFrequency CSC1", reply, &stop));
  }
  EXPECT_LT(MillisSince(start), 300);
  EXPECT_EQ(reply, "untouched");

  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  const auto cmds = Commands(1);
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].text, "-RequestSamplingFrequency CSC1");
  EXPECT_EQ(cmds[1].text, "-GetApplicationName");
  // The next command left only after the late reply had been sent.
  ASSERT_TRUE(cmds[0].replyUs.has_value());
  EXPECT_GE(cmds[1].timeUs, *cmds[0].replyUs);
  EXPECT_TRUE(HasLogEntry(
      "NOTICE: NetworkNodeClient::SendCommand() - Notice, the late reply to an earlier command "
      "has been discarded.  command: -RequestSamplingFrequency CSC1, reply: 0 32000"));
}

// The server never answers one command. A stop ends the wait; the reply
// still owed is never taken for a later command's, so later commands are
// not sent at all; a disconnect and a new connect get the client going again.
TEST_F(FaultsTest, ANeverAnsweredCommandIsAbandonedOnStopAndNothingIsReadOutOfStep) {
  options.fault_command = "-PostEvent";
  options.no_reply_nth = 1;
  StartSim();
  ASSERT_TRUE(ConnectDirect());
  std::vector<std::string> names, types;
  ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
  ASSERT_TRUE(client.OpenStream("CSC1", "CscAcqEnt"));
  client.SetReplyTimeout(300ms);
  const int64_t before = Received();

  StopSignal stop;
  std::string reply = "untouched";
  const auto start = Clock::now();
  {
    DelayedStop stopper(stop, 100ms);
    EXPECT_FALSE(client.SendCommand("-PostEvent \"Lost\" 1 0", reply, &stop));
  }
  EXPECT_LT(MillisSince(start), 1000);
  EXPECT_EQ(reply, "untouched");
  EXPECT_TRUE(client.GetNetworkNodeClient().IsReplyOwed());
  const auto withheld = Commands(static_cast<size_t>(before));
  ASSERT_EQ(withheld.size(), 1u);
  EXPECT_FALSE(withheld[0].replyUs.has_value());
  EXPECT_EQ(withheld[0].note, "event 1 \"Lost\" ttl 1; fault: no reply (command 1)");

  EXPECT_FALSE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "untouched");
  EXPECT_TRUE(HasLogEntry(
      "ERROR: NetworkNodeClient::SendCommand() - Error, the server has not answered an earlier "
      "command within 300 ms, the command was not sent.  earlier command: -PostEvent \"Lost\" 1 "
      "0, command: -GetApplicationName"));
  EXPECT_EQ(Received(), before + 1);

  // The disconnect cannot send its "-CloseStream" either, but still ends.
  const auto disconnectStart = Clock::now();
  EXPECT_TRUE(client.DisconnectFromServer());
  EXPECT_LT(MillisSince(disconnectStart), 3000);
  EXPECT_TRUE(WaitForLine("1/message", "close", "closed by client"));
  EXPECT_EQ(Received(), before + 1);
  EXPECT_FALSE(AnyStreamSetUp());

  ASSERT_TRUE(ConnectDirect());
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
}

// The window checks the connection before it connects: a connection that
// no longer completes an exchange reports "not connected", so the connect
// that follows must not be refused as "already initialized".
TEST_F(FaultsTest, AConnectionStuckOnAnAbandonedReplyIsReplacedByTheNextConnect) {
  options.fault_command = "-PostEvent";
  options.no_reply_nth = 1;
  StartSim();
  ASSERT_TRUE(ConnectDirect());
  client.SetReplyTimeout(200ms);
  StopSignal stop;
  std::string reply = "untouched";
  {
    DelayedStop stopper(stop, 50ms);
    EXPECT_FALSE(client.SendCommand("-PostEvent \"Lost\" 1 0", reply, &stop));
  }
  EXPECT_FALSE(client.IsConnected());

  ASSERT_TRUE(ConnectDirect());
  EXPECT_TRUE(WaitForLine("1/message", "close", "closed by client"));
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  const auto cmds = Commands(15);
  ASSERT_EQ(cmds.size(), 15u);
  for (const Line& l : cmds) EXPECT_EQ(l.conn, "2/message") << l.text;
  EXPECT_FALSE(HasLogEntry(
      "WARNING: NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client "
      "that has already been initialized, unable to re-initialize"));
}

TEST_F(FaultsTest, AConnectionThatStillAnswersIsNotReplaced) {
  StartSim();
  ASSERT_TRUE(ConnectDirect());
  EXPECT_FALSE(ConnectDirect());
  EXPECT_TRUE(HasLogEntry(
      "WARNING: NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client "
      "that has already been initialized, unable to re-initialize"));
  EXPECT_TRUE(client.IsConnected());
  for (const Line& l : Lines("open")) EXPECT_EQ(l.conn, "1/message");
}

TEST_F(FaultsTest, AServerThatHangsUpShutsTheClientDown) {
  options.fault_command = "-PostEvent";
  options.close_after_n = 1;
  StartSim();
  ASSERT_TRUE(ConnectDirect());
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
  EXPECT_TRUE(HasLogEntry(
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
  ASSERT_TRUE(ConnectDirect());
  EXPECT_TRUE(client.IsConnected());
}

struct HeaderFault {
  const char* name;
  std::function<void(sim::SimOptions&)> apply;
  const char* box;
};

void PrintTo(const HeaderFault& fault, std::ostream* os) { *os << fault.name; }

class BrokenHeaderTest : public E2eTest, public ::testing::WithParamInterface<HeaderFault> {};

TEST_P(BrokenHeaderTest, IsShownInAMessageBoxAndFailsTheExchange) {
  options.fault_command = "-PostEvent";
  GetParam().apply(options);
  StartSim();
  ASSERT_TRUE(ConnectDirect());
  std::string reply = "untouched";
  EXPECT_FALSE(client.SendCommand("-PostEvent \"Broken\" 1 0", reply));
  EXPECT_EQ(reply, "untouched");
  const auto shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, GetParam().box);
  EXPECT_EQ(shown[0].buttons, BoxButtons::kOk);
  // The rest of the frame is not read; the connection stays up, but what
  // comes next is read out of step, so it no longer counts as connected...
  EXPECT_TRUE(client.GetNetworkNodeClient().IsInitialized());
  EXPECT_FALSE(client.IsConnected());
  // ... and a new connect replaces it.
  ASSERT_TRUE(ConnectDirect());
  ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "0 Quorvin Simulator");
  EXPECT_TRUE(WaitForLine("1/message", "close", "closed by client"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenHeaderTest,
    ::testing::Values(
        HeaderFault{"VersionTwo",
                    [](sim::SimOptions& o) {
                      o.bad_version = {1, 2};
                    },
                    "Error, this Version of Veltrix Network Communication is not Supported, "
                    "please update to the latest version of the software.  Version #2"},
        HeaderFault{"VersionZero",
                    [](sim::SimOptions& o) {
                      o.bad_version = {1, 0};
                    },
                    "Error, invalid version number, data has been corrupted or improperly "
                    "formatted"},
        HeaderFault{"ValidationCode", [](sim::SimOptions& o) { o.bad_validation_nth = 1; },
                    "Error, invalid validation code, data has been corrupted or improperly "
                    "formatted"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SizeFault {
  const char* name;
  int32_t size;
  const char* entry;
};

void PrintTo(const SizeFault& fault, std::ostream* os) { *os << fault.name; }

class AbsurdSizeTest : public E2eTest, public ::testing::WithParamInterface<SizeFault> {};

TEST_P(AbsurdSizeTest, FailsTheExchangeWithTheErrorAndNoBox) {
  options.fault_command = "-PostEvent";
  options.absurd_size = {1, GetParam().size};
  StartSim();
  ASSERT_TRUE(ConnectDirect());
  std::string reply = "untouched";
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendCommand("-PostEvent \"Huge\" 1 0", reply));
  EXPECT_LT(MillisSince(start), 2000);  // nothing waits for 2 GB that never come
  EXPECT_EQ(reply, "untouched");
  EXPECT_TRUE(HasLogEntry(GetParam().entry));
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
