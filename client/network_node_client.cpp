#include "client/network_node_client.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "client/frame_codec.h"
#include "client/reply_parsing.h"
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
// Payloads grow by this much as their bytes arrive, so that an announced
// size costs memory only once the bytes are really there.
constexpr int kPayloadChunk = 1024 * 1024;

constexpr char kNotConnected[] = "Not Connected";

// The six streams' names in "-CreateStream" and the data types they serve,
// in stream order.
constexpr const char* kStreamTypeNames[NetworkNodeClient::kStreamCount] = {
    "SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt", "CscAcqEnt", "VTAcqEnt", "EventAcqEnt"};

bool TryResize(std::vector<char>& v, size_t size) {
  try {
    v.resize(size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

NetworkNodeClient::ExchangeStatus NotConnected() {
  return NetworkNodeClient::ExchangeStatus::Failed(ExchangeResult::kNotSent,
                                                   ExchangeReason::kNotConnected);
}

}  // namespace

void NetworkNodeClient::IncomingFrame::Reset() {
  headerGot = 0;
  headerChecked = false;
  sizeChecked = false;
  size = 0;
  std::vector<char>().swap(payload);
  payloadGot = 0;
}

// Holds the exchange lock for one public operation. On release it shows the
// message boxes queued meanwhile, after the lock is free.
class NetworkNodeClient::ExchangeGuard {
 public:
  ExchangeGuard(NetworkNodeClient& client, const StopSignal* stop, bool refuse)
      : client_(client), locked_(client.AcquireExchange(stop, refuse)) {}
  // Takes over a lock already acquired by the caller.
  ExchangeGuard(NetworkNodeClient& client, std::adopt_lock_t) : client_(client), locked_(true) {}
  ExchangeGuard(const ExchangeGuard&) = delete;
  ExchangeGuard& operator=(const ExchangeGuard&) = delete;
  ~ExchangeGuard() {
    if (!locked_) return;
    std::vector<std::string> boxes;
    boxes.swap(client_.mPendingBoxes);
    client_.mExchangeLock.unlock();
    for (const std::string& text : boxes) client_.boxes_.Show(text);
  }
  bool locked() const { return locked_; }

 private:
  NetworkNodeClient& client_;
  const bool locked_;
};

NetworkNodeClient::NetworkNodeClient(const Clock& clock, MessageBoxes& boxes)
    : mLogFile(clock),
      mStreamSE(&mLogFile),
      mStreamST(&mLogFile),
      mStreamTT(&mLogFile),
      mStreamCSC(&mLogFile),
      mStreamVT(&mLogFile),
      mStreamEV(&mLogFile),
      mStreams{&mStreamSE, &mStreamST, &mStreamTT, &mStreamCSC, &mStreamVT, &mStreamEV},
      boxes_(boxes) {
  SocketStartup();
}

NetworkNodeClient::~NetworkNodeClient() {
  ShutdownClient();
  mLogFile.Close();
  // Streams left set up by a shutdown that could not run are stopped by
  // their own destructors.
}

void NetworkNodeClient::Log(int level, const std::string& text) {
  mLogFile.WriteLogEntry(level, text);
}

void NetworkNodeClient::LogSocketError(net::SocketCall call, int code) {
  const std::string text = net::SocketErrorText(call, code);
  if (!text.empty()) Log(client_log::kError, text);
}

void NetworkNodeClient::ProcessSendError(int code) {
  LogSocketError(net::SocketCall::kSend, code);
}

void NetworkNodeClient::ProcessRecieveError(int code) {
  LogSocketError(net::SocketCall::kRecieve, code);
}

void NetworkNodeClient::ProcessCloseError(int code) {
  LogSocketError(net::SocketCall::kClose, code);
}

int NetworkNodeClient::SocketStartup() {
  const int code = net::Startup();
  if (code == 0) return 0;
  const std::string text = net::SocketErrorText(net::SocketCall::kStartup, code);
  if (text.empty()) return 0;
  Log(client_log::kError, text);
  return -1;
}

bool NetworkNodeClient::AcquireExchange(const StopSignal* stop, bool refuse) {
  for (;;) {
    if (refuse && mRefuseExchanges.load() > 0) return false;
    if (stop != nullptr && stop->IsRequested()) return false;
    if (mExchangeLock.try_lock_for(kLockSlice)) {
      if (refuse && mRefuseExchanges.load() > 0) {
        mExchangeLock.unlock();
        return false;
      }
      return true;
    }
  }
}

net::SocketHandle NetworkNodeClient::CurrentSocket() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mSocket;
}

// ---------------------------------------------------------------------------
// Connecting

bool NetworkNodeClient::InitializeClient(const std::string& serverName, int portNumber,
                                         const StopSignal* cancel) {
  Log(client_log::kNotice,
      Format("NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client "
             "connection.  serverName: %s, portNumber: %i",
             serverName.c_str(), portNumber));
  static const char kAlready[] =
      "NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client that has "
      "already been initialized, unable to re-initialize";
  if (mIsInitialized.load()) {
    Log(client_log::kWarning, kAlready);
    return false;
  }
  if (portNumber < 1 || portNumber > 65535) {
    // A TCP port has 16 bits: a larger number would wrap to another port.
    Log(client_log::kError,
        Format("NetworkNodeClient::InitializeClient() - Error, the port number %i is outside "
               "1..65535, unable to initialize message client",
               portNumber));
    Log(client_log::kError,
        "NetworkNodeClient::InitializeClient() - Failure: Unable to initialize message client");
    return false;
  }
  ExchangeGuard guard(*this, nullptr, false);
  if (mIsInitialized.load()) {
    Log(client_log::kWarning, kAlready);
    return false;
  }

  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Attempting to create Client Socket");
  SetConnectError(std::string());
  net::SocketHandle socket = net::kInvalidSocket;
  if (CreateSocket(&socket) != 0) {
    SetConnectError("no socket could be created");
    Log(client_log::kError,
        "NetworkNodeClient::InitializeClient() - Failure: Unable to initialize client");
    return false;
  }

  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Client Socket created successfully");
  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Attempting to request information about our "
      "connection.");
  uint32_t address = 0;
  if (GetServerInfo(&address, serverName) != 0) {
    SetConnectError("the server name \"" + serverName + "\" could not be resolved");
    Log(client_log::kError,
        "NetworkNodeClient::InitializeClient() - Failure: Unable to initialize message client");
    net::CloseSocket(socket);  // a failed attempt leaves no socket behind
    return false;
  }

  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Request for information was successful.");
  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Attempting to establish a connection to our "
      "server.");
  if (ConnectToServer(socket, address, portNumber, cancel) != 0) {
    SetConnectError(cancel != nullptr && cancel->IsRequested()
                        ? std::string("the connection attempt was cancelled")
                        : "no connection could be made to " + serverName + " on port " +
                              std::to_string(portNumber));
    Log(client_log::kError,
        "NetworkNodeClient::InitializeClient() - Failure: Unable to initialize message client");
    net::CloseSocket(socket);
    return false;
  }
  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Connection successfully established");

  {
    std::lock_guard<std::mutex> lock(mStateLock);
    mSocket = socket;
    mServerIPAddress = net::FormatIPv4(address);
    mPortNumber = portNumber;
    mServerName = serverName;
  }
  mIncoming.Reset();
  mReplyOwed.store(false);
  mConnectionLost = false;
  mFramingLost = false;
  mIsInitialized.store(true);

  std::vector<char> payload;
  const ExchangeStatus status = ExchangeLocked("-GetApplicationName", &payload, cancel);
  if (status == ExchangeStatus::kStopped) {
    // Cancelled: no connection is left behind.
    Log(client_log::kWarning,
        "NetworkNodeClient::InitializeClient() - Warning, the connection attempt was cancelled, "
        "the connection has been closed.");
    ShutdownLocked();
    SetConnectError("the connection attempt was cancelled");
    return false;
  }
  if (status != ExchangeStatus::kNotSent) {
    std::string name = "-1";
    if (status == ExchangeStatus::kReplied) {
      name = frame::PayloadText(std::string_view(payload.data(), payload.size()));
      const size_t space = name.find(' ');
      if (space != std::string::npos) name = name.substr(space + 1);
    }
    std::lock_guard<std::mutex> lock(mStateLock);
    mServerApplicationName = name;
  }

  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Message Client successfully initialized");
  return true;
}

int NetworkNodeClient::CreateSocket(net::SocketHandle* socket) {
  int error = 0;
  *socket = net::CreateTcpSocket(&error);
  if (*socket == net::kInvalidSocket) {
    LogSocketError(net::SocketCall::kCreateSocket, error);
    return -1;
  }
  return 0;
}

int NetworkNodeClient::GetServerInfo(uint32_t* address, const std::string& serverName) {
  const int error = net::ResolveIPv4(serverName, address);
  if (error != 0) {
    LogSocketError(net::SocketCall::kGetServerInfo, error);
    return -1;
  }
  return 0;
}

int NetworkNodeClient::ConnectToServer(net::SocketHandle socket, uint32_t address, int portNumber,
                                       const StopSignal* cancel) {
  const int error = net::ConnectBounded(
      socket, address, portNumber, static_cast<int>(mReplyTimeoutMs.load()),
      [cancel] { return cancel != nullptr && cancel->IsRequested(); });
  if (error != 0) {
    LogSocketError(net::SocketCall::kConnect, error);
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Shutting down

bool NetworkNodeClient::BeginShutdown() {
  Log(client_log::kNotice,
      "NetworkNodeClient::ShutdownClient() - Attempting to Shutdown Message Client");
  if (!mIsInitialized.load()) {
    Log(client_log::kWarning,
        "NetworkNodeClient::ShutdownClient() - Unable to Close Message Client, Client has not "
        "yet been initialized");
    return false;
  }
  bool expected = false;
  if (!mShutdownInProgress.compare_exchange_strong(expected, true)) {
    Log(client_log::kWarning,
        "NetworkNodeClient::ShutdownClient() - Unable to Close Message Client, a shutdown is "
        "already in progress");
    return false;
  }
  ++mRefuseExchanges;
  return true;
}

bool NetworkNodeClient::ShutdownClient() {
  if (!BeginShutdown()) return false;

  // Let a running exchange finish; one that does not is cut off.
  if (!mExchangeLock.try_lock_for(kShutdownLockWait)) {
    net::ShutdownSocket(CurrentSocket());
    mExchangeLock.lock();
  }
  bool result = false;
  {
    ExchangeGuard guard(*this, std::adopt_lock);
    if (!mIsInitialized.load()) {
      Log(client_log::kWarning,
          "NetworkNodeClient::ShutdownClient() - Unable to Close Message Client, Client has not "
          "yet been initialized");
    } else {
      result = ShutdownStepsLocked();
    }
    --mRefuseExchanges;
    mShutdownInProgress.store(false);
  }
  return result;
}

bool NetworkNodeClient::ShutdownLocked() {
  if (!BeginShutdown()) return false;
  const bool result = ShutdownStepsLocked();
  --mRefuseExchanges;
  mShutdownInProgress.store(false);
  return result;
}

bool NetworkNodeClient::ShutdownStepsLocked() {
  if (mStreamsInitialized.load()) {
    std::vector<std::string> names;
    std::vector<std::string> types;
    {
      std::lock_guard<std::mutex> lock(mStateLock);
      names = mObjectNames;
      types = mObjectTypes;
    }
    // Once one "-CloseStream" gets no reply, the rest are not sent: a
    // silent server would hold the disconnect up a reply bound per object.
    bool answering = true;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string type = i < types.size() ? types[i] : std::string();
      if (answering) {
        mLastStatus = ExchangeStatus::Replied();  // stays so when nothing is sent
        CloseStreamLocked(names[i], type);
        answering = mLastStatus == ExchangeStatus::kReplied;
      } else if (NodeConnectionClient* stream = StreamForDataType(type)) {
        stream->RemoveStreamObject(names[i]);
      }
    }
    for (NodeConnectionClient* stream : mStreams) stream->RequestStop();
    for (NodeConnectionClient* stream : mStreams) stream->CloseServerStream();
  } else {
    // Streams set up by a connect that failed half-way are not left running.
    CloseSetUpStreamsLocked();
  }
  mStreamsInitialized.store(false);

  Log(client_log::kNotice,
      "NetworkNodeClient::ShutdownClient() - Attempting to Close Message Client Socket");
  net::SocketHandle socket;
  {
    std::lock_guard<std::mutex> lock(mStateLock);
    socket = mSocket;
    mSocket = net::kInvalidSocket;  // released by the close below, whatever it reports
  }
  mIncoming.Reset();
  mReplyOwed.store(false);
  mConnectionLost = false;
  mFramingLost = false;
  if (socket != net::kInvalidSocket) {
    const int error = net::CloseSocket(socket);
    if (error != 0) {
      ProcessCloseError(error);
      Log(client_log::kError,
          "NetworkNodeClient::ShutdownClient() - Unable to Close Message Client Socket");
      return false;
    }
  }
  Log(client_log::kNotice,
      "NetworkNodeClient::ShutdownClient() - Attempt to Close Message Client Socket was "
      "successful");
  {
    std::lock_guard<std::mutex> lock(mStateLock);
    mServerIPAddress = kNotConnected;
    mPortNumber = -1;
    mServerName = kNotConnected;
  }
  mIsInitialized.store(false);
  return true;
}

void NetworkNodeClient::CloseSetUpStreamsLocked() {
  bool any = false;
  for (NodeConnectionClient* stream : mStreams) any = any || stream->IsSetUp();
  if (!any) return;
  ++mRefuseExchanges;
  for (NodeConnectionClient* stream : mStreams)
    if (stream->IsSetUp()) stream->RequestStop();
  for (NodeConnectionClient* stream : mStreams)
    if (stream->IsSetUp()) stream->CloseServerStream();
  --mRefuseExchanges;
}

// ---------------------------------------------------------------------------
// Sending

bool NetworkNodeClient::SendCommand(const std::string& command) {
  if (!mIsInitialized.load()) return false;
  ExchangeGuard guard(*this, nullptr, true);
  if (!guard.locked()) return false;
  return SendCommandLocked(command);
}

bool NetworkNodeClient::SendMessage(const char* bytes, int length) {
  if (!mIsInitialized.load()) return false;
  ExchangeGuard guard(*this, nullptr, true);
  if (!guard.locked()) return false;
  return SendMessageLocked(bytes, length);
}

bool NetworkNodeClient::SendCommandLocked(const std::string& command) {
  if (!mIsInitialized.load()) return false;
  // The text and its terminating NUL.
  return SendMessageLocked(command.c_str(), static_cast<int>(command.size()) + 1);
}

bool NetworkNodeClient::SendMessageLocked(const char* bytes, int length) {
  if (!mIsInitialized.load()) return false;
  const long long frame_length = static_cast<long long>(length) + 12;
  std::unique_ptr<unsigned char[]> frame;
  if (length >= 0 && frame_length <= static_cast<long long>(kMaxPayloadSize) + 12)
    frame.reset(new (std::nothrow) unsigned char[static_cast<size_t>(frame_length)]());
  if (!frame) {
    Log(client_log::kError,
        Format("NetworkNodeClient::SendMessage() - Error allocating memory to passed message to "
               "server, pointer returned a NULL value.  bufferLength: %i",
               static_cast<int>(frame_length)));
    return false;
  }
  frame::EncodeHeader(frame::Header{frame::kVersion, frame::kValidationCode, length}, frame.get());
  if (length > 0) std::memcpy(frame.get() + frame::kHeaderSize, bytes, static_cast<size_t>(length));

  const net::SocketHandle socket = CurrentSocket();
  const size_t total = static_cast<size_t>(frame_length);
  size_t sent = 0;
  // A frame goes out whole: a short send is followed by the rest.
  while (sent < total) {
    int error = 0;
    const long n = net::SendSome(socket, frame.get() + sent, total - sent, &error);
    if (n < 0) {
      ProcessSendError(error);
      const std::string text =
          bytes == nullptr ? std::string()
                           : std::string(bytes, strnlen(bytes, static_cast<size_t>(length)));
      Log(client_log::kError,
          Format("NetworkNodeClient::SendMessage() - Unable to send data, call to send() failed, "
                 "we must have lost our socket.  message: %s",
                 text.c_str()));
      frame.reset();
      ShutdownLocked();
      return false;
    }
    if (n == 0) {
      Log(client_log::kError,
          Format("NetworkNodeClient::SendMessage() - The Number of bytes to send does not match "
                 "the number of bytes sent, bytes sent: %i, bytes to send: %i",
                 static_cast<int>(sent), static_cast<int>(total)));
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Receiving

bool NetworkNodeClient::GetBuffer(char* buffer, int count) {
  if (!mIsInitialized.load()) return false;
  ExchangeGuard guard(*this, nullptr, true);
  if (!guard.locked()) return false;
  int progress = 0;
  const RecvStatus status = GetBufferLocked(buffer, count, &progress, Wait{});
  if (mConnectionLost) {
    mConnectionLost = false;
    ShutdownLocked();
  }
  return status == RecvStatus::kOk;
}

NetworkNodeClient::RecvStatus NetworkNodeClient::GetBufferLocked(char* buffer, int count,
                                                                 int* progress, const Wait& wait) {
  const net::SocketHandle socket = CurrentSocket();
  const bool sliced = wait.stop != nullptr || wait.hasDeadline;
  int got = 0;
  while (got < count) {
    if (sliced) {
      for (;;) {
        if (wait.stop != nullptr && wait.stop->IsRequested()) return RecvStatus::kStopped;
        int slice = kReplyPollMs;
        if (wait.hasDeadline) {
          const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
              wait.deadline - std::chrono::steady_clock::now());
          if (left.count() <= 0) return RecvStatus::kTimedOut;
          slice = static_cast<int>(std::min<long long>(left.count(), slice));
        }
        int error = 0;
        const net::WaitResult r = net::WaitReadable(socket, slice, &error);
        if (r == net::WaitResult::kReady) break;
        if (r == net::WaitResult::kError) {
          ProcessRecieveError(error);
          return RecvStatus::kFailed;
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
      return RecvStatus::kFailed;
    }
    if (n < 0) {
      ProcessRecieveError(error);
      return RecvStatus::kFailed;
    }
    got += static_cast<int>(n);
    *progress += static_cast<int>(n);
  }
  return RecvStatus::kOk;
}

NetworkNodeClient::RecvStatus NetworkNodeClient::ReceiveFrameLocked(std::vector<char>* payload,
                                                                    const Wait& wait) {
  IncomingFrame& in = mIncoming;
  auto fail = [&](RecvStatus status) {
    if (status == RecvStatus::kFailed) {
      in.Reset();
      if (mConnectionLost) {
        mConnectionLost = false;
        ShutdownLocked();
      }
    }
    return status;
  };

  // Version and validation code.
  if (in.headerGot < 8) {
    const RecvStatus s = GetBufferLocked(reinterpret_cast<char*>(in.header) + in.headerGot,
                                         8 - in.headerGot, &in.headerGot, wait);
    if (s != RecvStatus::kOk) return fail(s);
  }
  if (!in.headerChecked) {
    const int32_t version = static_cast<int32_t>(frame::GetLe32(in.header));
    const uint32_t validation = frame::GetLe32(in.header + 4);
    // A header that fails its checks leaves the rest of its frame unread;
    // where the next frame begins is unknown from here on.
    if (version != frame::kVersion || validation != frame::kValidationCode) mFramingLost = true;
    if (version < 1) {
      mPendingBoxes.push_back(
          "Error, invalid version number, data has been corrupted or improperly formatted");
      return fail(RecvStatus::kFailed);
    }
    if (version > 1) {
      mPendingBoxes.push_back(Format(
          "Error, this Version of Veltrix Network Communication is not Supported, please update "
          "to the latest version of the software.  Version #%i",
          static_cast<int>(version)));
      return fail(RecvStatus::kFailed);
    }
    if (validation != frame::kValidationCode) {
      mPendingBoxes.push_back(
          "Error, invalid validation code, data has been corrupted or improperly formatted");
      return fail(RecvStatus::kFailed);
    }
    in.headerChecked = true;
  }

  // Payload size.
  if (in.headerGot < 12) {
    const RecvStatus s = GetBufferLocked(reinterpret_cast<char*>(in.header) + in.headerGot,
                                         12 - in.headerGot, &in.headerGot, wait);
    if (s != RecvStatus::kOk) return fail(s);
  }
  if (!in.sizeChecked) {
    in.size = static_cast<int32_t>(frame::GetLe32(in.header + 8));
    // An empty payload leaves the next frame where it belongs; a negative or
    // oversized one leaves an unknown number of payload bytes behind.
    if (in.size < 0 || in.size > kMaxPayloadSize) mFramingLost = true;
    if (in.size < 1) {
      Log(client_log::kError,
          Format("NetworkNodeClient::RecieveMessage() - Invalid message size for recieving "
                 "message, messageSize: %i",
                 static_cast<int>(in.size)));
      return fail(RecvStatus::kFailed);
    }
    if (in.size > kMaxPayloadSize) {
      Log(client_log::kError,
          "NetworkNodeClient::RecieveMessage() - Error allocating memory for recieving a message, "
          "point returned a NULL");
      return fail(RecvStatus::kFailed);
    }
    in.sizeChecked = true;
  }

  // Payload.
  while (in.payloadGot < in.size) {
    const int want = std::min(in.size - in.payloadGot, kPayloadChunk);
    if (static_cast<int>(in.payload.size()) < in.payloadGot + want &&
        !TryResize(in.payload, static_cast<size_t>(in.payloadGot + want))) {
      Log(client_log::kError,
          "NetworkNodeClient::RecieveMessage() - Error allocating memory for recieving a message, "
          "point returned a NULL");
      return fail(RecvStatus::kFailed);
    }
    const RecvStatus s =
        GetBufferLocked(in.payload.data() + in.payloadGot, want, &in.payloadGot, wait);
    if (s != RecvStatus::kOk) return fail(s);
  }

  if (payload != nullptr) payload->swap(in.payload);
  in.Reset();
  return RecvStatus::kOk;
}

bool NetworkNodeClient::RecieveMessage(std::vector<char>& buffer, int& size) {
  if (!mIsInitialized.load()) return false;
  ExchangeGuard guard(*this, nullptr, true);
  if (!guard.locked()) return false;
  if (!mIsInitialized.load()) return false;
  std::vector<char> payload;
  if (ReceiveFrameLocked(&payload, Wait{}) != RecvStatus::kOk) return false;
  buffer.swap(payload);
  size = static_cast<int>(buffer.size());
  return true;
}

bool NetworkNodeClient::RecieveReply(std::string& reply) {
  std::vector<char> buffer;
  int size = 0;
  if (!RecieveMessage(buffer, size)) {
    reply = "-1";
    return false;
  }
  reply = frame::PayloadText(std::string_view(buffer.data(), buffer.size()));
  return true;
}

// ---------------------------------------------------------------------------
// The exchange

NetworkNodeClient::ExchangeStatus NetworkNodeClient::Exchange(const std::string& command,
                                                              std::vector<char>* payload,
                                                              const StopSignal* stop) {
  if (!mIsInitialized.load()) return NotConnected();
  ExchangeGuard guard(*this, stop, true);
  if (!guard.locked()) {
    return stop != nullptr && stop->IsRequested()
               ? ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped)
               : NotConnected();
  }
  return ExchangeLocked(command, payload, stop);
}

bool NetworkNodeClient::ExchangeText(const std::string& command, std::string& reply,
                                     const StopSignal* stop) {
  std::vector<char> payload;
  if (Exchange(command, &payload, stop) != ExchangeStatus::kReplied) return false;
  reply = frame::PayloadText(std::string_view(payload.data(), payload.size()));
  return true;
}

NetworkNodeClient::ExchangeStatus NetworkNodeClient::ReceiveFailureLocked() {
  // A header that failed its checks leaves the connection out of step; a
  // close or reset by the server has shut it down (or left it dead).
  if (mFramingLost) return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kBrokenReply);
  return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kConnectionClosed);
}

bool NetworkNodeClient::DiscardUnsolicitedLocked(const std::string& command) {
  const net::SocketHandle socket = CurrentSocket();
  for (;;) {
    int error = 0;
    if (net::WaitReadable(socket, 0, &error) != net::WaitResult::kReady) return true;
    // Something is waiting although no reply is owed: a frame nobody asked
    // for, or a close. It is read whole (bounded) and dropped.
    Wait wait;
    wait.hasDeadline = true;
    wait.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    std::vector<char> extra;
    const RecvStatus s = ReceiveFrameLocked(&extra, wait);
    if (s == RecvStatus::kOk) {
      std::string text = frame::PayloadText(std::string_view(extra.data(), extra.size()));
      if (text.size() > 200) text = text.substr(0, 200) + "...";
      Log(client_log::kWarning,
          Format("NetworkNodeClient::SendCommand() - Warning, a message that no command asked for "
                 "has been discarded before the next command.  message: %s, command: %s",
                 text.c_str(), command.c_str()));
      continue;
    }
    if (s == RecvStatus::kTimedOut) {
      // Part of a frame and then silence: where the next frame begins is
      // unknown.
      mFramingLost = true;
      mIncoming.Reset();
    }
    return false;
  }
}

NetworkNodeClient::ExchangeStatus NetworkNodeClient::ExchangeLocked(const std::string& command,
                                                                    std::vector<char>* payload,
                                                                    const StopSignal* stop) {
  mLastStatus = ExchangeStepLocked(command, payload, stop);
  return mLastStatus;
}

NetworkNodeClient::ExchangeStatus NetworkNodeClient::ExchangeStepLocked(const std::string& command,
                                                                        std::vector<char>* payload,
                                                                        const StopSignal* stop) {
  if (!mIsInitialized.load()) return NotConnected();

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
    const RecvStatus s = ReceiveFrameLocked(&late, wait);
    if (s == RecvStatus::kStopped)
      return ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped);
    if (s == RecvStatus::kTimedOut) {
      Log(client_log::kError,
          Format("NetworkNodeClient::SendCommand() - Error, the reply to an abandoned command has "
                 "not arrived within %lli ms, the command was not sent.  command: %s",
                 static_cast<long long>(mOwedReplyTimeoutMs.load()), command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kNotSent, ExchangeReason::kNoReplyInTime,
                                    mOwedReplyTimeoutMs.load());
    }
    mReplyOwed.store(false);
    if (s == RecvStatus::kOk) {
      Log(client_log::kNotice,
          Format("NetworkNodeClient::SendCommand() - Notice, the late reply to an abandoned "
                 "command has been discarded.  reply: %s",
                 frame::PayloadText(std::string_view(late.data(), late.size())).c_str()));
    }
    if (s != RecvStatus::kOk) {
      const ExchangeStatus failure = ReceiveFailureLocked();
      return ExchangeStatus::Failed(ExchangeResult::kNotSent, failure.reason);
    }
    if (!mIsInitialized.load()) return NotConnected();
  } else if (!DiscardUnsolicitedLocked(command)) {
    const ExchangeStatus failure = ReceiveFailureLocked();
    return ExchangeStatus::Failed(ExchangeResult::kNotSent, failure.reason);
  }
  if (!mIsInitialized.load()) return NotConnected();

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
  const RecvStatus s = ReceiveFrameLocked(payload, wait);
  switch (s) {
    case RecvStatus::kOk:
      return ExchangeStatus::Replied();
    case RecvStatus::kStopped:
      mReplyOwed.store(true);
      Log(client_log::kNotice,
          Format("NetworkNodeClient::SendCommand() - Notice, stopped while waiting for the reply, "
                 "the reply will be discarded when it arrives.  command: %s",
                 command.c_str()));
      return ExchangeStatus::Failed(ExchangeResult::kStopped, ExchangeReason::kStopped);
    case RecvStatus::kTimedOut:
      // Not owed: the bound has been waited out. A reply that still comes
      // is discarded as unsolicited before the next command; a frame caught
      // half-way is finished first.
      if (mIncoming.headerGot > 0) mReplyOwed.store(true);
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

std::string NetworkNodeClient::ExchangeReplyLocked(const std::string& command,
                                                   const StopSignal* stop) {
  std::vector<char> payload;
  if (ExchangeLocked(command, &payload, stop) != ExchangeStatus::kReplied) return "-1";
  return frame::PayloadText(std::string_view(payload.data(), payload.size()));
}

void NetworkNodeClient::SetOwedReplyTimeout(std::chrono::milliseconds timeout) {
  mOwedReplyTimeoutMs.store(std::max<long long>(0, timeout.count()));
}

void NetworkNodeClient::SetReplyTimeout(std::chrono::milliseconds timeout) {
  mReplyTimeoutMs.store(std::max<long long>(0, timeout.count()));
}

std::chrono::milliseconds NetworkNodeClient::GetReplyTimeout() const {
  return std::chrono::milliseconds(mReplyTimeoutMs.load());
}

// ---------------------------------------------------------------------------
// Addresses, log, facts

std::string NetworkNodeClient::GetLocalIPAddress() {
  uint32_t address = 0;
  const std::string host = net::HostName();
  if (host.empty() || net::ResolveIPv4(host, &address) != 0) {
    Log(client_log::kError,
        Format("NetworkNodeClient::GetLocalIPAddress() - Error, unable to resolve this "
               "computer's name, the loopback address is used instead.  hostName: %s",
               host.c_str()));
    return "127.0.0.1";
  }
  return net::FormatIPv4(address);
}

void NetworkNodeClient::SetConnectError(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mStateLock);
  mConnectError = reason;
}

std::string NetworkNodeClient::GetConnectError() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mConnectError;
}

bool NetworkNodeClient::SetLogFileName(const std::string& fileName) {
  return mLogFile.Open(fileName) == 0;
}

std::string NetworkNodeClient::GetServerName() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mServerName;
}

std::string NetworkNodeClient::GetServerIPAddress() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mServerIPAddress;
}

std::string NetworkNodeClient::GetServerApplicationName() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mServerApplicationName;
}

int NetworkNodeClient::GetPortNumber() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mPortNumber;
}

std::vector<std::string> NetworkNodeClient::GetObjectNames() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mObjectNames;
}

std::vector<std::string> NetworkNodeClient::GetObjectTypes() const {
  std::lock_guard<std::mutex> lock(mStateLock);
  return mObjectTypes;
}

// ---------------------------------------------------------------------------
// Streams

NodeConnectionClient* NetworkNodeClient::StreamForDataType(const std::string& dataType) {
  for (int i = 0; i < kStreamCount; ++i)
    if (dataType == kStreamTypeNames[i]) return mStreams[i];
  return nullptr;
}

int NetworkNodeClient::InitializeConnectionNodes(const StopSignal* cancel) {
  ExchangeGuard guard(*this, nullptr, true);
  if (!guard.locked()) return -1;

  // The server reaches us at the address of the message connection it
  // already has; resolving our host name could name another interface.
  std::string address;
  {
    uint32_t local = 0;
    int local_port = 0;
    const net::SocketHandle socket = CurrentSocket();
    if (socket != net::kInvalidSocket && net::LocalAddress(socket, &local, &local_port) == 0 &&
        local != 0) {
      address = net::FormatIPv4(local);
    } else {
      address = GetLocalIPAddress();
    }
  }

  CloseSetUpStreamsLocked();
  for (int i = 0; i < kStreamCount; ++i) {
    if (cancel != nullptr && cancel->IsRequested()) return -1;
    const std::string reply = ExchangeReplyLocked("-GetNextAvailablePortNumber", cancel);
    int values[2] = {0, 0};
    client_text::ReadIntegers(reply, values, 2);
    if (values[0] != 0) {
      Log(client_log::kError,
          "NetworkNodeClient::InitializeConnectionNodes() - call to get next port number failed, "
          "unable to initialize server streams.");
      return -1;
    }
    NodeConnectionClient& stream = *mStreams[i];
    const bool listening = stream.InitServerStream(values[1]);
    // Port 0 lets the system choose; announce the port really listened on.
    const int port = listening ? stream.GetPortNumber() : values[1];
    ExchangeReplyLocked(
        Format("-CreateStream %s %i %s", address.c_str(), port, kStreamTypeNames[i]), cancel);
  }
  mStreamsInitialized.store(true);
  return 0;
}

bool NetworkNodeClient::OpenStream(const std::string& objectName, const std::string& dataType) {
  if (!mIsInitialized.load()) return false;
  ExchangeGuard guard(*this, nullptr, true);
  if (!guard.locked()) return false;
  return OpenStreamLocked(objectName, dataType);
}

bool NetworkNodeClient::OpenStreamLocked(const std::string& objectName,
                                         const std::string& dataType) {
  if (!mIsInitialized.load()) return false;
  bool paired = false;
  {
    std::lock_guard<std::mutex> lock(mStateLock);
    for (size_t i = 0; i < mObjectNames.size() && i < mObjectTypes.size(); ++i) {
      if (mObjectNames[i] == objectName && mObjectTypes[i] == dataType) {
        paired = true;
        break;
      }
    }
  }
  if (!paired) {
    Log(client_log::kError,
        Format("NetworkNodeClient::OpenStream() - Error, invalid parameter, unrecognized object "
               "name and data type pairing.  objectName: %s, dataType: %s",
               objectName.c_str(), dataType.c_str()));
    return false;
  }
  NodeConnectionClient* stream = StreamForDataType(dataType);
  if (stream == nullptr) {
    Log(client_log::kError,
        Format("NetworkNodeClient::OpenStream() - Error, invalid parameter, unrecognized data "
               "type.  dataType: %s",
               dataType.c_str()));
    return false;
  }
  if (!stream->AddStreamObject(objectName)) return false;
  std::vector<char> ignored;
  if (ExchangeLocked(Format("-OpenStream %s %s", objectName.c_str(), dataType.c_str()), &ignored,
                     nullptr) == ExchangeStatus::kNotSent) {
    // The server never heard of it: the object is not open.
    stream->RemoveStreamObject(objectName);
    return false;
  }
  return true;
}

bool NetworkNodeClient::CloseStream(const std::string& objectName, const std::string& dataType) {
  ExchangeGuard guard(*this, nullptr, true);
  if (!guard.locked()) return false;
  return CloseStreamLocked(objectName, dataType);
}

bool NetworkNodeClient::CloseStreamLocked(const std::string& objectName,
                                          const std::string& dataType) {
  NodeConnectionClient* stream = StreamForDataType(dataType);
  if (stream == nullptr) {
    Log(client_log::kError,
        Format("NetworkNodeClient::CloseStream() - Error, invalid parameter, unrecognized data "
               "type.  dataType: %s",
               dataType.c_str()));
    return false;
  }
  if (!stream->RemoveStreamObject(objectName)) return false;
  std::vector<char> ignored;
  return ExchangeLocked(Format("-CloseStream %s %s", objectName.c_str(), dataType.c_str()),
                        &ignored, nullptr) != ExchangeStatus::kNotSent;
}

// ---------------------------------------------------------------------------
// Objects and types

bool NetworkNodeClient::RequestObjectsAndTypes(std::vector<std::string>& names,
                                               std::vector<std::string>& types) {
  std::vector<std::string> object_names;
  std::vector<std::string> object_types;
  {
    ExchangeGuard guard(*this, nullptr, true);
    if (!guard.locked()) return false;
    {
      std::lock_guard<std::mutex> lock(mStateLock);
      mObjectNames.clear();
      mObjectTypes.clear();
    }
    // One list request: status 0, a space, the tokens.
    auto request = [&](const char* command, std::vector<std::string>& callers,
                       std::vector<std::string>& own) {
      std::vector<char> payload;
      if (ExchangeLocked(command, &payload, nullptr) != ExchangeStatus::kReplied) return false;
      const std::string reply =
          frame::PayloadText(std::string_view(payload.data(), payload.size()));
      if (client_text::LeadingInteger(reply) != 0) return false;
      const size_t space = reply.find(' ');
      if (space == std::string::npos) return false;
      const std::string list = reply.substr(space + 1);
      ParseCommandString(list, callers);
      ParseCommandString(list, own);
      return true;
    };
    if (!request("-RequestQuorvinObjects", names, object_names)) return false;
    {
      std::lock_guard<std::mutex> lock(mStateLock);
      mObjectNames = object_names;
    }
    if (!request("-RequestQuorvinTypes", types, object_types)) return false;
    {
      std::lock_guard<std::mutex> lock(mStateLock);
      mObjectTypes = object_types;
    }
    if (object_names.size() != object_types.size()) {
      Log(client_log::kWarning,
          Format("NetworkNodeClient::RequestObjectsAndTypes() - Warning, the server listed %i "
                 "object names but %i data types, objects without a data type cannot be "
                 "opened.",
                 static_cast<int>(object_names.size()), static_cast<int>(object_types.size())));
    }
  }
  // Outside the exchange lock: a stream callback that is running may itself
  // be waiting to exchange.
  for (NodeConnectionClient* stream : mStreams)
    stream->UpdateObjectList(object_names, object_types);
  return true;
}

bool NetworkNodeClient::ParseCommandString(const std::string& text,
                                           std::vector<std::string>& tokens) {
  tokens.clear();
  std::string rest = text;
  for (char& c : rest)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  while (!rest.empty()) {
    const size_t first = rest.find_first_not_of(' ');
    if (first == std::string::npos) {
      rest.clear();
    } else {
      const size_t last = rest.find_last_not_of(' ');
      rest = rest.substr(first, last - first + 1);
    }
    if (!rest.empty() && rest[0] == '"') {
      rest.erase(0, 1);
      const size_t close = rest.find('"');
      if (close == std::string::npos) {
        Log(client_log::kError,
            Format("CommandProcessor::ParseCommandString() - Error Processing command string, "
                   "unable to find matching double quotes. command string: %s",
                   rest.c_str()));
        return false;
      }
      tokens.push_back(rest.substr(0, close));
      rest.erase(0, close + 1);
    } else {
      const size_t space = rest.find(' ');
      if (space == std::string::npos) {
        tokens.push_back(rest);
        rest.clear();
      } else {
        tokens.push_back(rest.substr(0, space));
        rest.erase(0, space + 1);
      }
    }
  }
  return true;
}

}  // namespace orvanta
