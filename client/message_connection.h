// The life of the message connection's socket: connect (resolve, bounded
// TCP connect), the facts about the server read by other threads, and the
// close. It sends no frames; the exchange (client/message_exchange.h) does.
//
// Threads. Open and Close run with the owner's exchange lock held (the
// owner, NetworkNodeClient, serialises them); the getters may be called from
// any thread at any time. The facts are guarded by mStateLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "client/client_log_file.h"
#include "client/socket_errors.h"
#include "client/socket_layer.h"
#include "platform/mutex.h"
#include "platform/stop_signal.h"
#include "platform/thread_annotations.h"

namespace orvanta {

// Logs the table text of a failed socket call at ERROR (nothing when the
// table has no text for it).
void LogSocketError(ClientLogFile& log, net::SocketCall call, int code);

class MessageConnection {
 public:
  // The log is not owned and must outlive the connection.
  explicit MessageConnection(ClientLogFile& log);
  MessageConnection(const MessageConnection&) = delete;
  MessageConnection& operator=(const MessageConnection&) = delete;

  // Creates a socket, resolves serverName and connects to it on portNumber,
  // bounded by timeoutMs (0: no bound of our own) and ended at once by a
  // request of `cancel` (may be null). On success the socket and the
  // server's address, name and port are kept (IsConnected() is still false
  // until SetConnected). On failure the steps are logged, GetConnectError()
  // says why, and no socket is left behind.
  bool Open(const std::string& serverName, int portNumber, long long timeoutMs,
            const StopSignal* cancel) EXCLUDES(mStateLock);
  // Closes the socket and forgets the server's facts. False (logged) when
  // the close failed; the socket is released either way.
  bool Close() EXCLUDES(mStateLock);

  bool IsConnected() const { return mConnected.load(); }
  void SetConnected(bool connected) { mConnected.store(connected); }

  net::SocketHandle Socket() const EXCLUDES(mStateLock);
  // The address the server reaches this computer at: the local end of the
  // connection, or (when it cannot be told) GetLocalIPAddress().
  std::string AddressSeenByServer() EXCLUDES(mStateLock);
  // This computer's address by its host name; the loopback address (logged)
  // when the name cannot be resolved.
  std::string GetLocalIPAddress();

  std::string GetConnectError() const EXCLUDES(mStateLock);
  void SetConnectError(const std::string& reason) EXCLUDES(mStateLock);
  // What went wrong in a connect that still succeeded (a command of the
  // sequence that got no reply), "; "-separated; cleared by the caller at
  // the start of a connect.
  void AddConnectWarning(const std::string& warning) EXCLUDES(mStateLock);
  void ClearConnectWarnings() EXCLUDES(mStateLock);
  std::string GetConnectWarnings() const EXCLUDES(mStateLock);
  std::string GetServerName() const EXCLUDES(mStateLock);
  std::string GetServerIPAddress() const EXCLUDES(mStateLock);
  std::string GetServerApplicationName() const EXCLUDES(mStateLock);
  void SetServerApplicationName(const std::string& name) EXCLUDES(mStateLock);
  int GetPortNumber() const EXCLUDES(mStateLock);

 private:
  void Log(int level, const std::string& text) { mLog.WriteLogEntry(level, text); }
  int CreateSocket(net::SocketHandle* socket);
  int GetServerInfo(uint32_t* address, const std::string& serverName);
  int ConnectToServer(net::SocketHandle socket, uint32_t address, int portNumber,
                      long long timeoutMs, const StopSignal* cancel);

  ClientLogFile& mLog;
  std::atomic<bool> mConnected{false};

  mutable Mutex mStateLock;
  net::SocketHandle mSocket GUARDED_BY(mStateLock) = net::kInvalidSocket;
  int mPortNumber GUARDED_BY(mStateLock) = 2000;
  std::string mServerName GUARDED_BY(mStateLock) = "Not Connected";
  std::string mServerIPAddress GUARDED_BY(mStateLock) = "Not Connected";
  std::string mServerApplicationName GUARDED_BY(mStateLock) = "Not Connected";
  std::string mConnectError GUARDED_BY(mStateLock);
  std::string mConnectWarnings GUARDED_BY(mStateLock);
};

}  // namespace orvanta
