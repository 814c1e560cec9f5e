#include "client/vintra_client.h"

#include <algorithm>
#include <cstring>

#include "client/frame_codec.h"
#include "client/reply_parsing.h"
#include "client/socket_layer.h"
#include "platform/text_format.h"

namespace orvanta {

using text_format::Format;

VintraClient::VintraClient(const Clock& clock, MessageBoxes& boxes)
    : mNetworkNodeClient(std::make_unique<NetworkNodeClient>(clock, boxes)) {}

VintraClient::~VintraClient() = default;

void VintraClient::SetServerPorts(int negotiationPort, int messagePort) {
  mNegotiationPort.store(negotiationPort);
  mMessagePort.store(messagePort);
}

bool VintraClient::ConnectToServer(const std::string& serverName, bool negotiatePort,
                                   const StopSignal* cancel) {
  return ConnectToServer(serverName, negotiatePort, mNegotiationPort.load(), mMessagePort.load(),
                         cancel);
}

bool VintraClient::ConnectToServer(const std::string& serverName, bool negotiatePort,
                                   int negotiationPort, int messagePort, const StopSignal* cancel) {
  NetworkNodeClient& client = *mNetworkNodeClient;
  auto cancelled = [&] {
    if (cancel == nullptr || !cancel->IsRequested()) return false;
    if (client.IsInitialized()) client.ShutdownClient();
    client.SetConnectError("the connection attempt was cancelled");
    return true;
  };
  // A connection that no longer completes an exchange (its server never
  // answered a command, or a broken reply left it reading out of step)
  // reports itself as not connected; a new connect replaces it instead of
  // being refused as already initialized. One that still answers is kept.
  if (client.IsInitialized() && !IsConnected(cancel)) client.ShutdownClient();
  if (cancelled()) return false;
  client.ClearConnectWarnings();
  if (negotiatePort) {
    if (client.InitializeClient(serverName, negotiationPort, cancel)) {
      std::vector<char> payload;
      const ExchangeStatus status =
          client.Exchange("-GetNextAvailablePortNumber", &payload, cancel);
      if (cancelled()) return false;
      if (!status.IsReplied()) {
        client.ShutdownClient();
        client.SetConnectError("the server did not answer -GetNextAvailablePortNumber (" +
                               status.Describe() + ")");
        return false;
      }
      const std::string reply =
          frame::PayloadText(std::string_view(payload.data(), payload.size()));
      int values[2] = {0, 0};
      client_text::ReadIntegers(reply, values, 2);
      if (values[0] != 0) {
        client.ShutdownClient();
        client.SetConnectError("the server handed out no message port (reply \"" + reply + "\")");
        return false;
      }
      if (!client.ShutdownClient()) return false;
      if (!client.InitializeClient(serverName, values[1], cancel)) return false;
    } else if (cancelled() || !client.InitializeClient(serverName, messagePort, cancel)) {
      return false;
    }
  } else if (!client.InitializeClient(serverName, messagePort, cancel)) {
    return false;
  }

  if (client.InitializeConnectionNodes(cancel) != 0) {
    // No half-connected state: without its streams the connection goes too.
    client.ShutdownClient();
    if (!cancelled()) client.SetConnectError("the data streams could not be set up");
    return false;
  }
  const ExchangeStatus named =
      client.Exchange("-SetComputerName " + GetComputerName(), nullptr, cancel);
  if (cancelled()) return false;
  if (!named.IsReplied()) client.NoteConnectCommandUnanswered("-SetComputerName", named);
  return true;
}

std::string VintraClient::GetConnectWarnings() const {
  return mNetworkNodeClient->GetConnectWarnings();
}

std::string VintraClient::GetConnectError() const { return mNetworkNodeClient->GetConnectError(); }

bool VintraClient::DisconnectFromServer() { return mNetworkNodeClient->ShutdownClient(); }

bool VintraClient::IsConnected(const StopSignal* cancel) { return SetComputerName(cancel); }

bool VintraClient::HasConnection() const { return mNetworkNodeClient->IsInitialized(); }

std::string VintraClient::GetComputerName() {
  std::string name = net::HostName();
  if (name.size() > 127) name.resize(127);
  return name;
}

bool VintraClient::SetComputerName(const StopSignal* cancel) {
  std::string reply;
  return mNetworkNodeClient->ExchangeText("-SetComputerName " + GetComputerName(), reply, cancel);
}

bool VintraClient::SetApplicationName(const std::string& name) {
  std::string reply;
  return mNetworkNodeClient->ExchangeText("-SetApplicationName \"" + name + "\"", reply, nullptr);
}

std::string VintraClient::GetServerName() const { return mNetworkNodeClient->GetServerName(); }

std::string VintraClient::GetServerIPAddress() const {
  return mNetworkNodeClient->GetServerIPAddress();
}

std::string VintraClient::GetServerApplicationName() const {
  return mNetworkNodeClient->GetServerApplicationName();
}

bool VintraClient::SetLogFileName(const std::string& fileName) {
  return mNetworkNodeClient->SetLogFileName(fileName);
}

OutputFileFailure VintraClient::GetLogOpenFailure() const {
  return mNetworkNodeClient->GetLogOpenFailure();
}

bool VintraClient::SendCommand(const std::string& command, std::string& reply,
                               const StopSignal* stop) {
  return mNetworkNodeClient->ExchangeText(command, reply, stop);
}

ExchangeStatus VintraClient::Exchange(const std::string& command, std::string& reply,
                                      const StopSignal* stop) {
  std::vector<char> payload;
  const ExchangeStatus status = mNetworkNodeClient->Exchange(command, &payload, stop);
  if (status == ExchangeStatus::kReplied) {
    reply = frame::PayloadText(std::string_view(payload.data(), payload.size()));
  }
  return status;
}

bool VintraClient::SendCommandBinaryReply(const std::string& command, std::vector<char>& buffer,
                                          int& size) {
  std::vector<char> payload;
  if (mNetworkNodeClient->Exchange(command, &payload, nullptr) !=
      NetworkNodeClient::ExchangeStatus::kReplied) {
    return false;
  }
  buffer.swap(payload);
  size = static_cast<int>(buffer.size());
  return true;
}

bool VintraClient::RequestText(const std::string& command, std::string& reply) {
  return mNetworkNodeClient->ExchangeText(command, reply, nullptr);
}

bool VintraClient::RequestIntegers(const std::string& command, int* values, int count) {
  std::string reply;
  if (!RequestText(command, reply)) return false;
  client_text::ReadIntegers(reply, values, count);
  return values[0] >= 0;
}

bool VintraClient::RequestPair(const std::string& command, int& first, int& second) {
  first = 0;
  second = 0;
  int values[3] = {0, 0, 0};
  const bool ok = RequestIntegers(command, values, 3);
  first = values[1];
  second = values[2];
  return ok;
}

bool VintraClient::RequestRingBufferSize(const std::string& objectName, int& first, int& second) {
  return RequestPair("-RequestRingBufferSize " + objectName, first, second);
}

bool VintraClient::RequestSamplingFrequency(const std::string& objectName, int& frequency) {
  frequency = 0;
  int values[2] = {0, 0};
  const bool ok = RequestIntegers("-RequestSamplingFrequency " + objectName, values, 2);
  frequency = values[1];
  return ok;
}

bool VintraClient::RequestADRange(const std::string& objectName, int& first, int& second) {
  return RequestPair("-RequestADRange " + objectName, first, second);
}

bool VintraClient::RequestFeature(const std::string& objectName, int featureIndex,
                                  std::string& feature) {
  std::string reply;
  if (!RequestText(Format("-RequestFeature %s %i", objectName.c_str(), featureIndex), reply))
    return false;
  const size_t space = reply.find(' ');
  if (space == std::string::npos) return false;
  if (client_text::LeadingInteger(reply.substr(0, space)) < 0) return false;
  feature = reply.substr(space + 1);
  return true;
}

bool VintraClient::LogMessage(const std::string& message, int value) {
  std::string reply;
  return RequestText(Format("-LogMessage %s %i", message.c_str(), value), reply);
}

bool VintraClient::RequestRingBuffer(const std::string& objectName, char* buffer, int bufferSize,
                                     int& bytesCopied) {
  const int capacity = buffer == nullptr ? 0 : std::max(bufferSize, 0);
  if (capacity > 0) std::memset(buffer, 0, static_cast<size_t>(capacity));
  bytesCopied = 0;
  std::vector<char> payload;
  if (mNetworkNodeClient->Exchange("-RequestRingBuffer " + objectName, &payload, nullptr) !=
      NetworkNodeClient::ExchangeStatus::kReplied) {
    return false;
  }
  const int count = std::min(capacity, static_cast<int>(payload.size()));
  if (count > 0) std::memcpy(buffer, payload.data(), static_cast<size_t>(count));
  bytesCopied = count;
  return true;
}

bool VintraClient::GetObjectsAndTypes(std::vector<std::string>& names,
                                      std::vector<std::string>& types) {
  std::vector<std::string> object_names;
  std::vector<std::string> object_types;
  if (!mNetworkNodeClient->RequestObjectsAndTypes(object_names, object_types)) return false;
  names.clear();
  types.clear();
  for (size_t i = 0; i < object_names.size(); ++i) {
    names.push_back(object_names[i]);
    types.push_back(i < object_types.size() ? object_types[i] : std::string());
  }
  return true;
}

bool VintraClient::OpenStream(const std::string& objectName, const std::string& dataType) {
  return mNetworkNodeClient->OpenStream(objectName, dataType);
}

bool VintraClient::CloseStream(const std::string& objectName, const std::string& dataType) {
  return mNetworkNodeClient->CloseStream(objectName, dataType);
}

void VintraClient::SetCallbackFunctionSE(StreamCallback callback, void* context) {
  mNetworkNodeClient->Stream(NetworkNodeClient::kStreamSE).SetCallbackFunctionSE(callback, context);
}
void VintraClient::SetCallbackFunctionST(StreamCallback callback, void* context) {
  mNetworkNodeClient->Stream(NetworkNodeClient::kStreamST).SetCallbackFunctionST(callback, context);
}
void VintraClient::SetCallbackFunctionTT(StreamCallback callback, void* context) {
  mNetworkNodeClient->Stream(NetworkNodeClient::kStreamTT).SetCallbackFunctionTT(callback, context);
}
void VintraClient::SetCallbackFunctionCSC(StreamCallback callback, void* context) {
  mNetworkNodeClient->Stream(NetworkNodeClient::kStreamCSC)
      .SetCallbackFunctionCSC(callback, context);
}
void VintraClient::SetCallbackFunctionEV(StreamCallback callback, void* context) {
  mNetworkNodeClient->Stream(NetworkNodeClient::kStreamEV).SetCallbackFunctionEV(callback, context);
}
void VintraClient::SetCallbackFunctionVT(StreamCallback callback, void* context) {
  mNetworkNodeClient->Stream(NetworkNodeClient::kStreamVT).SetCallbackFunctionVT(callback, context);
}

void VintraClient::SetRecordTap(RecordTap* tap) {
  for (int i = 0; i < StreamSide::kStreamCount; ++i)
    mNetworkNodeClient->Stream(i).SetRecordTap(tap);
}

void VintraClient::SetReplyTimeout(std::chrono::milliseconds timeout) {
  mNetworkNodeClient->SetReplyTimeout(timeout);
}

std::chrono::milliseconds VintraClient::GetReplyTimeout() const {
  return mNetworkNodeClient->GetReplyTimeout();
}

}  // namespace orvanta
