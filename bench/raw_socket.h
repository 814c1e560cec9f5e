// Plain blocking loopback sockets for the baselines of the benchmarks: the
// least a program can do to move the same bytes, with nothing of the client
// library in between. POSIX only, like the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta::bench {

// A socket handle closed on destruction.
class RawSocket {
 public:
  RawSocket() = default;
  explicit RawSocket(int fd) : fd_(fd) {}
  ~RawSocket();
  RawSocket(RawSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  RawSocket& operator=(RawSocket&& other) noexcept;
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Shuts both directions down, ending any call blocked on the socket.
  void Shutdown();
  void Close();

  // A listener on 127.0.0.1 at a free port; invalid on failure.
  static RawSocket Listen(int* port);
  // A connection to 127.0.0.1:port; invalid on failure.
  static RawSocket Connect(int port);
  RawSocket Accept();

  // Sends all bytes (looping over partial sends); false on failure.
  bool SendAll(const void* data, size_t length);
  // Receives exactly `length` bytes; false on failure or end of stream.
  bool RecvExactly(void* buffer, size_t length);
  // One recv call: bytes received, 0 at end of stream, -1 on failure.
  long RecvSome(void* buffer, size_t length);

 private:
  int fd_ = -1;
};

// One blocking request/reply over the message frame: sends `commandFrame`
// whole, then reads a reply frame (12-byte header, then its payload) into
// `payload`. False when the connection fails or the header is not version 1
// with the validation code.
bool RawExchange(RawSocket& socket, const std::string& commandFrame, std::string& payload);

// A data stream read without the client: the message connection, and the
// stream the server connected back to after "-CreateStream" (on a port of
// this process), with `object` opened on it.
struct RawStream {
  RawSocket control;
  RawSocket data;
};
// Connects to `messagePort`, sets up the stream of `dataType` and opens
// `object` on it ("-OpenStream" answered "0"). False when a step fails.
bool OpenRawStream(int messagePort, const std::string& object, const std::string& dataType,
                   RawStream& out);

}  // namespace orvanta::bench
