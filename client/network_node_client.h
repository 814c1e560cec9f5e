// The client end of the message connection to the acquisition server: one
// TCP connection carrying framed text commands, each answered by one reply
// frame (client/frame_codec.h). It owns the client log, the server's object
// lists and the six data stream endpoints.
//
// Threads. The window thread (connect, disconnect, connection checks) and the
// trial thread (commands during a run) use one object at the same time. The
// exchange lock makes every command and its reply one atomic exchange, so
// frames never interleave and no thread takes another's reply; Exchange() is
// that operation. The single-step operations of the protocol (SendCommand,
// RecieveReply, ...) take the lock for their own step only; callers that
// pair them themselves must not share the connection with another thread.
//
// Waiting. A reply is awaited at most the reply time-out (5 s unless set
// otherwise; 0 waits without limit), and an exchange given a StopSignal gives
// up promptly once a stop is requested. A reply abandoned by a stop is read
// and discarded before the next command is sent; if it has not arrived within
// the owed-reply time-out (5 s unless set otherwise), that next exchange
// fails without sending anything (the connection check fails too, so the
// window offers to replace the connection). Frames
// that arrive unasked (a reply later than its bound among them) are discarded
// before each command, so a late reply is not taken as the answer to a later
// command.
//
// Message boxes about broken frame headers are shown after the exchange lock
// has been released, so a box waiting for the window thread never keeps the
// window thread from the connection. After a broken header the connection
// stays up but is out of step: every later exchange fails without sending
// (logged) until the client connects again.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "client/client_log_file.h"
#include "client/node_connection_client.h"
#include "client/socket_errors.h"
#include "client/socket_layer.h"
#include "platform/clock.h"
#include "platform/exchange_status.h"
#include "platform/message_box.h"
#include "platform/stop_signal.h"
#include "platform/thread_annotations.h"

namespace orvanta {

// A mutual-exclusion lock whose waits can be bounded. (Built on a mutex and a
// condition variable rather than std::timed_mutex, whose timed waits the
// thread sanitizer cannot follow.)
class ExchangeLock {
 public:
  ExchangeLock() = default;
  ExchangeLock(const ExchangeLock&) = delete;
  ExchangeLock& operator=(const ExchangeLock&) = delete;

  void lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    released_.wait(guard, [this] { return !held_; });
    held_ = true;
  }
  template <class Rep, class Period>
  bool try_lock_for(std::chrono::duration<Rep, Period> timeout) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!released_.wait_for(guard, timeout, [this] { return !held_; })) return false;
    held_ = true;
    return true;
  }
  void unlock() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      held_ = false;
    }
    released_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ GUARDED_BY(mutex_) = false;
};

class NetworkNodeClient {
 public:
  // The largest reply payload accepted; a larger announced size fails the
  // receive with the allocation error.
  static constexpr int kMaxPayloadSize = 64 * 1024 * 1024;
  static constexpr std::chrono::milliseconds kDefaultOwedReplyTimeout{5000};

  // How long an exchange waits for its reply unless set otherwise; 0 waits
  // without limit.
  static constexpr std::chrono::milliseconds kDefaultReplyTimeout{5000};

  // What became of an exchange (platform/exchange_status.h).
  using ExchangeStatus = orvanta::ExchangeStatus;

  // The seams are not owned and must outlive the client.
  NetworkNodeClient(const Clock& clock, MessageBoxes& boxes);
  NetworkNodeClient(const NetworkNodeClient&) = delete;
  NetworkNodeClient& operator=(const NetworkNodeClient&) = delete;
  // Shuts the connection down, then closes the client log.
  virtual ~NetworkNodeClient();

  int SocketStartup();

  // Connects to serverName:portNumber and asks for the server's name. The
  // TCP connect and the name request are bounded by the reply time-out; a
  // request of `cancel` (may be null) ends either at once, and the attempt
  // fails without leaving a connection.
  bool InitializeClient(const std::string& serverName, int portNumber,
                        const StopSignal* cancel = nullptr);

  // Shuts the connection down: closes the listed objects' streams while the
  // connection is up, closes the six streams and the socket. Takes effect
  // once: a call made while another shutdown runs (on this or another
  // thread) returns false. A shutdown from another thread first waits for a
  // running exchange; after 2 s it cuts the connection so that exchange ends.
  bool ShutdownClient();

  // The command exchange: sends `command` (text + NUL) as one frame and
  // receives one reply frame, as one locked operation. `payload` (may be
  // null) receives the reply's payload on kReplied. `stop` may be null.
  //
  // Before the command goes out, whole frames that no command asked for
  // (already waiting on the connection) are read and discarded with a
  // WARNING, so each reply stays paired with its command. The reply is
  // awaited at most the reply time-out; a reply that comes later is drained
  // and discarded the same way. The status says why an exchange failed: not
  // connected, send failed, no reply within N ms, broken reply (the
  // connection is then out of step) or connection closed (the connection is
  // shut down).
  ExchangeStatus Exchange(const std::string& command, std::vector<char>* payload,
                          const StopSignal* stop);
  // The same, with the reply read as text up to its first NUL; `reply` is
  // written only when true is returned.
  bool ExchangeText(const std::string& command, std::string& reply, const StopSignal* stop);

  // Single steps of the protocol (see the class comment on threads).
  bool SendCommand(const std::string& command);
  bool SendMessage(const char* bytes, int length);
  bool RecieveReply(std::string& reply);
  bool RecieveMessage(std::vector<char>& buffer, int& size);
  bool GetBuffer(char* buffer, int count);

  std::string GetLocalIPAddress();
  bool SetLogFileName(const std::string& fileName);
  // Why the last SetLogFileName failed (kind kNone after a successful one).
  OutputFileFailure GetLogOpenFailure() const { return mLogFile.GetLastOpenFailure(); }

  void ProcessSendError(int code);
  void ProcessRecieveError(int code);
  void ProcessCloseError(int code);

  // Data streams: six "-GetNextAvailablePortNumber"/"-CreateStream" pairs in
  // stream order. 0, or -1 when a port request failed.
  int InitializeConnectionNodes(const StopSignal* cancel = nullptr);
  bool OpenStream(const std::string& objectName, const std::string& dataType);
  bool CloseStream(const std::string& objectName, const std::string& dataType);

  // Asks the server for its acquisition objects and their data types.
  bool RequestObjectsAndTypes(std::vector<std::string>& names, std::vector<std::string>& types);
  // Splits a reply into blank-separated tokens; double quotes group blanks.
  bool ParseCommandString(const std::string& text, std::vector<std::string>& tokens);

  // Why the last connect attempt failed, in a few words ("the server name
  // ... could not be resolved", "no connection could be made to ... on port
  // N", "the connection attempt was cancelled"); a caller may set its own.
  // Empty after a successful InitializeClient.
  std::string GetConnectError() const;
  void SetConnectError(const std::string& reason);

  std::string GetServerName() const;
  std::string GetServerIPAddress() const;
  std::string GetServerApplicationName() const;
  int GetPortNumber() const;
  bool IsInitialized() const { return mIsInitialized.load(); }
  // False while a broken reply has left the connection out of step (every
  // exchange is then refused until the client connects again).
  bool IsInStep() const { return !mFramingLost.load(); }
  bool StreamsInitialized() const { return mStreamsInitialized.load(); }
  // True while a reply abandoned by a stop is still to be discarded.
  bool IsReplyOwed() const { return mReplyOwed.load(); }
  std::vector<std::string> GetObjectNames() const;
  std::vector<std::string> GetObjectTypes() const;

  void SetOwedReplyTimeout(std::chrono::milliseconds timeout);
  // The bound of every reply wait and of the TCP connect; 0 waits without
  // limit. Thread-safe; applies from the next exchange on.
  void SetReplyTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds GetReplyTimeout() const;

  // The six streams, in stream order: SE, ST, TT, CSC, VT, EV.
  static constexpr int kStreamCount = 6;
  static constexpr int kStreamSE = 0;
  static constexpr int kStreamST = 1;
  static constexpr int kStreamTT = 2;
  static constexpr int kStreamCSC = 3;
  static constexpr int kStreamVT = 4;
  static constexpr int kStreamEV = 5;
  NodeConnectionClient& Stream(int index) { return *mStreams[index]; }
  // The stream serving a data type, or null.
  NodeConnectionClient* StreamForDataType(const std::string& dataType);

  ClientLogFile& GetLogFile() { return mLogFile; }

 private:
  class ExchangeGuard;
  enum class RecvStatus { kOk, kFailed, kStopped, kTimedOut };
  struct Wait {
    const StopSignal* stop = nullptr;
    bool hasDeadline = false;
    std::chrono::steady_clock::time_point deadline;
  };
  // A reply frame being received. It survives a stop, so that the rest of
  // an abandoned reply is read where the receive left off.
  struct IncomingFrame {
    unsigned char header[12] = {};
    int headerGot = 0;
    bool headerChecked = false;
    bool sizeChecked = false;
    int32_t size = 0;
    std::vector<char> payload;
    int payloadGot = 0;
    void Reset();
  };

  // Takes the exchange lock, waiting in short slices. Gives up (false) when
  // `stop` is requested, or, with `refuse`, while exchanges are refused.
  bool AcquireExchange(const StopSignal* stop, bool refuse);

  void Log(int level, const std::string& text);
  void LogSocketError(net::SocketCall call, int code);

  int CreateSocket(net::SocketHandle* socket);
  int GetServerInfo(uint32_t* address, const std::string& serverName);
  int ConnectToServer(net::SocketHandle socket, uint32_t address, int portNumber,
                      const StopSignal* cancel);

  // Records the status in mLastStatus.
  ExchangeStatus ExchangeLocked(const std::string& command, std::vector<char>* payload,
                                const StopSignal* stop) REQUIRES(mExchangeLock);
  ExchangeStatus ExchangeStepLocked(const std::string& command, std::vector<char>* payload,
                                    const StopSignal* stop) REQUIRES(mExchangeLock);
  std::string ExchangeReplyLocked(const std::string& command, const StopSignal* stop = nullptr)
      REQUIRES(mExchangeLock);
  // Reads and discards whole frames waiting on the connection before a
  // command is sent. False when the connection broke meanwhile.
  bool DiscardUnsolicitedLocked(const std::string& command) REQUIRES(mExchangeLock);
  // The failure status of a receive that returned kFailed.
  ExchangeStatus ReceiveFailureLocked() REQUIRES(mExchangeLock);
  bool SendCommandLocked(const std::string& command) REQUIRES(mExchangeLock);
  bool SendMessageLocked(const char* bytes, int length) REQUIRES(mExchangeLock);
  RecvStatus ReceiveFrameLocked(std::vector<char>* payload, const Wait& wait)
      REQUIRES(mExchangeLock);
  RecvStatus GetBufferLocked(char* buffer, int count, int* progress, const Wait& wait)
      REQUIRES(mExchangeLock);
  // Logs the shutdown notice and claims the shutdown; false (with its
  // warning logged) while not initialized or while another shutdown runs.
  // On true the caller ends the claim: --mRefuseExchanges, then
  // mShutdownInProgress = false.
  bool BeginShutdown();
  bool ShutdownLocked() REQUIRES(mExchangeLock);
  bool ShutdownStepsLocked() REQUIRES(mExchangeLock);
  bool OpenStreamLocked(const std::string& objectName, const std::string& dataType)
      REQUIRES(mExchangeLock);
  bool CloseStreamLocked(const std::string& objectName, const std::string& dataType)
      REQUIRES(mExchangeLock);
  void CloseSetUpStreamsLocked() REQUIRES(mExchangeLock);
  net::SocketHandle CurrentSocket() const;

  ClientLogFile mLogFile;
  NodeConnectionClientSE mStreamSE;
  NodeConnectionClientST mStreamST;
  NodeConnectionClientTT mStreamTT;
  NodeConnectionClientCSC mStreamCSC;
  NodeConnectionClientVT mStreamVT;
  NodeConnectionClientEV mStreamEV;
  NodeConnectionClient* const mStreams[kStreamCount];

  MessageBoxes& boxes_;

  // Held across every exchange and every change of the connection. Waits for
  // it are made in slices (see AcquireExchange).
  ExchangeLock mExchangeLock;
  // Guards the connection facts read by other threads without the exchange
  // lock; written only while the exchange lock is held as well.
  mutable std::mutex mStateLock;

  std::atomic<bool> mIsInitialized{false};
  net::SocketHandle mSocket GUARDED_BY(mStateLock) = net::kInvalidSocket;
  int mPortNumber GUARDED_BY(mStateLock) = 2000;
  std::string mServerName GUARDED_BY(mStateLock) = "Not Connected";
  std::string mServerIPAddress GUARDED_BY(mStateLock) = "Not Connected";
  std::string mServerApplicationName GUARDED_BY(mStateLock) = "Not Connected";
  std::vector<std::string> mObjectNames GUARDED_BY(mStateLock);
  std::vector<std::string> mObjectTypes GUARDED_BY(mStateLock);
  std::string mConnectError GUARDED_BY(mStateLock);
  std::atomic<bool> mStreamsInitialized{false};

  // The shutdown's re-entry guard.
  std::atomic<bool> mShutdownInProgress{false};
  // Above 0 while a shutdown or a stream tear-down runs: new exchanges are
  // refused, so that a stream callback waiting to exchange cannot hold up the
  // receive thread that is being joined.
  std::atomic<int> mRefuseExchanges{0};

  IncomingFrame mIncoming GUARDED_BY(mExchangeLock);
  std::atomic<bool> mReplyOwed{false};
  bool mConnectionLost GUARDED_BY(mExchangeLock) = false;
  // A reply header failed its checks: the rest of that frame is still on the
  // connection and the next frame's start is unknown, so later exchanges are
  // refused (not sent) until the connection is made again.
  // Written under the exchange lock; read anywhere (IsInStep).
  std::atomic<bool> mFramingLost{false};
  std::atomic<long long> mOwedReplyTimeoutMs{kDefaultOwedReplyTimeout.count()};
  std::atomic<long long> mReplyTimeoutMs{kDefaultReplyTimeout.count()};
  std::vector<std::string> mPendingBoxes GUARDED_BY(mExchangeLock);
  // What became of the last exchange made under the lock.
  ExchangeStatus mLastStatus GUARDED_BY(mExchangeLock);
};

}  // namespace orvanta
