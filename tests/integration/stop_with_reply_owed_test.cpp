// Stop while a reply is owed, as one matrix: the layer that is stopped (one
// exchange of the client, the trial worker on a channel that holds its
// reply, a whole run through the client) against how the reply is owed (held
// back until the stop, never sent, every reply slow, one reply late).
//
// Every row: the stop returns within its bound and nothing more is sent. A
// reply that never comes stays owed, so the next exchange is not sent, and a
// new connect gets the client going again; a reply that comes late is read
// and dropped before the next exchange, which gets its own reply, and a new
// run goes through in step.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_signal.h"
#include "tests/integration/run_env.h"

namespace orvanta::testing {
namespace {

enum class Layer { kExchange, kWorker, kRun };
enum class Fault { kWithheld, kNever, kSlow, kLate };

struct StopCase {
  const char* name;
  Layer layer;
  Fault fault;
  ProgramEnv::Link link = ProgramEnv::Link::kDirect;
  int faultMs = 0;         // slow: every reply; late: the owed one
  int owedAt = 1;          // the command (1 = the first after the connect) whose reply is owed
  int replyTimeoutMs = 0;  // the client's bound on an owed reply; 0: its default
  int stopAfterMs = 0;     // exchange: the stop comes this long after the send
  int stopBoundMs = 1000;  // the stop (or the stopped exchange) returns within this
  // Exchange: the command and, when it comes late, its reply.
  const char* command = "-PostEvent \"Lost\" 1 0";
  const char* lateReply = "0";
  // Worker and run: trials of one type with events at both ends.
  int trials = 1;
  int trialMs = 0;
  bool pulse = false;  // a TTL pulse after the start event
};

std::ostream& operator<<(std::ostream& out, const StopCase& c) { return out << c.name; }

constexpr char kType[] = "T";

std::string EventText(int n) { return std::string(kType) + (n % 2 == 1 ? " on" : " off"); }
int EventTtl(int n) { return n % 2 == 1 ? 1 : 2; }
// The nth event command of a run (1 = trial 1's start event).
std::string EventCommand(int n) {
  return "-PostEvent \"" + EventText(n) + "\" " + std::to_string(EventTtl(n)) + " 0";
}
std::string EventLine(int n, const std::string& reply) {
  return "Sent Quorvin Event.  Event String: " + EventText(n) +
         ", TTL Value: " + std::to_string(EventTtl(n)) + ", Reply: " + reply;
}

class StopWithReplyOwedTest : public ::testing::TestWithParam<StopCase>, public ModelEnv {
 protected:
  StopWithReplyOwedTest() {
    simOptions.quiet = true;
    KeepClientLog();
  }

  const StopCase& row() const { return GetParam(); }
  bool ReplyComes() const { return row().fault == Fault::kSlow || row().fault == Fault::kLate; }
  std::string Owed() const {
    return row().layer == Layer::kExchange ? row().command : EventCommand(row().owedAt);
  }

  void Arrange() {
    switch (row().fault) {
      case Fault::kWithheld:
        scripted.Hold(true);
        return;
      case Fault::kNever:
        simOptions.fault_command = "-PostEvent";
        simOptions.no_reply_nth = row().owedAt;
        break;
      case Fault::kSlow:
        simOptions.reply_delay_ms = row().faultMs;
        break;
      case Fault::kLate:
        simOptions.fault_command = "-PostEvent";
        simOptions.late_reply = {row().owedAt, row().faultMs};
        break;
    }
    ASSERT_NO_FATAL_FAILURE(StartAndConnect(row().link));
    if (row().replyTimeoutMs > 0)
      client.SetReplyTimeout(std::chrono::milliseconds(row().replyTimeoutMs));
  }

  void AddRunType() {
    Trial* t = AddType(kType, row().trials, row().trialMs, row().trialMs);
    t->SetStartOfTrialGenerateEvent(true);
    t->SetStartOfTrialEventString(EventText(1));
    t->SetStartOfTrialEventTTLValue(EventTtl(1));
    t->SetEndOfTrialGenerateEvent(true);
    t->SetEndOfTrialEventString(EventText(2));
    t->SetEndOfTrialEventTTLValue(EventTtl(2));
    t->SetStartOfTrialGenerateTTLPulse(row().pulse);
  }

  // The log of a run stopped while the reply to event `owed` was owed: every
  // earlier event with its reply, no line for the owed one, the stop lines.
  std::vector<std::string> StoppedRunLog(int owed) const {
    std::vector<std::string> log;
    for (int n = 1; n < owed; ++n) {
      if (n % 2 == 1) log.push_back("Start Trial #" + std::to_string((n + 1) / 2));
      log.push_back(EventLine(n, "0"));
      if (n % 2 == 0) log.push_back("End Trial #" + std::to_string(n / 2));
    }
    if (owed % 2 == 1) log.push_back("Start Trial #" + std::to_string((owed + 1) / 2));
    log.emplace_back(kTerminatedLine);
    log.emplace_back(kWaitLine);
    return log;
  }

  // The stopped exchange returns within the bound and leaves the reply alone.
  void StopOneExchange() {
    if (row().fault == Fault::kNever && row().link == Link::kDirect) {
      // An open stream, so that the disconnect below has a -CloseStream to send.
      std::vector<std::string> names, types;
      ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
      ASSERT_TRUE(client.OpenStream("CSC1", "CscAcqEnt"));
    }
    commandsAtStop_ = Received() + 1;
    StopSignal stop;
    std::string reply = "untouched";
    const auto start = SteadyClock::now();
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(row().stopAfterMs));
      stop.Request();
    });
    EXPECT_FALSE(client.SendCommand(row().command, reply, &stop));
    stopper.join();
    EXPECT_LT(MillisSince(start), row().stopBoundMs);
    EXPECT_EQ(reply, "untouched");
    if (row().fault == Fault::kNever) {
      EXPECT_TRUE(client.GetNetworkNodeClient().IsReplyOwed());
      const auto owed = Commands(static_cast<size_t>(commandsAtStop_ - 1));
      ASSERT_EQ(owed.size(), 1u);
      EXPECT_EQ(owed[0].text, row().command);
      EXPECT_FALSE(owed[0].replyUs.has_value());
      EXPECT_EQ(owed[0].note, "event 1 \"Lost\" ttl 1; fault: no reply (command 1)");
    }
  }

  // The worker or the run waits for the owed reply; Stop ends it.
  void StopRun() {
    AddRunType();
    const int64_t mark = row().layer == Layer::kWorker ? 0 : Received();
    ASSERT_EQ(trials.StartProcessingTrials(), 0);
    if (row().layer == Layer::kWorker) {
      ASSERT_TRUE(WaitUntil([&] { return scripted.IsWaiting(); }));
    } else {
      ASSERT_TRUE(WaitUntil([&] { return Received() == mark + row().owedAt; }));
      commandsAtStop_ = mark + row().owedAt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(row().fault == Fault::kNever ? 100 : 40));
    EXPECT_TRUE(trials.IsProcessing());

    const auto start = SteadyClock::now();
    EXPECT_EQ(trials.StopProcessingTrials(), 0);
    EXPECT_LT(MillisSince(start), row().stopBoundMs);
    ASSERT_TRUE(trials.WaitForRunEnd(2000ms));
    std::this_thread::sleep_for(100ms);

    EXPECT_EQ(LogTexts(), StoppedRunLog(row().owedAt));
    EXPECT_TRUE(boxes.texts().empty()) << "no completion box after a stop";
    EXPECT_EQ(observer.end().outcome, RunOutcome::kStopped);
    const auto records = observer.commands();
    ASSERT_EQ(records.size(), static_cast<size_t>(row().owedAt));
    EXPECT_EQ(records.back().command, Owed());
    EXPECT_FALSE(records.back().replied);
    if (row().layer == Layer::kWorker) {
      EXPECT_EQ(scripted.commands(), (std::vector<std::string>{Owed()}));
      return;
    }
    // Nothing more was sent: not the pulse, not the end event.
    EXPECT_EQ(Received(), commandsAtStop_);
    std::vector<std::string> sent;
    for (int n = 1; n <= row().owedAt; ++n) sent.push_back(EventCommand(n));
    EXPECT_EQ(CommandTexts(), sent);
    if (row().fault == Fault::kNever) {
      const auto owed = Commands().back();
      EXPECT_FALSE(owed.replyUs.has_value());
      EXPECT_EQ(owed.note, "event " + std::to_string(row().owedAt) + " \"" +
                               EventText(row().owedAt) + "\" ttl " +
                               std::to_string(EventTtl(row().owedAt)) +
                               "; fault: no reply (command " + std::to_string(row().owedAt) + ")");
    }
  }

  // A reply that never comes: nothing is sent while it is owed, the
  // connection no longer counts as connected, and a new connect replaces it.
  void CheckOwedReplyHoldsTheConnection() {
    std::string reply = "untouched";
    EXPECT_FALSE(client.SendCommand("-GetApplicationName", reply));
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(Received(), commandsAtStop_);
    EXPECT_TRUE(ClientLogHas(
        "ERROR: NetworkNodeClient::SendCommand() - Error, the server has not answered an earlier "
        "command within " +
        std::to_string(row().replyTimeoutMs) + " ms, the command was not sent.  earlier command: " +
        Owed() + ", command: -GetApplicationName"));
    if (row().layer == Layer::kExchange && row().link == Link::kDirect) {
      // The disconnect cannot send its -CloseStream either, but still ends.
      const auto start = SteadyClock::now();
      EXPECT_TRUE(client.DisconnectFromServer());
      EXPECT_LT(MillisSince(start), 3000);
      EXPECT_TRUE(WaitForLine("1/message", "close", "closed by client"));
      for (int i = 0; i < NetworkNodeClient::kStreamCount; ++i)
        EXPECT_FALSE(client.GetNetworkNodeClient().Stream(i).IsSetUp()) << i;
    } else {
      EXPECT_FALSE(client.IsConnected());
    }
    EXPECT_EQ(Received(), commandsAtStop_);

    ASSERT_TRUE(Connect(row().link));
    ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
    EXPECT_EQ(reply, "0 Quorvin Simulator");
    ASSERT_TRUE(client.SendCommand("-RequestSamplingFrequency CSC1", reply));
    EXPECT_EQ(reply, "0 32000");
  }

  // A reply that comes late: it is read and dropped before the next command
  // goes out, so every later exchange gets its own reply.
  void CheckLateReplyIsDrained() {
    std::string reply;
    ASSERT_TRUE(client.SendCommand("-GetApplicationName", reply));
    EXPECT_EQ(reply, "0 Quorvin Simulator");
    ASSERT_TRUE(client.SendCommand("-RequestADRange CSC1", reply));
    EXPECT_EQ(reply, "0 -1000 1000");
    const auto cmds = Commands(static_cast<size_t>(commandsAtStop_ - 1));
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0].text, Owed());
    EXPECT_EQ(cmds[1].text, "-GetApplicationName");
    EXPECT_EQ(cmds[2].text, "-RequestADRange CSC1");
    // The next command left only after the late reply had been sent.
    ASSERT_TRUE(cmds[0].replyUs.has_value());
    EXPECT_GE(cmds[1].timeUs, *cmds[0].replyUs);
    const std::string lateReply = row().layer == Layer::kExchange ? row().lateReply : "0";
    EXPECT_TRUE(ClientLogHas(
        "NOTICE: NetworkNodeClient::SendCommand() - Notice, the late reply to an earlier command "
        "has been discarded.  command: " +
        Owed() + ", reply: " + lateReply));
  }

  // A new run after the stop goes through in step: each logged reply is the
  // simulator's answer to that very command.
  void CheckNewRunInStep() {
    const size_t logBefore = LogTexts().size();
    const size_t before = CommandsStartingWith("-PostEvent").size();
    ASSERT_EQ(trials.StartProcessingTrials(), 0);
    ASSERT_TRUE(trials.WaitForRunEnd(10000ms));
    const auto log = LogTexts();
    std::vector<std::string> events;
    for (size_t i = logBefore; i < log.size(); ++i)
      if (log[i].rfind("Sent Quorvin Event.", 0) == 0) events.push_back(log[i]);
    std::vector<std::string> expected;
    for (int n = 1; n <= 2 * row().trials; ++n) expected.push_back(EventLine(n, "0"));
    EXPECT_EQ(events, expected);
    EXPECT_EQ(CommandsStartingWith("-PostEvent").size(), before + 2 * row().trials);
  }

  int64_t commandsAtStop_ = 0;  // the commands received once the owed one was in
};

TEST_P(StopWithReplyOwedTest, StopReturnsInTimeAndNoReplyIsReadOutOfStep) {
  ASSERT_NO_FATAL_FAILURE(Arrange());
  if (row().layer == Layer::kExchange) {
    ASSERT_NO_FATAL_FAILURE(StopOneExchange());
  } else {
    ASSERT_NO_FATAL_FAILURE(StopRun());
  }
  if (row().layer == Layer::kWorker) return;
  if (row().fault == Fault::kNever) {
    ASSERT_NO_FATAL_FAILURE(CheckOwedReplyHoldsTheConnection());
  } else {
    ASSERT_NO_FATAL_FAILURE(CheckLateReplyIsDrained());
  }
  if (row().layer == Layer::kRun) CheckNewRunInStep();
}

using L = ProgramEnv::Link;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Matrix, StopWithReplyOwedTest, ::testing::Values(
    // One exchange of the client, stopped.
    StopCase{.name = "ExchangeSlow", .layer = Layer::kExchange, .fault = Fault::kSlow,
             .link = L::kMessageOnly, .faultMs = 400, .stopAfterMs = 50, .stopBoundMs = 300,
             .command = "-RequestSamplingFrequency CSC1", .lateReply = "0 32000"},
    StopCase{.name = "ExchangeNever", .layer = Layer::kExchange, .fault = Fault::kNever,
             .replyTimeoutMs = 300, .stopAfterMs = 100, .stopBoundMs = 1000},
    StopCase{.name = "ExchangeLate", .layer = Layer::kExchange, .fault = Fault::kLate,
             .link = L::kMessageOnly, .faultMs = 600, .stopAfterMs = 100, .stopBoundMs = 400},
    // The trial worker on a channel that holds the reply until the stop.
    StopCase{.name = "WorkerWithheld", .layer = Layer::kWorker, .fault = Fault::kWithheld,
             .stopBoundMs = 1000, .pulse = true},
    // A whole run through the client.
    StopCase{.name = "RunSlowFirstEvent", .layer = Layer::kRun, .fault = Fault::kSlow,
             .link = L::kMessageOnly, .faultMs = 700, .stopBoundMs = 500},
    StopCase{.name = "RunSlowEveryReply", .layer = Layer::kRun, .fault = Fault::kSlow,
             .faultMs = 150, .stopBoundMs = 500, .trials = 5},
    StopCase{.name = "RunNeverFirstEvent", .layer = Layer::kRun, .fault = Fault::kNever,
             .replyTimeoutMs = 200, .stopBoundMs = 500, .pulse = true},
    StopCase{.name = "RunNeverMidRun", .layer = Layer::kRun, .fault = Fault::kNever,
             .owedAt = 5, .replyTimeoutMs = 300, .stopBoundMs = 1000, .trials = 6, .trialMs = 5},
    StopCase{.name = "RunLateMidRun", .layer = Layer::kRun, .fault = Fault::kLate,
             .faultMs = 800, .owedAt = 3, .stopBoundMs = 500, .trials = 4, .trialMs = 5}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace orvanta::testing
