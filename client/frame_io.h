// Reading and writing whole message frames (client/frame_codec.h) over a
// byte channel that may take or give fewer bytes than asked for.
//
// FrameReader is the reply side's state machine: header checks, the payload
// size bound and partial reads. A read cut short by a stop or a time-out
// keeps what has arrived, so that the next read goes on where it left off.
// FrameWriter sends one frame whole, following a short send with the rest.
//
// Neither class knows about sockets, locks or logs: the owner (the exchange)
// supplies the bytes and reports the faults. Threads: one thread at a time
// per FrameReader (the owner's lock serialises them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// What became of a read.
enum class ReadStatus { kOk, kFailed, kStopped, kTimedOut };

// Where a FrameReader's bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads exactly `count` bytes into `buffer`, adding each batch that
  // arrives to *progress, so that a read cut short still counts what it got.
  // kOk once all `count` bytes have arrived.
  virtual ReadStatus ReadExact(char* buffer, int count, int* progress) = 0;
};

// Why a frame was refused.
struct FrameFault {
  enum class Kind {
    kNone,            // no fault (or the source itself failed)
    kVersionTooLow,   // version < 1
    kVersionTooHigh,  // version > 1
    kBadValidation,   // validation code other than 0xA5A5A5A5
    kBadSize,         // payload size < 1
    kTooLarge,        // payload size over the bound
    kNoMemory,        // the payload could not be allocated
  };
  Kind kind = Kind::kNone;
  // The version or payload size read.
  int32_t value = 0;
  // The rest of the frame is still unread, so where the next frame begins
  // is unknown: a broken header, or a negative or oversized payload size.
  bool outOfStep = false;

  // Broken headers are told in a message box; the others go to the log.
  bool ShownInBox() const;
  // The box text, or the log entry's text (logged at ERROR).
  std::string Text() const;
};

class FrameReader {
 public:
  // The largest payload accepted.
  static constexpr int kMaxPayloadSize = 64 * 1024 * 1024;

  FrameReader() = default;
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Reads the rest of the current frame from `source`.
  //   kOk: the payload is handed over (swapped into *payload; dropped when
  //        null) and the reader waits for a new frame.
  //   kStopped, kTimedOut: what arrived is kept for the next Read.
  //   kFailed: the frame is dropped; fault() says why (kind kNone when the
  //        source failed).
  ReadStatus Read(ByteSource& source, std::vector<char>* payload);

  // Forgets a frame read part-way.
  void Reset();

  // True while part of a frame has been read.
  bool InFrame() const { return headerGot_ > 0; }
  // The fault of the last Read that returned kFailed.
  const FrameFault& fault() const { return fault_; }

 private:
  ReadStatus Fail(FrameFault::Kind kind, int32_t value, bool outOfStep);

  unsigned char header_[12] = {};
  int headerGot_ = 0;
  bool headerChecked_ = false;
  bool sizeChecked_ = false;
  int32_t size_ = 0;
  std::vector<char> payload_;
  int payloadGot_ = 0;
  FrameFault fault_;
};

// Where a FrameWriter's bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // One send: the number of bytes taken (0 is possible), or -1 with *error
  // set to a Windows Sockets code.
  virtual long SendSome(const unsigned char* bytes, size_t count, int* error) = 0;
};

class FrameWriter {
 public:
  struct Result {
    enum class Kind {
      kSent,         // the whole frame went out
      kNoMemory,     // the frame could not be built (negative or oversized length)
      kSendFailed,   // a send failed with `error`
      kNothingSent,  // a send took no byte; `sent` of `total` had gone out
    };
    Kind kind = Kind::kSent;
    int error = 0;
    long long frameLength = 0;  // header and payload
    size_t sent = 0;
    size_t total = 0;
  };

  // Sends `length` bytes (the payload as it stands) as one frame.
  static Result Write(ByteSink& sink, const char* bytes, int length);
};

}  // namespace orvanta
