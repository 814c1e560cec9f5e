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
// up promptly once a stop is requested. A reply that did not come in time,
// or that a stop abandoned, is owed: it is awaited (again at most the reply
// time-out), read and discarded before the next command is sent; while it
// is still missing, that next exchange fails without sending anything (the
// connection check fails too, so the window offers to replace the
// connection). Frames that arrive unasked are discarded before each command,
// so a reply is never taken as the answer to another command.
//
// Message boxes about broken frame headers are shown after the exchange lock
// has been released, so a box waiting for the window thread never keeps the
// window thread from the connection. After a broken header the connection
// stays up but is out of step: every later exchange fails without sending
// (logged) until the client connects again.
//
// The work is done by four parts, one job each: the connection's life
// (client/message_connection.h), the frame reader and writer
// (client/frame_io.h), the exchange with its lock and the owed-reply rule
// (client/message_exchange.h) and the stream side (client/stream_side.h).
// This class puts them together under the names the program uses.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "client/client_log_file.h"
#include "client/frame_io.h"
#include "client/message_connection.h"
#include "client/message_exchange.h"
#include "client/node_connection_client.h"
#include "client/socket_errors.h"
#include "client/stream_side.h"
#include "platform/clock.h"
#include "platform/exchange_status.h"
#include "platform/message_box.h"
#include "platform/stop_signal.h"
#include "platform/thread_annotations.h"

namespace orvanta {

class NetworkNodeClient {
 public:
  // The largest reply payload accepted; a larger announced size fails the
  // receive with the allocation error.
  static constexpr int kMaxPayloadSize = FrameReader::kMaxPayloadSize;

  // How long an exchange waits for its reply unless set otherwise; 0 waits
  // without limit.
  static constexpr std::chrono::milliseconds kDefaultReplyTimeout =
      MessageExchange::kDefaultReplyTimeout;

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
  // A command of the connect sequence that got no reply: logged at WARNING
  // and kept for GetConnectWarnings.
  void NoteConnectCommandUnanswered(const std::string& command, const ExchangeStatus& status);
  void ClearConnectWarnings() { mConnection.ClearConnectWarnings(); }
  std::string GetConnectWarnings() const { return mConnection.GetConnectWarnings(); }

  std::string GetServerName() const;
  std::string GetServerIPAddress() const;
  std::string GetServerApplicationName() const;
  int GetPortNumber() const;
  bool IsInitialized() const { return mConnection.IsConnected(); }
  // False while a broken reply has left the connection out of step (every
  // exchange is then refused until the client connects again).
  bool IsInStep() const { return mExchange.IsInStep(); }
  bool StreamsInitialized() const { return mStreamSide.IsInitialized(); }
  // True while a reply (past its bound, or abandoned by a stop) is owed.
  bool IsReplyOwed() const { return mExchange.IsReplyOwed(); }
  std::vector<std::string> GetObjectNames() const;
  std::vector<std::string> GetObjectTypes() const;

  // How many replies are owed (see client/message_exchange.h).
  int OwedReplies() const { return mExchange.OwedReplies(); }
  // The bound of every reply wait and of the TCP connect; 0 waits without
  // limit. Thread-safe; applies from the next exchange on.
  void SetReplyTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds GetReplyTimeout() const;

  // The six streams, in stream order: SE, ST, TT, CSC, VT, EV.
  static constexpr int kStreamCount = StreamSide::kStreamCount;
  static constexpr int kStreamSE = 0;
  static constexpr int kStreamST = 1;
  static constexpr int kStreamTT = 2;
  static constexpr int kStreamCSC = 3;
  static constexpr int kStreamVT = 4;
  static constexpr int kStreamEV = 5;
  NodeConnectionClient& Stream(int index) { return mStreamSide.Stream(index); }
  // The stream serving a data type, or null.
  NodeConnectionClient* StreamForDataType(const std::string& dataType);

  ClientLogFile& GetLogFile() { return mLogFile; }

 private:
  void Log(int level, const std::string& text);

  // Logs the shutdown notice and claims the shutdown; false (with its
  // warning logged) while not initialized or while another shutdown runs.
  // On true the caller ends the claim with EndShutdown.
  bool BeginShutdown();
  void EndShutdown();
  bool ShutdownLocked() REQUIRES(mExchange.lock());
  bool ShutdownStepsLocked() REQUIRES(mExchange.lock());

  ClientLogFile mLogFile;
  MessageConnection mConnection;
  MessageExchange mExchange;
  StreamSide mStreamSide;

  // The shutdown's re-entry guard.
  std::atomic<bool> mShutdownInProgress{false};
};

}  // namespace orvanta
