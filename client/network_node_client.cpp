#include "client/network_node_client.h"

#include <utility>

#include "client/frame_codec.h"
#include "client/reply_parsing.h"
#include "client/socket_errors.h"
#include "platform/text_format.h"

namespace orvanta {
namespace {

using text_format::Format;

}  // namespace

NetworkNodeClient::NetworkNodeClient(const Clock& clock, MessageBoxes& boxes)
    : mLogFile(clock),
      mConnection(mLogFile),
      mExchange(mConnection, mLogFile, boxes,
                [this] {
                  // Called by the exchange with its lock held.
                  mExchange.AssertHeld();
                  ShutdownLocked();
                }),
      mStreamSide(mLogFile) {
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

void NetworkNodeClient::ProcessSendError(int code) {
  LogSocketError(mLogFile, net::SocketCall::kSend, code);
}

void NetworkNodeClient::ProcessRecieveError(int code) {
  LogSocketError(mLogFile, net::SocketCall::kRecieve, code);
}

void NetworkNodeClient::ProcessCloseError(int code) {
  LogSocketError(mLogFile, net::SocketCall::kClose, code);
}

int NetworkNodeClient::SocketStartup() {
  const int code = net::Startup();
  if (code == 0) return 0;
  const std::string text = net::SocketErrorText(net::SocketCall::kStartup, code);
  if (text.empty()) return 0;
  Log(client_log::kError, text);
  return -1;
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
  if (mConnection.IsConnected()) {
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
  if (!mExchange.Acquire(nullptr, false)) return false;  // cannot fail without a stop or refusal
  MessageExchange::Guard guard(mExchange);
  if (mConnection.IsConnected()) {
    Log(client_log::kWarning, kAlready);
    return false;
  }

  if (!mConnection.Open(serverName, portNumber, mExchange.GetReplyTimeout().count(), cancel))
    return false;
  mExchange.ResetLocked();
  mConnection.SetConnected(true);

  std::vector<char> payload;
  const ExchangeStatus status = mExchange.ExchangeLocked("-GetApplicationName", &payload, cancel);
  if (status == ExchangeStatus::kStopped) {
    // Cancelled: no connection is left behind.
    Log(client_log::kWarning,
        "NetworkNodeClient::InitializeClient() - Warning, the connection attempt was cancelled, "
        "the connection has been closed.");
    ShutdownLocked();
    SetConnectError("the connection attempt was cancelled");
    return false;
  }
  if (status != ExchangeStatus::kReplied)
    NoteConnectCommandUnanswered("-GetApplicationName", status);
  if (status != ExchangeStatus::kNotSent) {
    std::string name = "-1";
    if (status == ExchangeStatus::kReplied) {
      name = frame::PayloadText(std::string_view(payload.data(), payload.size()));
      const size_t space = name.find(' ');
      if (space != std::string::npos) name = name.substr(space + 1);
    }
    mConnection.SetServerApplicationName(name);
  }

  Log(client_log::kNotice,
      "NetworkNodeClient::InitializeClient() - Message Client successfully initialized");
  return true;
}

// ---------------------------------------------------------------------------
// Shutting down

bool NetworkNodeClient::BeginShutdown() {
  Log(client_log::kNotice,
      "NetworkNodeClient::ShutdownClient() - Attempting to Shutdown Message Client");
  if (!mConnection.IsConnected()) {
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
  mExchange.BeginRefusing();
  return true;
}

void NetworkNodeClient::EndShutdown() {
  mExchange.EndRefusing();
  mShutdownInProgress.store(false);
}

bool NetworkNodeClient::ShutdownClient() {
  if (!BeginShutdown()) return false;

  mExchange.AcquireForShutdown();
  bool result = false;
  {
    MessageExchange::Guard guard(mExchange);
    if (!mConnection.IsConnected()) {
      Log(client_log::kWarning,
          "NetworkNodeClient::ShutdownClient() - Unable to Close Message Client, Client has not "
          "yet been initialized");
    } else {
      result = ShutdownStepsLocked();
    }
    EndShutdown();
  }
  return result;
}

bool NetworkNodeClient::ShutdownLocked() {
  if (!BeginShutdown()) return false;
  const bool result = ShutdownStepsLocked();
  EndShutdown();
  return result;
}

bool NetworkNodeClient::ShutdownStepsLocked() {
  mStreamSide.ShutDownLocked(mExchange);
  mExchange.ResetLocked();
  return mConnection.Close();
}

// ---------------------------------------------------------------------------
// The exchange and its single steps

NetworkNodeClient::ExchangeStatus NetworkNodeClient::Exchange(const std::string& command,
                                                              std::vector<char>* payload,
                                                              const StopSignal* stop) {
  return mExchange.Exchange(command, payload, stop);
}

bool NetworkNodeClient::ExchangeText(const std::string& command, std::string& reply,
                                     const StopSignal* stop) {
  std::vector<char> payload;
  if (Exchange(command, &payload, stop) != ExchangeStatus::kReplied) return false;
  reply = frame::PayloadText(std::string_view(payload.data(), payload.size()));
  return true;
}

bool NetworkNodeClient::SendCommand(const std::string& command) {
  return mExchange.SendCommand(command);
}

bool NetworkNodeClient::SendMessage(const char* bytes, int length) {
  return mExchange.SendMessage(bytes, length);
}

bool NetworkNodeClient::GetBuffer(char* buffer, int count) {
  return mExchange.GetBuffer(buffer, count);
}

bool NetworkNodeClient::RecieveMessage(std::vector<char>& buffer, int& size) {
  return mExchange.RecieveMessage(buffer, size);
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

void NetworkNodeClient::SetReplyTimeout(std::chrono::milliseconds timeout) {
  mExchange.SetReplyTimeout(timeout);
}

std::chrono::milliseconds NetworkNodeClient::GetReplyTimeout() const {
  return mExchange.GetReplyTimeout();
}

// ---------------------------------------------------------------------------
// Addresses, log, facts

std::string NetworkNodeClient::GetLocalIPAddress() { return mConnection.GetLocalIPAddress(); }

void NetworkNodeClient::SetConnectError(const std::string& reason) {
  mConnection.SetConnectError(reason);
}

void NetworkNodeClient::NoteConnectCommandUnanswered(const std::string& command,
                                                     const ExchangeStatus& status) {
  const std::string what = "the server did not answer " + command + " (" + status.Describe() + ")";
  Log(client_log::kWarning, "NetworkNodeClient::InitializeClient() - Warning, " + what);
  mConnection.AddConnectWarning(what);
}

std::string NetworkNodeClient::GetConnectError() const { return mConnection.GetConnectError(); }

bool NetworkNodeClient::SetLogFileName(const std::string& fileName) {
  return mLogFile.Open(fileName) == 0;
}

std::string NetworkNodeClient::GetServerName() const { return mConnection.GetServerName(); }

std::string NetworkNodeClient::GetServerIPAddress() const {
  return mConnection.GetServerIPAddress();
}

std::string NetworkNodeClient::GetServerApplicationName() const {
  return mConnection.GetServerApplicationName();
}

int NetworkNodeClient::GetPortNumber() const { return mConnection.GetPortNumber(); }

std::vector<std::string> NetworkNodeClient::GetObjectNames() const {
  return mStreamSide.GetObjectNames();
}

std::vector<std::string> NetworkNodeClient::GetObjectTypes() const {
  return mStreamSide.GetObjectTypes();
}

// ---------------------------------------------------------------------------
// Streams

NodeConnectionClient* NetworkNodeClient::StreamForDataType(const std::string& dataType) {
  return mStreamSide.StreamForDataType(dataType);
}

int NetworkNodeClient::InitializeConnectionNodes(const StopSignal* cancel) {
  if (!mExchange.Acquire(nullptr, true)) return -1;
  MessageExchange::Guard guard(mExchange);
  return mStreamSide.InitializeLocked(mExchange, mConnection.AddressSeenByServer(), cancel);
}

bool NetworkNodeClient::OpenStream(const std::string& objectName, const std::string& dataType) {
  if (!mConnection.IsConnected()) return false;
  if (!mExchange.Acquire(nullptr, true)) return false;
  MessageExchange::Guard guard(mExchange);
  if (!mConnection.IsConnected()) return false;
  return mStreamSide.OpenLocked(mExchange, objectName, dataType);
}

bool NetworkNodeClient::CloseStream(const std::string& objectName, const std::string& dataType) {
  if (!mExchange.Acquire(nullptr, true)) return false;
  MessageExchange::Guard guard(mExchange);
  return mStreamSide.CloseLocked(mExchange, objectName, dataType);
}

// ---------------------------------------------------------------------------
// Objects and types

bool NetworkNodeClient::RequestObjectsAndTypes(std::vector<std::string>& names,
                                               std::vector<std::string>& types) {
  std::vector<std::string> object_names;
  std::vector<std::string> object_types;
  {
    if (!mExchange.Acquire(nullptr, true)) return false;
    MessageExchange::Guard guard(mExchange);
    mStreamSide.ClearObjectLists();
    // One list request: status 0, a space, the tokens.
    auto request = [&](const char* command, std::vector<std::string>& callers,
                       std::vector<std::string>& own) REQUIRES(mExchange.lock()) {
      std::vector<char> payload;
      if (mExchange.ExchangeLocked(command, &payload, nullptr) != ExchangeStatus::kReplied)
        return false;
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
    mStreamSide.SetObjectNames(object_names);
    if (!request("-RequestQuorvinTypes", types, object_types)) return false;
    mStreamSide.SetObjectTypes(object_types);
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
  mStreamSide.UpdateObjectLists(object_names, object_types);
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
