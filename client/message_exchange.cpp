#include "client/message_exchange.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "client/frame_codec.h"
#include "client/socket_errors.h"
#include "platform/text_format.h"

namespace orvanta {
namespace {

using text_format::Format;

// Slice of the waits for the exchange lock and for a reply, after which a
// stop request or a shutdown is looked at again.
constexpr auto kLockSlice = std::chrono::milliseconds(20);
constexpr int kReplyPollMs = 20;
// How long a shutdown from another thread waits for a running exchange
// before it cuts the connection so that the exchange ends.
constexpr auto kShutdownLockWait = std::chrono::milliseconds(2000);
// The receive buffer: a reply of the usual size arrives in one receive.
constexpr size_t kInputSize = 64 * 1024;
// How long a frame that arrived unasked may take to arrive whole.
constexpr auto kUnsolicitedFrameWait = std::chrono::milliseconds(1000);

std::string Shortened(std::string text) {
  if (text.size() > 200) text = text.substr(0, 200) + "...";
  return text;
}

ExchangeStatus NotConnected() {
  return ExchangeStatus::Failed(ExchangeResult::kNotSent, ExchangeReason::kNotConnected);
}

}  // namespace

// ---------------------------------------------------------------------------
// The lock

void ExchangeLock::Lock() {
  MutexLock guard(&mMutex);
  while (mHeld) mReleased.Wait();
  mHeld = true;
}

void ExchangeLock::Unlock() {
  {
    MutexLock guard(&mMutex);
    mHeld = false;
  }
  mReleased.Signal();
}

// The connection's socket as a FrameReader's source, within the bounds of
// one wait.
class MessageExchange::SocketSource : public ByteSource {
 public:
  SocketSource(MessageExchange& exchange, const Wait& wait) : mExchange(exchange), mWait(wait) {}
  ReadStatus ReadExact(char* buffer, int count, int* progress) override {
    mExchange.mLock.AssertHeld();  // a source lives inside ReceiveFrameLocked only
    return mExchange.GetBufferLocked(buffer, count, progress, mWait);
  }

 private:
  MessageExchange& mExchange;
  const Wait& mWait;
};

// The connection's socket as a FrameWriter's sink.
class MessageExchange::SocketSink : public ByteSink {
 public:
  explicit SocketSink(net::SocketHandle socket) : mSocket(socket) {}
  long SendSome(const unsigned char* bytes, size_t count, int* error) override {
    return net::SendSome(mSocket, bytes, count, error);
  }

 private:
  const net::SocketHandle mSocket;
};

MessageExchange::MessageExchange(MessageConnection& connection, ClientLogFile& log,
                                 MessageBoxes& boxes, std::function<void()> connectionLost)
    : mConnection(connection),
      mLog(log),
      mBoxes(boxes),
      mConnectionLostHandler(std::move(connectionLost)) {}

bool MessageExchange::Acquire(const StopSignal* stop, bool refuse) {
  for (;;) {
    if (refuse && mRefuseExchanges.load() > 0) return false;
    if (stop != nullptr && stop->IsRequested()) return false;
    if (mLock.TryLockFor(kLockSlice)) {
      if (refuse && mRefuseExchanges.load() > 0) {
        mLock.Unlock();
        return false;
      }
      return true;
    }
  }
}

void MessageExchange::AcquireForShutdown() {
  // Let a running exchange finish; one that does not is cut off.
  if (mLock.TryLockFor(kShutdownLockWait)) return;
  net::ShutdownSocket(mConnection.Socket());
  mLock.Lock();
}

void MessageExchange::Release() {
  std::vector<std::string> boxes;
  boxes.swap(mPendingBoxes);
  mLock.Unlock();
  for (const std::string& text : boxes) mBoxes.Show(text);
}

void MessageExchange::ResetLocked() {
  mReader.Reset();
  mInputBegin = mInputEnd = 0;
  mOwedReplies.clear();
  mOwedCount.store(0);
  mConnectionLost = false;
  mFramingLost = false;
}

void MessageExchange::HandleConnectionLostLocked() {
  if (!mConnectionLost) return;
  mConnectionLost = false;
  mConnectionLostHandler();
}

void MessageExchange::SetReplyTimeout(std::chrono::milliseconds timeout) {
  mReplyTimeoutMs.store(std::max<long long>(0, timeout.count()));
}

std::chrono::milliseconds MessageExchange::GetReplyTimeout() const {
  return std::chrono::milliseconds(mReplyTimeoutMs.load());
}

// ---------------------------------------------------------------------------
// Sending

bool MessageExchange::SendCommand(const std::string& command) {
  if (!mConnection.IsConnected()) return false;
  if (!Acquire(nullptr, true)) return false;
  Guard guard(*this);
  return SendCommandLocked(command);
}

bool MessageExchange::SendMessage(const char* bytes, int length) {
  if (!mConnection.IsConnected()) return false;
  if (!Acquire(nullptr, true)) return false;
  Guard guard(*this);
  return SendMessageLocked(bytes, length);
}

bool MessageExchange::SendCommandLocked(const std::string& command) {
  if (!mConnection.IsConnected()) return false;
  // The text and its terminating NUL.
  return SendMessageLocked(command.c_str(), static_cast<int>(command.size()) + 1);
}

bool MessageExchange::SendMessageLocked(const char* bytes, int length) {
  if (!mConnection.IsConnected()) return false;
  SocketSink sink(mConnection.Socket());
  const FrameWriter::Result result = FrameWriter::Write(sink, bytes, length);
  switch (result.kind) {
    case FrameWriter::Result::Kind::kSent:
      return true;
    case FrameWriter::Result::Kind::kNoMemory:
      Log(client_log::kError,
          Format("NetworkNodeClient::SendMessage() - Error allocating memory to passed message to "
                 "server, pointer returned a NULL value.  bufferLength: %i",
                 static_cast<int>(result.frameLength)));
      return false;
    case FrameWriter::Result::Kind::kSendFailed: {
      LogSocketError(mLog, net::SocketCall::kSend, result.error);
      const std::string text =
          bytes == nullptr ? std::string()
                           : std::string(bytes, strnlen(bytes, static_cast<size_t>(length)));
      Log(client_log::kError,
          Format("NetworkNodeClient::SendMessage() - Unable to send data, call to send() failed, "
                 "we must have lost our socket.  message: %s",
                 text.c_str()));
      mConnectionLostHandler();
      return false;
    }
    case FrameWriter::Result::Kind::kNothingSent:
      Log(client_log::kError,
          Format("NetworkNodeClient::SendMessage() - The Number of bytes to send does not match "
                 "the number of bytes sent, bytes sent: %i, bytes to send: %i",
                 static_cast<int>(result.sent), static_cast<int>(result.total)));
      return false;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Receiving

bool MessageExchange::GetBuffer(char* buffer, int count) {
  if (!mConnection.IsConnected()) return false;
  if (!Acquire(nullptr, true)) return false;
  Guard guard(*this);
  int progress = 0;
  const ReadStatus status = GetBufferLocked(buffer, count, &progress, Wait{});
  HandleConnectionLostLocked();
  return status == ReadStatus::kOk;
}

ReadStatus MessageExchange::GetBufferLocked(char* buffer, int count, int* progress,
                                            const Wait& wait) {
  const size_t want = static_cast<size_t>(count);
  size_t got = 0;
  while (got < want) {
    if (mInputBegin < mInputEnd) {
      const size_t take = std::min(want - got, mInputEnd - mInputBegin);
      std::memcpy(buffer + got, mInput.data() + mInputBegin, take);
      mInputBegin += take;
      got += take;
      *progress += static_cast<int>(take);
      continue;
    }
    // A large remainder goes straight to its place; a small one is read
    // into the buffer together with whatever follows it.
    const bool direct = want - got >= kInputSize;
    if (!direct && mInput.size() < kInputSize) mInput.resize(kInputSize);
    char* into = direct ? buffer + got : mInput.data();
    long n = 0;
    const ReadStatus s = ReceiveSomeLocked(into, direct ? want - got : kInputSize, wait, &n);
    if (s != ReadStatus::kOk) return s;
    if (direct) {
      got += static_cast<size_t>(n);
      *progress += static_cast<int>(n);
    } else {
      mInputBegin = 0;
      mInputEnd = static_cast<size_t>(n);
    }
  }
  return ReadStatus::kOk;
}

ReadStatus MessageExchange::ReceiveSomeLocked(char* into, size_t room, const Wait& wait,
                                              long* got) {
  const net::SocketHandle socket = mConnection.Socket();
  const bool sliced = wait.stop != nullptr || wait.hasDeadline;
  int error = 0;
  long n = 0;
  if (!sliced) {
    n = net::RecvSome(socket, into, room, &error);
  } else {
    // One wait serves the bound and the stop request: the socket is waited
    // on in short slices, between which the stop request is looked at. A
    // deadline already passed still gets one look at the socket.
    for (;;) {
      if (wait.stop != nullptr && wait.stop->IsRequested()) return ReadStatus::kStopped;
      int slice = kReplyPollMs;
      bool last = false;
      if (wait.hasDeadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            wait.deadline - std::chrono::steady_clock::now());
        if (left.count() <= slice) {
          slice = static_cast<int>(std::max<long long>(0, left.count()));
          last = true;
        }
      }
      const net::WaitResult r = net::WaitReadable(socket, slice, &error);
      if (r == net::WaitResult::kError) {
        LogSocketError(mLog, net::SocketCall::kRecieve, error);
        return ReadStatus::kFailed;
      }
      if (r == net::WaitResult::kReady) {
        n = net::RecvReady(socket, into, room, &error);
        if (n != net::kRecvWouldBlock) break;
      }
      if (last && std::chrono::steady_clock::now() >= wait.deadline) return ReadStatus::kTimedOut;
    }
  }
  if (n == 0) {
    Log(client_log::kNotice,
        "NetworkNodeClient::GetBuffer() - Attempting to recieve data has failed, socket has "
        "been closed gracefully");
    mConnectionLost = true;
    return ReadStatus::kFailed;
  }
  if (n < 0) {
    LogSocketError(mLog, net::SocketCall::kRecieve, error);
    return ReadStatus::kFailed;
  }
  *got = n;
  return ReadStatus::kOk;
}

ReadStatus MessageExchange::ReceiveFrameLocked(std::vector<char>* payload, const Wait& wait) {
  SocketSource source(*this, wait);
  const ReadStatus status = mReader.Read(source, payload);
  if (status != ReadStatus::kFailed) return status;
  const FrameFault& fault = mReader.fault();
  if (fault.outOfStep) mFramingLost = true;
  if (fault.kind != FrameFault::Kind::kNone) {
    if (fault.ShownInBox()) {
      mPendingBoxes.push_back(fault.Text());
    } else {
      Log(client_log::kError, fault.Text());
    }
  }
  HandleConnectionLostLocked();
  return status;
}

bool MessageExchange::RecieveMessage(std::vector<char>& buffer, int& size) {
  if (!mConnection.IsConnected()) return false;
  if (!Acquire(nullptr, true)) return false;
  Guard guard(*this);
  if (!mConnection.IsConnected()) return false;
  std::vector<char> payload;
  if (ReceiveFrameLocked(&payload, Wait{}) != ReadStatus::kOk) return false;
  buffer.swap(payload);
  size = static_cast<int>(buffer.size());
  return true;
}

// ---------------------------------------------------------------------------
// The exchange

ExchangeStatus MessageExchange::Exchange(const std::string& command, std::vector<char>* payload,
                                         const StopSignal* stop) {
  if (!mConnection.IsConnected()) return NotConnected();
  if (!Acquire(stop, true)) {
    return stop != nullptr && stop->IsRequested()
               ? ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped)
               : NotConnected();
  }
  Guard guard(*this);
  return ExchangeLocked(command, payload, stop);
}

ExchangeStatus MessageExchange::ReceiveFailureLocked() {
  // A header that failed its checks leaves the connection out of step; a
  // frame refused whole (an empty payload) leaves it in step; a close or
  // reset by the server has shut it down (or left it dead).
  if (mFramingLost)
    return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kBrokenReply);
  if (mReader.fault().kind != FrameFault::Kind::kNone && mConnection.IsConnected())
    return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kBrokenReplyInStep);
  return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kConnectionClosed);
}

void MessageExchange::OweReplyLocked(const std::string& command) {
  mOwedReplies.push_back(command);
  mOwedCount.store(static_cast<int>(mOwedReplies.size()));
}

ExchangeStatus MessageExchange::DrainOwedLocked(const std::string& command,
                                                const StopSignal* stop) {
  while (!mOwedReplies.empty()) {
    long long bound = mReplyTimeoutMs.load();
    if (bound <= 0) bound = kDefaultReplyTimeout.count();
    Wait wait;
    wait.stop = stop;
    wait.hasDeadline = true;
    wait.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound);
    std::vector<char> late;
    const ReadStatus s = ReceiveFrameLocked(&late, wait);
    if (s == ReadStatus::kStopped)
      return ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped);
    const std::string& owed = mOwedReplies.front();
    if (s == ReadStatus::kTimedOut) {
      Log(client_log::kError,
          Format("NetworkNodeClient::SendCommand() - Error, the server has not answered an "
                 "earlier command within %lli ms, the command was not sent.  earlier command: "
                 "%s, command: %s",
                 bound, owed.c_str(), command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kNotSent, ExchangeReason::kEarlierReplyOwed,
                                    bound);
    }
    const ExchangeStatus failure =
        s == ReadStatus::kOk ? ExchangeStatus::Replied() : ReceiveFailureLocked();
    if (!failure.IsReplied() && failure.reason != ExchangeReason::kBrokenReplyInStep) {
      return ExchangeStatus::Failed(ExchangeResult::kNotSent, failure.reason);
    }
    // The owed reply has come (a refused frame counts: it was that reply,
    // and the connection is still in step).
    Log(client_log::kNotice,
        Format("NetworkNodeClient::SendCommand() - Notice, the late reply to an earlier command "
               "has been discarded.  command: %s, reply: %s",
               owed.c_str(),
               Shortened(frame::PayloadText(std::string_view(late.data(), late.size()))).c_str()));
    mOwedReplies.pop_front();
    mOwedCount.store(static_cast<int>(mOwedReplies.size()));
    if (!mConnection.IsConnected()) return NotConnected();
  }
  return ExchangeStatus::Replied();
}

bool MessageExchange::DiscardUnsolicitedLocked(const std::string& command) {
  for (;;) {
    // The cheapest look: bytes already buffered, or one wait that does not
    // wait. Nothing there is the usual case.
    std::vector<char> extra;
    if (mInputBegin == mInputEnd && !mReader.InFrame()) {
      int error = 0;
      if (net::WaitReadable(mConnection.Socket(), 0, &error) != net::WaitResult::kReady)
        return true;
    }
    // Something is waiting although no reply is owed: a frame nobody asked
    // for, or a close. It is read whole (bounded) and dropped.
    Wait wait;
    wait.hasDeadline = true;
    wait.deadline = std::chrono::steady_clock::now() + kUnsolicitedFrameWait;
    const ReadStatus s = ReceiveFrameLocked(&extra, wait);
    if (s == ReadStatus::kOk) {
      const std::string text =
          Shortened(frame::PayloadText(std::string_view(extra.data(), extra.size())));
      Log(client_log::kWarning,
          Format("NetworkNodeClient::SendCommand() - Warning, a message that no command asked for "
                 "has been discarded before the next command.  message: %s, command: %s",
                 text.c_str(), command.c_str()));
      continue;
    }
    if (s == ReadStatus::kFailed &&
        ReceiveFailureLocked().reason == ExchangeReason::kBrokenReplyInStep) {
      continue;  // a refused frame, logged; the next one starts where it should
    }
    if (s == ReadStatus::kTimedOut) {
      // Part of a frame and then silence: where the next frame begins is
      // unknown.
      mFramingLost = true;
      mReader.Reset();
      mInputBegin = mInputEnd = 0;
    }
    return false;
  }
}

ExchangeStatus MessageExchange::ExchangeLocked(const std::string& command,
                                               std::vector<char>* payload, const StopSignal* stop) {
  mLastStatus = ExchangeStepLocked(command, payload, stop);
  return mLastStatus;
}

std::string MessageExchange::ExchangeReplyLocked(const std::string& command,
                                                 const StopSignal* stop) {
  std::vector<char> payload;
  if (ExchangeLocked(command, &payload, stop) != ExchangeStatus::kReplied) return "-1";
  return frame::PayloadText(std::string_view(payload.data(), payload.size()));
}

ExchangeStatus MessageExchange::ExchangeStepLocked(const std::string& command,
                                                   std::vector<char>* payload,
                                                   const StopSignal* stop) {
  if (!mConnection.IsConnected()) return NotConnected();

  if (mFramingLost) {
    // Whatever would be read now could be part of an earlier reply and be
    // taken as the answer to this command.
    Log(client_log::kError,
        Format("NetworkNodeClient::SendCommand() - Error, a broken reply header has left the "
               "connection out of step, the command was not sent; reconnect to the server.  "
               "command: %s",
               command.c_str()));
    return NotConnected();
  }

  // Replies owed by earlier commands come first: each is read and dropped,
  // so that none is taken as the answer to this command.
  if (!mOwedReplies.empty()) {
    const ExchangeStatus drained = DrainOwedLocked(command, stop);
    if (!drained.IsReplied()) return drained;
  }
  if (!DiscardUnsolicitedLocked(command)) {
    const ExchangeStatus failure = ReceiveFailureLocked();
    return ExchangeStatus::Failed(ExchangeResult::kNotSent, failure.reason);
  }
  if (!mConnection.IsConnected()) return NotConnected();

  if (!SendCommandLocked(command)) {
    return ExchangeStatus::Failed(ExchangeResult::kNotSent, ExchangeReason::kSendFailed);
  }

  const long long bound = mReplyTimeoutMs.load();
  Wait wait;
  wait.stop = stop;
  if (bound > 0) {
    wait.hasDeadline = true;
    wait.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound);
  }
  const ReadStatus s = ReceiveFrameLocked(payload, wait);
  switch (s) {
    case ReadStatus::kOk:
      return ExchangeStatus::Replied();
    case ReadStatus::kStopped:
      OweReplyLocked(command);
      Log(client_log::kNotice,
          Format("NetworkNodeClient::SendCommand() - Notice, stopped while waiting for the reply, "
                 "the reply will be discarded when it arrives.  command: %s",
                 command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped);
    case ReadStatus::kTimedOut:
      // The reply is owed: it is awaited and dropped before the next
      // command, which is not sent while it is missing.
      OweReplyLocked(command);
      Log(client_log::kError,
          Format("NetworkNodeClient::SendCommand() - Error, no reply within %lli ms, the reply "
                 "will be discarded when it arrives.  command: %s",
                 bound, command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kNoReplyInTime,
                                    bound);
    default:
      return ReceiveFailureLocked();
  }
}

}  // namespace orvanta
