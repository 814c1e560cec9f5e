// The frame reader and writer on their own, fed from scripted byte sources
// and sinks: partial reads, frames split at every byte, broken headers, the
// size bound, short sends; and the exchange lock's bounded wait.
#include "client/frame_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "client/frame_codec.h"
#include "client/message_exchange.h"
#include "fakes/broken_headers.h"

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using Kind = FrameFault::Kind;

std::string Header(int32_t version, uint32_t validation, int32_t size) {
  unsigned char bytes[frame::kHeaderSize];
  frame::EncodeHeader(frame::Header{version, validation, size}, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string Text(const std::vector<char>& payload) {
  return std::string(payload.begin(), payload.end());
}

// Serves `bytes` at most `chunk` bytes per batch. Once `available` bytes
// have been served it answers `stall` (a stop or a time-out) until more are
// made available; past the end it fails, as a closed connection does.
class ScriptedSource : public ByteSource {
 public:
  explicit ScriptedSource(std::string bytes, size_t chunk = 1 << 20)
      : bytes_(std::move(bytes)), chunk_(chunk), available_(bytes_.size()) {}

  ReadStatus ReadExact(char* buffer, int count, int* progress) override {
    ++calls_;
    int got = 0;
    while (got < count) {
      if (next_ >= bytes_.size()) return ReadStatus::kFailed;
      if (next_ >= available_) return stall_;
      const size_t n = std::min({chunk_, static_cast<size_t>(count - got), available_ - next_});
      std::copy_n(bytes_.data() + next_, n, buffer + got);
      next_ += n;
      got += static_cast<int>(n);
      *progress += static_cast<int>(n);
    }
    return ReadStatus::kOk;
  }

  void MakeAvailable(size_t count) { available_ = count; }
  void SetStall(ReadStatus stall) { stall_ = stall; }
  size_t consumed() const { return next_; }
  int calls() const { return calls_; }

 private:
  std::string bytes_;
  size_t chunk_;
  size_t available_;
  size_t next_ = 0;
  ReadStatus stall_ = ReadStatus::kTimedOut;
  int calls_ = 0;
};

TEST(FrameReaderTest, AFrameSplitAtEveryByteIsAssembledWhereTheLastReadLeftOff) {
  const std::string wire = frame::EncodeTextFrame("0 QuorvinSim");
  for (size_t split = 0; split <= wire.size(); ++split) {
    for (ReadStatus stall : {ReadStatus::kTimedOut, ReadStatus::kStopped}) {
      SCOPED_TRACE("split at " + std::to_string(split));
      ScriptedSource source(wire);
      source.SetStall(stall);
      source.MakeAvailable(split);
      FrameReader reader;
      std::vector<char> payload;
      if (split < wire.size()) {
        EXPECT_EQ(reader.Read(source, &payload), stall);
        EXPECT_EQ(reader.InFrame(), split > 0);
        EXPECT_TRUE(payload.empty());
        source.MakeAvailable(wire.size());
      }
      ASSERT_EQ(reader.Read(source, &payload), ReadStatus::kOk);
      EXPECT_EQ(Text(payload), std::string("0 QuorvinSim") + '\0');
      EXPECT_FALSE(reader.InFrame());
      EXPECT_EQ(source.consumed(), wire.size());
    }
  }
}

TEST(FrameReaderTest, ReadsOneByteAtATimeAndFramesBackToBack) {
  ScriptedSource source(frame::EncodeTextFrame("first") + frame::EncodeTextFrame("second"), 1);
  FrameReader reader;
  std::vector<char> payload;
  ASSERT_EQ(reader.Read(source, &payload), ReadStatus::kOk);
  EXPECT_EQ(frame::PayloadText(Text(payload)), "first");
  ASSERT_EQ(reader.Read(source, &payload), ReadStatus::kOk);
  EXPECT_EQ(frame::PayloadText(Text(payload)), "second");
  // Past the last frame the source fails: nothing is half-read.
  EXPECT_EQ(reader.Read(source, &payload), ReadStatus::kFailed);
  EXPECT_EQ(reader.fault().kind, Kind::kNone);
  EXPECT_FALSE(reader.InFrame());
}

TEST(FrameReaderTest, ANullPayloadDropsTheFrameAndResetForgetsAPartOfOne) {
  const std::string second = frame::EncodeTextFrame("kept");
  ScriptedSource source(frame::EncodeTextFrame("dropped") + Header(1, frame::kValidationCode, 9) +
                        second);
  FrameReader reader;
  ASSERT_EQ(reader.Read(source, nullptr), ReadStatus::kOk);
  // The header of a frame whose payload never comes, then a reset.
  source.MakeAvailable(source.consumed() + frame::kHeaderSize);
  EXPECT_EQ(reader.Read(source, nullptr), ReadStatus::kTimedOut);
  EXPECT_TRUE(reader.InFrame());
  reader.Reset();
  EXPECT_FALSE(reader.InFrame());
  source.MakeAvailable(1 << 20);
  std::vector<char> payload;
  ASSERT_EQ(reader.Read(source, &payload), ReadStatus::kOk);
  EXPECT_EQ(frame::PayloadText(Text(payload)), "kept");
}

class BadFrameTest : public ::testing::TestWithParam<testing::BrokenHeader> {};

TEST_P(BadFrameTest, FailsWithItsFaultTextAndSaysWhetherTheStepIsLost) {
  const testing::BrokenHeader& c = GetParam();
  // A good frame follows; the reader must not have touched it.
  const std::string wire = Header(c.version, c.validation, c.size) + frame::EncodeTextFrame("next");
  ScriptedSource source(wire, 3);
  FrameReader reader;
  std::vector<char> payload{'x'};
  EXPECT_EQ(reader.Read(source, &payload), ReadStatus::kFailed);
  EXPECT_EQ(reader.fault().kind, c.kind);
  EXPECT_EQ(reader.fault().outOfStep, c.outOfStep);
  EXPECT_EQ(reader.fault().ShownInBox(), c.inBox);
  EXPECT_EQ(reader.fault().Text(), c.text);
  EXPECT_EQ(Text(payload), "x");
  EXPECT_FALSE(reader.InFrame());
  // A bad version or validation code is seen before the size is read.
  EXPECT_EQ(source.consumed(), c.inBox ? 8u : 12u);
}

INSTANTIATE_TEST_SUITE_P(Frames, BadFrameTest, ::testing::ValuesIn(testing::BrokenHeaders()),
                         testing::BrokenHeaderName);

TEST(FrameReaderTest, APayloadSizeAtTheBoundIsNotRefused) {
  std::string wire = Header(1, frame::kValidationCode, FrameReader::kMaxPayloadSize);
  wire += std::string(100, 'a');
  ScriptedSource source(wire);
  source.MakeAvailable(wire.size());
  FrameReader reader;
  std::vector<char> payload;
  // The announced size is not refused; the read waits for the rest.
  EXPECT_EQ(reader.Read(source, &payload), ReadStatus::kFailed);
  EXPECT_EQ(reader.fault().kind, Kind::kNone);  // the source ran dry, not a fault
  EXPECT_EQ(source.consumed(), wire.size());
}

// Takes at most `chunk` bytes per send; fails or takes nothing at `failAt`.
class ScriptedSink : public ByteSink {
 public:
  explicit ScriptedSink(size_t chunk) : chunk_(chunk) {}
  long SendSome(const unsigned char* bytes, size_t count, int* error) override {
    if (sent_.size() >= failAt_) {
      if (zeroAtFail_) return 0;
      *error = 10054;  // WSAECONNRESET
      return -1;
    }
    const size_t n = std::min({chunk_, count, failAt_ - sent_.size()});
    sent_.append(reinterpret_cast<const char*>(bytes), n);
    return static_cast<long>(n);
  }
  std::string sent_;
  size_t chunk_;
  size_t failAt_ = static_cast<size_t>(-1);
  bool zeroAtFail_ = false;
};

TEST(FrameWriterTest, AShortSendIsFollowedByTheRestSoTheFrameGoesOutWhole) {
  const std::string command = "-GetApplicationName";
  for (size_t chunk : {1u, 5u, 12u, 13u, 1000u}) {
    ScriptedSink sink(chunk);
    const FrameWriter::Result r =
        FrameWriter::Write(sink, command.c_str(), static_cast<int>(command.size()) + 1);
    EXPECT_EQ(r.kind, FrameWriter::Result::Kind::kSent);
    EXPECT_EQ(sink.sent_, frame::EncodeTextFrame(command));
    EXPECT_EQ(r.sent, r.total);
    EXPECT_EQ(r.frameLength, 32);
  }
}

TEST(FrameWriterTest, ReportsAFailedSendAndASendThatTakesNothingWithTheirCounts) {
  ScriptedSink failing(4);
  failing.failAt_ = 8;
  FrameWriter::Result r = FrameWriter::Write(failing, "abc", 4);
  EXPECT_EQ(r.kind, FrameWriter::Result::Kind::kSendFailed);
  EXPECT_EQ(r.error, 10054);
  EXPECT_EQ(r.sent, 8u);

  ScriptedSink stuck(4);
  stuck.failAt_ = 12;
  stuck.zeroAtFail_ = true;
  r = FrameWriter::Write(stuck, "abc", 4);
  EXPECT_EQ(r.kind, FrameWriter::Result::Kind::kNothingSent);
  EXPECT_EQ(r.sent, 12u);
  EXPECT_EQ(r.total, 16u);
}

TEST(FrameWriterTest, ANegativeOrOversizedLengthBuildsNoFrameAndSendsNothing) {
  ScriptedSink sink(100);
  FrameWriter::Result r = FrameWriter::Write(sink, "x", -1);
  EXPECT_EQ(r.kind, FrameWriter::Result::Kind::kNoMemory);
  EXPECT_EQ(r.frameLength, 11);
  r = FrameWriter::Write(sink, "x", FrameReader::kMaxPayloadSize + 1);
  EXPECT_EQ(r.kind, FrameWriter::Result::Kind::kNoMemory);
  EXPECT_TRUE(sink.sent_.empty());
  // An empty payload is a bare header.
  r = FrameWriter::Write(sink, nullptr, 0);
  EXPECT_EQ(r.kind, FrameWriter::Result::Kind::kSent);
  EXPECT_EQ(sink.sent_, Header(1, frame::kValidationCode, 0));
}

TEST(ExchangeLockTest, ABoundedWaitGivesUpWhileHeldAndGetsTheLockOnceReleased) {
  ExchangeLock lock;
  lock.Lock();
  std::atomic<int> got{-1};
  std::thread waiter([&] {
    if (lock.TryLockFor(30ms)) {  // held: times out
      got.store(1);
      lock.Unlock();
    } else {
      got.store(0);
    }
  });
  waiter.join();
  EXPECT_EQ(got.load(), 0);

  std::thread second([&] {
    if (lock.TryLockFor(30s)) {  // released below, long before the bound
      got.store(1);
      lock.Unlock();
    } else {
      got.store(0);
    }
  });
  std::this_thread::sleep_for(20ms);
  lock.Unlock();
  second.join();
  EXPECT_EQ(got.load(), 1);
  if (lock.TryLockFor(0ms)) {
    lock.Unlock();
  } else {
    ADD_FAILURE() << "the free lock was not had at once";
  }
}

}  // namespace
}  // namespace orvanta
