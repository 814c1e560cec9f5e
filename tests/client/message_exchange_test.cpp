// The exchange on its own, over a real loopback connection made by the
// connection part: when the lock is held and when it is free, refusals, and
// the hand-over of a connection the server closed.
#include "client/message_exchange.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/frame_codec.h"
#include "client/message_connection.h"
#include "fakes/fakes.h"
#include "platform/stop_signal.h"
#include "scripted_peer.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;

// Notes, for each box, whether the exchange lock was free when it was shown.
class LockCheckingBoxes : public MessageBoxes {
 public:
  using MessageBoxes::Show;
  BoxResult Show(const std::string& text, const std::string&, BoxIcon, BoxButtons) override {
    texts.push_back(text);
    bool free = false;
    if (exchange->lock().TryLockFor(0ms)) {
      exchange->lock().Unlock();
      free = true;
    }
    lockFree.push_back(free);
    return BoxResult::kOk;
  }
  MessageExchange* exchange = nullptr;
  std::vector<std::string> texts;
  std::vector<bool> lockFree;
};

class MessageExchangeTest : public ::testing::Test {
 protected:
  MessageExchangeTest() { boxes_.exchange = &exchange_; }
  ~MessageExchangeTest() override {
    if (connection_.IsConnected()) connection_.Close();
  }

  // Called by the exchange with its lock held: notes whether it was, then
  // closes the connection as the client's shutdown does.
  void OnConnectionLost() {
    ++lost_calls_;
    if (exchange_.lock().TryLockFor(0ms)) {
      exchange_.lock().Unlock();
      lost_with_lock_held_ = false;
    } else {
      lost_with_lock_held_ = true;
    }
    connection_.Close();
  }

  std::unique_ptr<testing::PeerConnection> Connect() {
    if (!connection_.Open("127.0.0.1", listener_.port(), 5000, nullptr)) return nullptr;
    connection_.SetConnected(true);
    return listener_.Accept();
  }

  testing::FixedClock clock_;
  ClientLogFile log_{clock_};
  LockCheckingBoxes boxes_;
  MessageConnection connection_{log_};
  MessageExchange exchange_{connection_, log_, boxes_, [this] { OnConnectionLost(); }};
  testing::PeerListener listener_;
  int lost_calls_ = 0;
  bool lost_with_lock_held_ = false;
};

TEST_F(MessageExchangeTest, ABrokenHeadersBoxIsShownOnceTheLockIsFreeAndLaterCommandsStayHome) {
  auto peer = Connect();
  ASSERT_TRUE(peer);
  testing::PeerThread script([&] {
    if (peer->ReadCommand() != "-GetApplicationName") return;
    unsigned char header[frame::kHeaderSize];
    frame::EncodeHeader(frame::Header{2, frame::kValidationCode, 5}, header);
    peer->Write(std::string_view(reinterpret_cast<const char*>(header), sizeof header));
  });
  std::vector<char> payload;
  const ExchangeStatus status = exchange_.Exchange("-GetApplicationName", &payload, nullptr);
  script.Join();
  EXPECT_EQ(status.reason, ExchangeReason::kBrokenReply);
  ASSERT_EQ(boxes_.texts.size(), 1u);
  EXPECT_NE(boxes_.texts[0].find("Version #2"), std::string::npos);
  EXPECT_TRUE(boxes_.lockFree[0]);
  EXPECT_FALSE(exchange_.IsInStep());

  // Out of step: nothing more is sent until the connection is made again.
  EXPECT_EQ(exchange_.Exchange("-Next", &payload, nullptr).reason, ExchangeReason::kNotConnected);
  EXPECT_TRUE(peer->QuietFor(100));
  EXPECT_EQ(lost_calls_, 0);
}

TEST_F(MessageExchangeTest, AStopOrARefusalKeepsTheLockFromBeingTaken) {
  StopSignal stop;
  stop.Request();
  EXPECT_FALSE(exchange_.Acquire(&stop, false));
  exchange_.BeginRefusing();
  EXPECT_FALSE(exchange_.Acquire(nullptr, true));
  // A shutdown's own steps take the lock while exchanges are refused.
  if (exchange_.Acquire(nullptr, false)) {
    exchange_.Release();
  } else {
    ADD_FAILURE() << "the lock was refused to a shutdown";
  }
  exchange_.EndRefusing();
  if (exchange_.Acquire(nullptr, true)) {
    exchange_.Release();
  } else {
    ADD_FAILURE() << "the lock was refused after the refusal ended";
  }
  // Without a connection an exchange is not even tried.
  EXPECT_EQ(exchange_.Exchange("-Ping", nullptr, nullptr).reason, ExchangeReason::kNotConnected);
}

TEST_F(MessageExchangeTest, AConnectionClosedMidReplyIsHandedOverOnceWithTheLockHeld) {
  auto peer = Connect();
  ASSERT_TRUE(peer);
  testing::PeerThread script([&] {
    if (peer->ReadCommand() != "-Ping") return;
    peer->Write(frame::EncodeTextFrame("0 half").substr(0, 6));
    peer->Close();
  });
  std::vector<char> payload;
  const ExchangeStatus status = exchange_.Exchange("-Ping", &payload, nullptr);
  script.Join();
  EXPECT_EQ(status.result, ExchangeResult::kNoReply);
  EXPECT_EQ(status.reason, ExchangeReason::kConnectionClosed);
  EXPECT_EQ(lost_calls_, 1);
  EXPECT_TRUE(lost_with_lock_held_);
  EXPECT_FALSE(connection_.IsConnected());
  EXPECT_EQ(connection_.GetServerName(), "Not Connected");
  EXPECT_TRUE(boxes_.texts.empty());
}

}  // namespace
}  // namespace orvanta
