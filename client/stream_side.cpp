#include "client/stream_side.h"

#include "client/reply_parsing.h"
#include "platform/text_format.h"

namespace orvanta {
namespace {

using text_format::Format;

// The six streams' names in "-CreateStream" and the data types they serve,
// in stream order.
constexpr const char* kStreamTypeNames[StreamSide::kStreamCount] = {
    "SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt", "CscAcqEnt", "VTAcqEnt", "EventAcqEnt"};

}  // namespace

StreamSide::StreamSide(ClientLogFile& log)
    : mLog(log),
      mStreamSE(&log),
      mStreamST(&log),
      mStreamTT(&log),
      mStreamCSC(&log),
      mStreamVT(&log),
      mStreamEV(&log),
      mStreams{&mStreamSE, &mStreamST, &mStreamTT, &mStreamCSC, &mStreamVT, &mStreamEV} {}

NodeConnectionClient* StreamSide::StreamForDataType(const std::string& dataType) {
  for (int i = 0; i < kStreamCount; ++i)
    if (dataType == kStreamTypeNames[i]) return mStreams[i];
  return nullptr;
}

int StreamSide::InitializeLocked(MessageExchange& exchange, const std::string& address,
                                 const StopSignal* cancel) {
  CloseSetUpLocked(exchange);
  for (int i = 0; i < kStreamCount; ++i) {
    if (cancel != nullptr && cancel->IsRequested()) return -1;
    const std::string reply = exchange.ExchangeReplyLocked("-GetNextAvailablePortNumber", cancel);
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
    exchange.ExchangeReplyLocked(
        Format("-CreateStream %s %i %s", address.c_str(), port, kStreamTypeNames[i]), cancel);
  }
  mInitialized.store(true);
  return 0;
}

bool StreamSide::OpenLocked(MessageExchange& exchange, const std::string& objectName,
                            const std::string& dataType) {
  bool paired = false;
  {
    MutexLock lock(&mListsLock);
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
  if (exchange.ExchangeLocked(Format("-OpenStream %s %s", objectName.c_str(), dataType.c_str()),
                              &ignored, nullptr) == ExchangeStatus::kNotSent) {
    // The server never heard of it: the object is not open.
    stream->RemoveStreamObject(objectName);
    return false;
  }
  return true;
}

bool StreamSide::CloseLocked(MessageExchange& exchange, const std::string& objectName,
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
  return exchange.ExchangeLocked(Format("-CloseStream %s %s", objectName.c_str(), dataType.c_str()),
                                 &ignored, nullptr) != ExchangeStatus::kNotSent;
}

void StreamSide::ShutDownLocked(MessageExchange& exchange) {
  if (mInitialized.load()) {
    const std::vector<std::string> names = GetObjectNames();
    const std::vector<std::string> types = GetObjectTypes();
    // Once one "-CloseStream" gets no reply, the rest are not sent: a
    // silent server would hold the disconnect up a reply bound per object.
    bool answering = true;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string type = i < types.size() ? types[i] : std::string();
      if (answering) {
        exchange.SetLastStatusLocked(ExchangeStatus::Replied());  // stays so when nothing is sent
        CloseLocked(exchange, names[i], type);
        answering = exchange.LastStatusLocked() == ExchangeStatus::kReplied;
      } else if (NodeConnectionClient* stream = StreamForDataType(type)) {
        stream->RemoveStreamObject(names[i]);
      }
    }
    for (NodeConnectionClient* stream : mStreams) stream->RequestStop();
    for (NodeConnectionClient* stream : mStreams) stream->CloseServerStream();
  } else {
    CloseSetUpLocked(exchange);
  }
  mInitialized.store(false);
}

void StreamSide::CloseSetUpLocked(MessageExchange& exchange) {
  bool any = false;
  for (NodeConnectionClient* stream : mStreams) any = any || stream->IsSetUp();
  if (!any) return;
  exchange.BeginRefusing();
  for (NodeConnectionClient* stream : mStreams)
    if (stream->IsSetUp()) stream->RequestStop();
  for (NodeConnectionClient* stream : mStreams)
    if (stream->IsSetUp()) stream->CloseServerStream();
  exchange.EndRefusing();
}

std::vector<std::string> StreamSide::GetObjectNames() const {
  MutexLock lock(&mListsLock);
  return mObjectNames;
}

std::vector<std::string> StreamSide::GetObjectTypes() const {
  MutexLock lock(&mListsLock);
  return mObjectTypes;
}

void StreamSide::ClearObjectLists() {
  MutexLock lock(&mListsLock);
  mObjectNames.clear();
  mObjectTypes.clear();
}

void StreamSide::SetObjectNames(const std::vector<std::string>& names) {
  MutexLock lock(&mListsLock);
  mObjectNames = names;
}

void StreamSide::SetObjectTypes(const std::vector<std::string>& types) {
  MutexLock lock(&mListsLock);
  mObjectTypes = types;
}

void StreamSide::UpdateObjectLists(const std::vector<std::string>& names,
                                   const std::vector<std::string>& types) {
  for (NodeConnectionClient* stream : mStreams) stream->UpdateObjectList(names, types);
}

}  // namespace orvanta
