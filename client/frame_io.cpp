#include "client/frame_io.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "client/frame_codec.h"
#include "platform/text_format.h"

namespace orvanta {
namespace {

// Payloads grow by this much as their bytes arrive, so that an announced
// size costs memory only once the bytes are really there.
constexpr int kPayloadChunk = 1024 * 1024;

constexpr char kNoMemoryText[] =
    "NetworkNodeClient::RecieveMessage() - Error allocating memory for recieving a message, "
    "point returned a NULL";

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

}  // namespace

bool FrameFault::ShownInBox() const {
  return kind == Kind::kVersionTooLow || kind == Kind::kVersionTooHigh ||
         kind == Kind::kBadValidation;
}

std::string FrameFault::Text() const {
  switch (kind) {
    case Kind::kVersionTooLow:
      return "Error, invalid version number, data has been corrupted or improperly formatted";
    case Kind::kVersionTooHigh:
      return text_format::Format(
          "Error, this Version of Veltrix Network Communication is not Supported, please update "
          "to the latest version of the software.  Version #%i",
          static_cast<int>(value));
    case Kind::kBadValidation:
      return "Error, invalid validation code, data has been corrupted or improperly formatted";
    case Kind::kBadSize:
      return text_format::Format(
          "NetworkNodeClient::RecieveMessage() - Invalid message size for recieving message, "
          "messageSize: %i",
          static_cast<int>(value));
    case Kind::kTooLarge:
    case Kind::kNoMemory:
      return kNoMemoryText;
    case Kind::kNone:
      break;
  }
  return std::string();
}

void FrameReader::Reset() {
  headerGot_ = 0;
  headerChecked_ = false;
  sizeChecked_ = false;
  size_ = 0;
  std::vector<char>().swap(payload_);
  payloadGot_ = 0;
}

ReadStatus FrameReader::Fail(FrameFault::Kind kind, int32_t value, bool outOfStep) {
  fault_ = FrameFault{kind, value, outOfStep};
  Reset();
  return ReadStatus::kFailed;
}

ReadStatus FrameReader::Read(ByteSource& source, std::vector<char>* payload) {
  fault_ = FrameFault{};
  auto failed = [this](ReadStatus status) {
    if (status == ReadStatus::kFailed) Reset();
    return status;
  };

  // Version and validation code.
  if (headerGot_ < 8) {
    const ReadStatus s = source.ReadExact(reinterpret_cast<char*>(header_) + headerGot_,
                                          8 - headerGot_, &headerGot_);
    if (s != ReadStatus::kOk) return failed(s);
  }
  if (!headerChecked_) {
    const int32_t version = static_cast<int32_t>(frame::GetLe32(header_));
    const uint32_t validation = frame::GetLe32(header_ + 4);
    // A header that fails its checks leaves the rest of its frame unread;
    // where the next frame begins is unknown from here on.
    const bool outOfStep = version != frame::kVersion || validation != frame::kValidationCode;
    if (version < 1) return Fail(FrameFault::Kind::kVersionTooLow, version, outOfStep);
    if (version > 1) return Fail(FrameFault::Kind::kVersionTooHigh, version, outOfStep);
    if (validation != frame::kValidationCode)
      return Fail(FrameFault::Kind::kBadValidation, version, outOfStep);
    headerChecked_ = true;
  }

  // Payload size.
  if (headerGot_ < 12) {
    const ReadStatus s = source.ReadExact(reinterpret_cast<char*>(header_) + headerGot_,
                                          12 - headerGot_, &headerGot_);
    if (s != ReadStatus::kOk) return failed(s);
  }
  if (!sizeChecked_) {
    size_ = static_cast<int32_t>(frame::GetLe32(header_ + 8));
    // An empty payload leaves the next frame where it belongs; a negative or
    // oversized one leaves an unknown number of payload bytes behind.
    const bool outOfStep = size_ < 0 || size_ > kMaxPayloadSize;
    if (size_ < 1) return Fail(FrameFault::Kind::kBadSize, size_, outOfStep);
    if (size_ > kMaxPayloadSize) return Fail(FrameFault::Kind::kTooLarge, size_, outOfStep);
    sizeChecked_ = true;
  }

  // Payload.
  while (payloadGot_ < size_) {
    const int want = std::min(size_ - payloadGot_, kPayloadChunk);
    if (static_cast<int>(payload_.size()) < payloadGot_ + want &&
        !TryResize(payload_, static_cast<size_t>(payloadGot_ + want))) {
      return Fail(FrameFault::Kind::kNoMemory, size_, false);
    }
    const ReadStatus s = source.ReadExact(payload_.data() + payloadGot_, want, &payloadGot_);
    if (s != ReadStatus::kOk) return failed(s);
  }

  if (payload != nullptr) payload->swap(payload_);
  Reset();
  return ReadStatus::kOk;
}

FrameWriter::Result FrameWriter::Write(ByteSink& sink, const char* bytes, int length) {
  Result result;
  result.frameLength = static_cast<long long>(length) + static_cast<long long>(frame::kHeaderSize);
  std::unique_ptr<unsigned char[]> frame;
  if (length >= 0 && result.frameLength <= static_cast<long long>(FrameReader::kMaxPayloadSize) +
                                               static_cast<long long>(frame::kHeaderSize)) {
    frame.reset(new (std::nothrow) unsigned char[static_cast<size_t>(result.frameLength)]());
  }
  if (!frame) {
    result.kind = Result::Kind::kNoMemory;
    return result;
  }
  frame::EncodeHeader(frame::Header{frame::kVersion, frame::kValidationCode, length}, frame.get());
  if (length > 0) std::memcpy(frame.get() + frame::kHeaderSize, bytes, static_cast<size_t>(length));

  result.total = static_cast<size_t>(result.frameLength);
  // A frame goes out whole: a short send is followed by the rest.
  while (result.sent < result.total) {
    int error = 0;
    const long n = sink.SendSome(frame.get() + result.sent, result.total - result.sent, &error);
    if (n < 0) {
      result.kind = Result::Kind::kSendFailed;
      result.error = error;
      return result;
    }
    if (n == 0) {
      result.kind = Result::Kind::kNothingSent;
      return result;
    }
    result.sent += static_cast<size_t>(n);
  }
  return result;
}

}  // namespace orvanta
