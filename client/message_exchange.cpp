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
  mReplyOwed.store(false);
  mConnectionLost = false;
  mFramingLost = false;
}

void MessageExchange::HandleConnectionLostLocked() {
  if (!mConnectionLost) return;
  mConnectionLost = false;
  mConnectionLostHandler();
}

void MessageExchange::SetOwedReplyTimeout(std::chrono::milliseconds timeout) {
  mOwedReplyTimeoutMs.store(std::max<long long>(0, timeout.count()));
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
  const net::SocketHandle socket = mConnection.Socket();
  const bool sliced = wait.stop != nullptr || wait.hasDeadline;
  int got = 0;
  while (got < count) {
    if (sliced) {
      for (;;) {
        if (wait.stop != nullptr && wait.stop->IsRequested()) return ReadStatus::kStopped;
        int slice = kReplyPollMs;
        if (wait.hasDeadline) {
          const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
              wait.deadline - std::chrono::steady_clock::now());
          if (left.count() <= 0) return ReadStatus::kTimedOut;
          slice = static_cast<int>(std::min<long long>(left.count(), slice));
        }
        int error = 0;
        const net::WaitResult r = net::WaitReadable(socket, slice, &error);
        if (r == net::WaitResult::kReady) break;
        if (r == net::WaitResult::kError) {
          LogSocketError(mLog, net::SocketCall::kRecieve, error);
          return ReadStatus::kFailed;
        }
      }
    }
    int error = 0;
    const long n = net::RecvSome(socket, buffer + got, static_cast<size_t>(count - got), &error);
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
    got += static_cast<int>(n);
    *progress += static_cast<int>(n);
  }
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
  // close or reset by the server has shut it down (or left it dead).
  if (mFramingLost)
    return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kBrokenReply);
  return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kConnectionClosed);
}

bool MessageExchange::DiscardUnsolicitedLocked(const std::string& command) {
  const net::SocketHandle socket = mConnection.Socket();
  for (;;) {
    int error = 0;
    if (net::WaitReadable(socket, 0, &error) != net::WaitResult::kReady) return true;
    // Something is waiting although no reply is owed: a frame nobody asked
    // for, or a close. It is read whole (bounded) and dropped.
    Wait wait;
    wait.hasDeadline = true;
    wait.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    std::vector<char> extra;
    const ReadStatus s = ReceiveFrameLocked(&extra, wait);
    if (s == ReadStatus::kOk) {
      std::string text = frame::PayloadText(std::string_view(extra.data(), extra.size()));
      if (text.size() > 200) text = text.substr(0, 200) + "...";
      Log(client_log::kWarning,
          Format("NetworkNodeClient::SendCommand() - Warning, a message that no command asked for "
                 "has been discarded before the next command.  message: %s, command: %s",
                 text.c_str(), command.c_str()));
      continue;
    }
    if (s == ReadStatus::kTimedOut) {
      // Part of a frame and then silence: where the next frame begins is
      // unknown.
      mFramingLost = true;
      mReader.Reset();
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

  if (mReplyOwed.load()) {
    // A reply abandoned by an earlier stop comes first; it is read and
    // dropped, so that it is not taken as the answer to this command.
    Wait wait;
    wait.stop = stop;
    wait.hasDeadline = true;
    wait.deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(mOwedReplyTimeoutMs.load());
    std::vector<char> late;
    const ReadStatus s = ReceiveFrameLocked(&late, wait);
    if (s == ReadStatus::kStopped)
      return ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped);
    if (s == ReadStatus::kTimedOut) {
      Log(client_log::kError,
          Format("NetworkNodeClient::SendCommand() - Error, the reply to an abandoned command has "
                 "not arrived within %lli ms, the command was not sent.  command: %s",
                 static_cast<long long>(mOwedReplyTimeoutMs.load()), command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kNotSent, ExchangeReason::kNoReplyInTime,
                                    mOwedReplyTimeoutMs.load());
    }
    mReplyOwed.store(false);
    if (s == ReadStatus::kOk) {
      Log(client_log::kNotice,
          Format("NetworkNodeClient::SendCommand() - Notice, the late reply to an abandoned "
                 "command has been discarded.  reply: %s",
                 frame::PayloadText(std::string_view(late.data(), late.size())).c_str()));
    }
    if (s != ReadStatus::kOk) {
      const ExchangeStatus failure = ReceiveFailureLocked();
      return ExchangeStatus::Failed(ExchangeResult::kNotSent, failure.reason);
    }
    if (!mConnection.IsConnected()) return NotConnected();
  } else if (!DiscardUnsolicitedLocked(command)) {
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
      mReplyOwed.store(true);
      Log(client_log::kNotice,
          Format("NetworkNodeClient::SendCommand() - Notice, stopped while waiting for the reply, "
                 "the reply will be discarded when it arrives.  command: %s",
                 command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped);
    case ReadStatus::kTimedOut:
      // Not owed: the bound has been waited out. A reply that still comes
      // is discarded as unsolicited before the next command; a frame caught
      // half-way is finished first.
      if (mReader.InFrame()) mReplyOwed.store(true);
      Log(client_log::kError,
          Format("NetworkNodeClient::SendCommand() - Error, no reply within %lli ms, the reply "
                 "will be discarded if it arrives later.  command: %s",
                 bound, command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kNoReplyInTime,
                                    bound);
    default:
      return ReceiveFailureLocked();
  }
}

}  // namespace orvanta
