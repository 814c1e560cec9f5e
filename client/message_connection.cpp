#include "client/message_connection.h"

#include "platform/text_format.h"

namespace orvanta {
namespace {

using text_format::Format;

constexpr char kNotConnected[] = "Not Connected";

}  // namespace

void LogSocketError(ClientLogFile& log, net::SocketCall call, int code) {
  const std::string text = net::SocketErrorText(call, code);
  if (!text.empty()) log.WriteLogEntry(client_log::kError, text);
}

MessageConnection::MessageConnection(ClientLogFile& log) : mLog(log) {}

bool MessageConnection::Open(const std::string& serverName, int portNumber, long long timeoutMs,
                             const StopSignal* cancel) {
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
  if (ConnectToServer(socket, address, portNumber, timeoutMs, cancel) != 0) {
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

  MutexLock lock(&mStateLock);
  mSocket = socket;
  mServerIPAddress = net::FormatIPv4(address);
  mPortNumber = portNumber;
  mServerName = serverName;
  return true;
}

int MessageConnection::CreateSocket(net::SocketHandle* socket) {
  int error = 0;
  *socket = net::CreateTcpSocket(&error);
  if (*socket == net::kInvalidSocket) {
    LogSocketError(mLog, net::SocketCall::kCreateSocket, error);
    return -1;
  }
  return 0;
}

int MessageConnection::GetServerInfo(uint32_t* address, const std::string& serverName) {
  const int error = net::ResolveIPv4(serverName, address);
  if (error != 0) {
    LogSocketError(mLog, net::SocketCall::kGetServerInfo, error);
    return -1;
  }
  return 0;
}

int MessageConnection::ConnectToServer(net::SocketHandle socket, uint32_t address, int portNumber,
                                       long long timeoutMs, const StopSignal* cancel) {
  const int error =
      net::ConnectBounded(socket, address, portNumber, static_cast<int>(timeoutMs),
                          [cancel] { return cancel != nullptr && cancel->IsRequested(); });
  if (error != 0) {
    LogSocketError(mLog, net::SocketCall::kConnect, error);
    return -1;
  }
  return 0;
}

bool MessageConnection::Close() {
  Log(client_log::kNotice,
      "NetworkNodeClient::ShutdownClient() - Attempting to Close Message Client Socket");
  net::SocketHandle socket;
  {
    MutexLock lock(&mStateLock);
    socket = mSocket;
    mSocket = net::kInvalidSocket;  // released by the close below, whatever it reports
  }
  if (socket != net::kInvalidSocket) {
    const int error = net::CloseSocket(socket);
    if (error != 0) {
      LogSocketError(mLog, net::SocketCall::kClose, error);
      Log(client_log::kError,
          "NetworkNodeClient::ShutdownClient() - Unable to Close Message Client Socket");
      return false;
    }
  }
  Log(client_log::kNotice,
      "NetworkNodeClient::ShutdownClient() - Attempt to Close Message Client Socket was "
      "successful");
  {
    MutexLock lock(&mStateLock);
    mServerIPAddress = kNotConnected;
    mPortNumber = -1;
    mServerName = kNotConnected;
  }
  mConnected.store(false);
  return true;
}

net::SocketHandle MessageConnection::Socket() const {
  MutexLock lock(&mStateLock);
  return mSocket;
}

std::string MessageConnection::AddressSeenByServer() {
  // The server reaches us at the address of the message connection it
  // already has; resolving our host name could name another interface.
  uint32_t local = 0;
  int local_port = 0;
  const net::SocketHandle socket = Socket();
  if (socket != net::kInvalidSocket && net::LocalAddress(socket, &local, &local_port) == 0 &&
      local != 0) {
    return net::FormatIPv4(local);
  }
  return GetLocalIPAddress();
}

std::string MessageConnection::GetLocalIPAddress() {
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

void MessageConnection::SetConnectError(const std::string& reason) {
  MutexLock lock(&mStateLock);
  mConnectError = reason;
}

std::string MessageConnection::GetConnectError() const {
  MutexLock lock(&mStateLock);
  return mConnectError;
}

void MessageConnection::AddConnectWarning(const std::string& warning) {
  MutexLock lock(&mStateLock);
  if (!mConnectWarnings.empty()) mConnectWarnings += "; ";
  mConnectWarnings += warning;
}

void MessageConnection::ClearConnectWarnings() {
  MutexLock lock(&mStateLock);
  mConnectWarnings.clear();
}

std::string MessageConnection::GetConnectWarnings() const {
  MutexLock lock(&mStateLock);
  return mConnectWarnings;
}

std::string MessageConnection::GetServerName() const {
  MutexLock lock(&mStateLock);
  return mServerName;
}

std::string MessageConnection::GetServerIPAddress() const {
  MutexLock lock(&mStateLock);
  return mServerIPAddress;
}

std::string MessageConnection::GetServerApplicationName() const {
  MutexLock lock(&mStateLock);
  return mServerApplicationName;
}

void MessageConnection::SetServerApplicationName(const std::string& name) {
  MutexLock lock(&mStateLock);
  mServerApplicationName = name;
}

int MessageConnection::GetPortNumber() const {
  MutexLock lock(&mStateLock);
  return mPortNumber;
}

}  // namespace orvanta
