// The six record kinds of the data streams as one table, and the part of
// NodeConnectionClient that depends on the kind: the callback registration,
// the object list and the delivery of each record to its object.
#include <algorithm>
#include <array>

#include "client/client_log_file.h"
#include "client/node_connection_client.h"
#include "platform/text_format.h"

namespace orvanta {
namespace {

// Where a record names its object: an index into the stream's object list.
enum class ObjectField {
  kInt32At8,   // a channel number
  kUInt16At2,  // a video tracker's id
  kNone,       // the stream's first object
};

struct StreamKind {
  const char* className;  // names the stream in its error entries
  int recordSize;
  const char* streamType;
  std::array<const char*, 3> keptTypes;  // the data types it serves (null: none)
  ObjectField objectField;
  const char* badIndex;  // the end of the entry for an index out of range (one %i)
};

// The three spike streams keep the same object list: every spike object of
// any of the three kinds, so a spike channel number indexes the combined list.
constexpr const char* kBadSpike =
    "invalid spike channel number from our vintra buffer.  scNumber: %i";
const StreamKind kKinds[] = {
    {"NodeConnectionClientSE",
     112,
     "SingleElectrode",
     {"SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt"},
     ObjectField::kInt32At8,
     kBadSpike},
    {"NodeConnectionClientST",
     176,
     "Stereotrode",
     {"SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt"},
     ObjectField::kInt32At8,
     kBadSpike},
    {"NodeConnectionClientTT",
     304,
     "Tetrode",
     {"SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt"},
     ObjectField::kInt32At8,
     kBadSpike},
    {"NodeConnectionClientCSC",
     1044,
     "CSC",
     {"CscAcqEnt"},
     ObjectField::kInt32At8,
     "invalid channel number from our vintra buffer.  chanNumber: %i"},
    {"NodeConnectionClientVT",
     1828,
     "Video",
     {"VTAcqEnt"},
     ObjectField::kUInt16At2,
     "invalid video tracker ID from our vintra buffer.  id: %i"},
    {"NodeConnectionClientEV", 184, "Event", {"EventAcqEnt"}, ObjectField::kNone, ""},
};

const StreamKind& KindOf(StreamKindId id) { return kKinds[static_cast<int>(id)]; }

}  // namespace

NodeConnectionClient::NodeConnectionClient(StreamKindId kind, ClientLogFile* log)
    : mKind(kind),
      mRecordSize(KindOf(kind).recordSize),
      mStreamType(KindOf(kind).streamType),
      mLogFile(log) {}

void NodeConnectionClient::SetCallbackFunctionSE(StreamCallback callback, void* context) {
  StoreCallback(StreamKindId::kSE, callback, context);
}
void NodeConnectionClient::SetCallbackFunctionST(StreamCallback callback, void* context) {
  StoreCallback(StreamKindId::kST, callback, context);
}
void NodeConnectionClient::SetCallbackFunctionTT(StreamCallback callback, void* context) {
  StoreCallback(StreamKindId::kTT, callback, context);
}
void NodeConnectionClient::SetCallbackFunctionCSC(StreamCallback callback, void* context) {
  StoreCallback(StreamKindId::kCSC, callback, context);
}
void NodeConnectionClient::SetCallbackFunctionEV(StreamCallback callback, void* context) {
  StoreCallback(StreamKindId::kEV, callback, context);
}
void NodeConnectionClient::SetCallbackFunctionVT(StreamCallback callback, void* context) {
  StoreCallback(StreamKindId::kVT, callback, context);
}

void NodeConnectionClient::StoreCallback(StreamKindId kind, StreamCallback callback,
                                         void* context) {
  if (kind != mKind) return;
  CallbackLock lock(&mCallbackLock);
  mCallbackFunction = callback;
  mCallbackContext = context;
}

void NodeConnectionClient::SetRecordTap(RecordTap* tap) {
  CallbackLock lock(&mCallbackLock);
  mRecordTap = tap;
}

std::vector<std::string> NodeConnectionClient::GetTypeObjects() const {
  CallbackLock lock(&mCallbackLock);
  return mTypeObjects;
}

void NodeConnectionClient::UpdateObjectList(const std::vector<std::string>& names,
                                            const std::vector<std::string>& types) {
  const auto& keptTypes = KindOf(mKind).keptTypes;
  std::vector<std::string> kept;
  const size_t paired = std::min(names.size(), types.size());
  for (size_t i = 0; i < paired; ++i) {
    for (const char* type : keptTypes) {
      if (type != nullptr && types[i] == type) {
        kept.push_back(names[i]);
        break;
      }
    }
  }
  CallbackLock lock(&mCallbackLock);
  mTypeObjects.swap(kept);
}

void NodeConnectionClient::ExecuteCallback() {
  switch (KindOf(mKind).objectField) {
    case ObjectField::kInt32At8:
      DeliverIndexed(RecordInt32(8));
      return;
    case ObjectField::kUInt16At2:
      DeliverIndexed(RecordUInt16(2));
      return;
    case ObjectField::kNone:
      break;
  }
  CallbackLock lock(&mCallbackLock);
  if (mRecordTap != nullptr && !mTypeObjects.empty())
    mRecordTap->OnStreamRecord(mTypeObjects.front());
  if (mCallbackContext == nullptr || mCallbackFunction == nullptr) return;
  mCallbackFunction(mCallbackContext, mRecord, 1,
                    mTypeObjects.empty() ? std::string() : mTypeObjects.front());
}

void NodeConnectionClient::DeliverIndexed(long index) {
  CallbackLock lock(&mCallbackLock);
  const bool known = index >= 0 && static_cast<size_t>(index) < mTypeObjects.size();
  // The tap first: a trigger waiting on this record reacts before the
  // callback does its own work.
  if (known && mRecordTap != nullptr) {
    mRecordTap->OnStreamRecord(mTypeObjects[static_cast<size_t>(index)]);
  }
  if (mCallbackContext == nullptr || mCallbackFunction == nullptr) return;
  if (known) {
    mCallbackFunction(mCallbackContext, mRecord, 1, mTypeObjects[static_cast<size_t>(index)]);
    return;
  }
  const StreamKind& kind = KindOf(mKind);
  const std::string format = std::string(kind.className) +
                             "::ExecuteCallback() - Error, we have encountered an " + kind.badIndex;
  Log(client_log::kError, text_format::Format(format.c_str(), static_cast<int>(index)));
}

int32_t NodeConnectionClient::RecordInt32(int offset) const {
  const unsigned char* p = mRecord + offset;
  const uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                     (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return static_cast<int32_t>(v);
}

uint16_t NodeConnectionClient::RecordUInt16(int offset) const {
  const unsigned char* p = mRecord + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace orvanta
