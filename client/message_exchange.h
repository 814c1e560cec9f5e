// The command exchange on the message connection: one command frame out,
// one reply frame back, as one operation under the exchange lock, and the
// rule for replies that are owed.
//
// The owed-reply rule. The protocol has no request ids: a reply belongs to
// its command by order alone. Every command whose reply did not come (past
// the reply bound, or abandoned by a stop) leaves that reply owed, in a
// queue that names the command. Before the next command is sent, each owed
// reply is awaited (bounded by the reply bound), read whole and discarded
// with a notice; while one is still missing, nothing is sent and the
// exchange fails as kNotSent (kEarlierReplyOwed). Sending resumes, in step,
// as soon as the queue is empty. Frames that arrive although nothing is
// owed are read and discarded before each command too. After a broken
// reply header the connection is out of step: every later exchange fails
// without sending (logged) until the connection is made again (ResetLocked).
//
// Replies are read through a buffer of the exchange's own, so that a reply
// costs one wait and one receive in the usual case.
//
// Threads. Any thread may exchange; the exchange lock serialises them, and
// the connection's owner takes it for every change of the connection too.
// Message boxes about broken headers are queued while the lock is held and
// shown by Release(), after the lock is free, so that a box waiting for the
// window thread never keeps the window thread from the connection.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "client/client_log_file.h"
#include "client/frame_io.h"
#include "client/message_connection.h"
#include "platform/exchange_status.h"
#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/stop_signal.h"
#include "platform/thread_annotations.h"

namespace orvanta {

// A mutual-exclusion lock whose waits can be bounded. (Built on a mutex and
// a condition variable rather than std::timed_mutex, whose timed waits the
// thread sanitizer cannot follow.)
class CAPABILITY("mutex") ExchangeLock {
 public:
  ExchangeLock() = default;
  ExchangeLock(const ExchangeLock&) = delete;
  ExchangeLock& operator=(const ExchangeLock&) = delete;

  void Lock() ACQUIRE() EXCLUDES(mMutex);
  // False when the lock could not be had within `timeout`.
  template <class Rep, class Period>
  bool TryLockFor(std::chrono::duration<Rep, Period> timeout) TRY_ACQUIRE(true) EXCLUDES(mMutex) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock guard(&mMutex);
    while (mHeld) {
      if (!mReleased.WaitUntil(deadline)) break;
    }
    if (mHeld) return false;
    mHeld = true;
    return true;
  }
  void Unlock() RELEASE() EXCLUDES(mMutex);
  // Tells the analysis that the caller holds the lock (no run-time check).
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  Mutex mMutex;
  CondVar mReleased{&mMutex};
  bool mHeld GUARDED_BY(mMutex) = false;
};

class MessageExchange {
 public:
  using ExchangeStatus = orvanta::ExchangeStatus;

  static constexpr std::chrono::milliseconds kDefaultReplyTimeout{5000};

  // Nothing is owned; all must outlive the exchange. `connectionLost` is
  // called with the lock held when the server closed the connection or a
  // send failed: the owner shuts the connection down.
  MessageExchange(MessageConnection& connection, ClientLogFile& log, MessageBoxes& boxes,
                  std::function<void()> connectionLost);
  MessageExchange(const MessageExchange&) = delete;
  MessageExchange& operator=(const MessageExchange&) = delete;

  // Takes the exchange lock, waiting in short slices. Gives up (false) when
  // `stop` is requested, or, with `refuse`, while exchanges are refused.
  bool Acquire(const StopSignal* stop, bool refuse) TRY_ACQUIRE(true, mLock);
  // Takes the lock for a shutdown: a running exchange is given 2 s to
  // finish, then the socket is shut down so that it ends.
  void AcquireForShutdown() ACQUIRE(mLock);
  // Releases the lock, then shows the message boxes queued meanwhile.
  void Release() RELEASE(mLock);
  // Tells the analysis that the caller holds the lock (no run-time check).
  void AssertHeld() ASSERT_CAPABILITY(mLock) {}
  // The lock itself, for REQUIRES annotations of code that works under it.
  ExchangeLock& lock() RETURN_CAPABILITY(mLock) { return mLock; }

  // Holds the lock (already acquired by the caller) for a scope.
  class SCOPED_CAPABILITY Guard {
   public:
    explicit Guard(MessageExchange& exchange) REQUIRES(exchange.mLock) : mExchange(exchange) {}
    ~Guard() RELEASE() { mExchange.Release(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    MessageExchange& mExchange;
  };

  // While above 0 (a shutdown or a stream tear-down runs), new exchanges are
  // refused, so that a stream callback waiting to exchange cannot hold up the
  // receive thread that is being joined.
  void BeginRefusing() { ++mRefuseExchanges; }
  void EndRefusing() { --mRefuseExchanges; }

  // The locked operations of NetworkNodeClient (see its header).
  ExchangeStatus Exchange(const std::string& command, std::vector<char>* payload,
                          const StopSignal* stop) EXCLUDES(mLock);
  bool SendCommand(const std::string& command) EXCLUDES(mLock);
  bool SendMessage(const char* bytes, int length) EXCLUDES(mLock);
  bool RecieveMessage(std::vector<char>& buffer, int& size) EXCLUDES(mLock);
  bool GetBuffer(char* buffer, int count) EXCLUDES(mLock);

  // One exchange with the lock held; records the status (LastStatusLocked).
  ExchangeStatus ExchangeLocked(const std::string& command, std::vector<char>* payload,
                                const StopSignal* stop) REQUIRES(mLock);
  // The reply's text, "-1" when there was none.
  std::string ExchangeReplyLocked(const std::string& command, const StopSignal* stop = nullptr)
      REQUIRES(mLock);
  ExchangeStatus LastStatusLocked() const REQUIRES(mLock) { return mLastStatus; }
  void SetLastStatusLocked(const ExchangeStatus& status) REQUIRES(mLock) { mLastStatus = status; }

  // Forgets a reply read part-way, the owed replies, buffered bytes and a
  // lost step: for a new or a closed connection.
  void ResetLocked() REQUIRES(mLock);

  bool IsReplyOwed() const { return mOwedCount.load() > 0; }
  // How many replies are owed (read anywhere).
  int OwedReplies() const { return mOwedCount.load(); }
  bool IsInStep() const { return !mFramingLost.load(); }

  // The reply bound; 0 waits for ever (owed replies are then awaited for
  // kDefaultReplyTimeout).
  void SetReplyTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds GetReplyTimeout() const;

 private:
  class SocketSource;
  class SocketSink;
  struct Wait {
    const StopSignal* stop = nullptr;
    bool hasDeadline = false;
    std::chrono::steady_clock::time_point deadline;
  };

  void Log(int level, const std::string& text) { mLog.WriteLogEntry(level, text); }
  ExchangeStatus ExchangeStepLocked(const std::string& command, std::vector<char>* payload,
                                    const StopSignal* stop) REQUIRES(mLock);
  // Awaits, reads and drops each owed reply in turn. Replied() once none is
  // owed; otherwise the failure of the command about to be sent (kNotSent,
  // or kStopped).
  ExchangeStatus DrainOwedLocked(const std::string& command, const StopSignal* stop)
      REQUIRES(mLock);
  // Reads and discards whole frames waiting on the connection before a
  // command is sent. False when the connection broke meanwhile.
  bool DiscardUnsolicitedLocked(const std::string& command) REQUIRES(mLock);
  // Leaves the reply to `command` owed.
  void OweReplyLocked(const std::string& command) REQUIRES(mLock);
  // One receive of at most `room` bytes into `into` within `wait`; *got is
  // the count (above 0 when kOk).
  ReadStatus ReceiveSomeLocked(char* into, size_t room, const Wait& wait, long* got)
      REQUIRES(mLock);
  // The failure status of a receive that returned kFailed.
  ExchangeStatus ReceiveFailureLocked() REQUIRES(mLock);
  bool SendCommandLocked(const std::string& command) REQUIRES(mLock);
  bool SendMessageLocked(const char* bytes, int length) REQUIRES(mLock);
  ReadStatus ReceiveFrameLocked(std::vector<char>* payload, const Wait& wait) REQUIRES(mLock);
  ReadStatus GetBufferLocked(char* buffer, int count, int* progress, const Wait& wait)
      REQUIRES(mLock);
  // Hands a connection found closed to the owner.
  void HandleConnectionLostLocked() REQUIRES(mLock);

  MessageConnection& mConnection;
  ClientLogFile& mLog;
  MessageBoxes& mBoxes;
  const std::function<void()> mConnectionLostHandler;

  // Held across every exchange and every change of the connection. Waits for
  // it are made in slices (see Acquire).
  ExchangeLock mLock;
  std::atomic<int> mRefuseExchanges{0};

  FrameReader mReader GUARDED_BY(mLock);
  // Bytes received but not yet handed to the reader: [mInputBegin, mInputEnd).
  std::vector<char> mInput GUARDED_BY(mLock);
  size_t mInputBegin GUARDED_BY(mLock) = 0;
  size_t mInputEnd GUARDED_BY(mLock) = 0;
  // The commands whose replies are owed, oldest first; mOwedCount mirrors
  // its size for readers outside the lock.
  std::deque<std::string> mOwedReplies GUARDED_BY(mLock);
  std::atomic<int> mOwedCount{0};
  bool mConnectionLost GUARDED_BY(mLock) = false;
  // A reply header failed its checks: the rest of that frame is still on the
  // connection and the next frame's start is unknown, so later exchanges are
  // refused (not sent) until the connection is made again.
  // Written under the exchange lock; read anywhere (IsInStep).
  std::atomic<bool> mFramingLost{false};
  std::atomic<long long> mReplyTimeoutMs{kDefaultReplyTimeout.count()};
  std::vector<std::string> mPendingBoxes GUARDED_BY(mLock);
  // What became of the last exchange made under the lock.
  ExchangeStatus mLastStatus GUARDED_BY(mLock);
};

}  // namespace orvanta
