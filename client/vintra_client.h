// The one object through which the program talks to the acquisition server:
// connect and disconnect, the connection check, commands with their replies,
// requests with typed replies, and the data streams with their callbacks.
//
// Threads. The window thread connects, disconnects and checks the
// connection; the trial thread sends commands during a run; the window may
// check the connection while a run goes on. Every exchange is one locked
// send-and-receive of the underlying connection, so replies never go to the
// wrong caller. Callbacks run on the stream receive threads.
//
// Failures return false and are described in the client log (which writes
// nothing until SetLogFileName has been called).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "client/network_node_client.h"
#include "client/record_tap.h"
#include "client/stream_callback.h"
#include "platform/clock.h"
#include "platform/command_channel.h"
#include "platform/message_box.h"
#include "platform/stop_signal.h"

namespace orvanta {

class VintraClient : public CommandChannel {
 public:
  // The server hands out message ports on the negotiation port; the message
  // port takes direct connections.
  static constexpr int kDefaultNegotiationPort = 26200;
  static constexpr int kDefaultMessagePort = 26100;

  // The seams are not owned and must outlive the client.
  VintraClient(const Clock& clock, MessageBoxes& boxes);
  VintraClient(const VintraClient&) = delete;
  VintraClient& operator=(const VintraClient&) = delete;
  // Shuts the connection down (closing the open streams) and the client log.
  ~VintraClient() override;

  // Connects to the server (a host name or a dotted address). With
  // negotiatePort the client asks the negotiation port for a message port,
  // falling back to the message port when nobody listens there; without it
  // the client connects to the message port directly. Then the six data
  // streams are set up and the computer's name is sent. A connect that fails
  // after the message connection was made closes it again. While connected,
  // a connect is refused, unless the connection no longer completes an
  // exchange (the IsConnected check fails): then it is closed and replaced.
  //
  // Every step is bounded by the reply time-out. A request of `cancel` (may
  // be null; any thread) ends the attempt promptly: it fails and leaves no
  // connection. GetConnectError() then tells why it failed.
  bool ConnectToServer(const std::string& serverName, bool negotiatePort,
                       const StopSignal* cancel = nullptr);
  // The same on the given ports (for this call only).
  bool ConnectToServer(const std::string& serverName, bool negotiatePort, int negotiationPort,
                       int messagePort, const StopSignal* cancel = nullptr);
  // Why the last connect failed, in a few words; empty after a success.
  std::string GetConnectError() const;
  // What went wrong in the last connect although it succeeded (a command of
  // the sequence that got no reply, e.g. "the server did not answer
  // -SetComputerName (no reply within 300 ms)"); empty when nothing did.
  std::string GetConnectWarnings() const;
  // The ports used by the two-argument ConnectToServer.
  void SetServerPorts(int negotiationPort, int messagePort);
  int GetNegotiationPort() const { return mNegotiationPort.load(); }
  int GetMessagePort() const { return mMessagePort.load(); }

  bool DisconnectFromServer();
  // A real exchange ("-SetComputerName"): true only when a reply came back,
  // within the reply time-out. Without a connection: false at once, no
  // traffic, no log entry. `cancel` (may be null) ends the wait.
  bool IsConnected(const StopSignal* cancel = nullptr);
  // True while a message connection is set up, whether or not it still
  // answers (no traffic). A dead one is torn down by DisconnectFromServer.
  bool HasConnection() const;
  bool SetComputerName(const StopSignal* cancel = nullptr);
  bool SetApplicationName(const std::string& name);

  std::string GetServerName() const;
  std::string GetServerIPAddress() const;
  std::string GetServerApplicationName() const;
  // Opens the client log (see ClientLogFile::Open); false when it could not
  // be opened, GetLogOpenFailure() then says why.
  bool SetLogFileName(const std::string& fileName);
  OutputFileFailure GetLogOpenFailure() const;

  // Sends one command and waits for its reply, which is written to `reply`
  // only on success. A stop request ends the wait (false); the owed reply is
  // discarded before the next exchange.
  using CommandChannel::SendCommand;
  bool SendCommand(const std::string& command, std::string& reply, const StopSignal* stop) override;
  // The same, telling what became of the exchange and why it failed.
  ExchangeStatus Exchange(const std::string& command, std::string& reply,
                          const StopSignal* stop) override;
  // Sends one command; the reply frame's raw payload replaces `buffer` and
  // its length goes to `size`.
  bool SendCommandBinaryReply(const std::string& command, std::vector<char>& buffer, int& size);

  // Typed requests. Out-values are 0 before the command is sent; a reply
  // whose leading status is negative is a failure.
  bool RequestRingBufferSize(const std::string& objectName, int& first, int& second);
  bool RequestSamplingFrequency(const std::string& objectName, int& frequency);
  bool RequestADRange(const std::string& objectName, int& first, int& second);
  bool RequestFeature(const std::string& objectName, int featureIndex, std::string& feature);
  bool LogMessage(const std::string& message, int value);
  // Copies min(bufferSize, reply size) bytes of the raw reply to `buffer`
  // (zero-filled first) and their count to `bytesCopied`.
  bool RequestRingBuffer(const std::string& objectName, char* buffer, int bufferSize,
                         int& bytesCopied);

  // The server's acquisition objects and their data types, paired by
  // position. When the server lists fewer types than names, the names without
  // a type get an empty type (such objects cannot be opened). On failure the
  // lists are left as they were.
  bool GetObjectsAndTypes(std::vector<std::string>& names, std::vector<std::string>& types);
  bool OpenStream(const std::string& objectName, const std::string& dataType);
  bool CloseStream(const std::string& objectName, const std::string& dataType);

  // Registrations replace earlier ones. A null callback or a null context
  // delivers nothing.
  void SetCallbackFunctionSE(StreamCallback callback, void* context);
  void SetCallbackFunctionST(StreamCallback callback, void* context);
  void SetCallbackFunctionTT(StreamCallback callback, void* context);
  void SetCallbackFunctionCSC(StreamCallback callback, void* context);
  void SetCallbackFunctionEV(StreamCallback callback, void* context);
  void SetCallbackFunctionVT(StreamCallback callback, void* context);

  // Adds (or with null removes) the tap that sees every record of the six
  // streams before their callbacks (see RecordTap). Not owned; once a
  // removal has returned, the tap is no longer called.
  void SetRecordTap(RecordTap* tap);

  // The bound of every reply wait, of the TCP connect, and so of Connect,
  // the connection check and Disconnect (5 s by default); 0 waits without
  // limit. A reply that comes later is discarded.
  void SetReplyTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds GetReplyTimeout() const;

  // This computer's name as sent with "-SetComputerName" (at most 127
  // characters).
  static std::string GetComputerName();

  NetworkNodeClient& GetNetworkNodeClient() { return *mNetworkNodeClient; }

 private:
  // Sends a command and reads its reply text; "-1" when no reply came.
  bool RequestText(const std::string& command, std::string& reply);
  bool RequestIntegers(const std::string& command, int* values, int count);
  // A reply of a status and two numbers: the numbers (0 when missing).
  bool RequestPair(const std::string& command, int& first, int& second);

  std::unique_ptr<NetworkNodeClient> mNetworkNodeClient;
  std::atomic<int> mNegotiationPort{kDefaultNegotiationPort};
  std::atomic<int> mMessagePort{kDefaultMessagePort};
};

}  // namespace orvanta
