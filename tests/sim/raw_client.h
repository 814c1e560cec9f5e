// A minimal client of the message frame, written from the frame layout alone
// (12-byte little-endian header: version, validation code 0xA5A5A5A5, payload
// size; then the payload), so that the simulator is checked against the wire
// format and not against shared code. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace orvanta::sim::testing {

inline void PutLe32(uint32_t v, std::string* out) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline uint32_t GetLe32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

inline uint16_t GetLe16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                               (static_cast<unsigned char>(s[at + 1]) << 8));
}

inline uint64_t GetLe64(const std::string& s, size_t at) {
  return static_cast<uint64_t>(GetLe32(s, at)) | (static_cast<uint64_t>(GetLe32(s, at + 4)) << 32);
}

// A frame as the client sends it: header, text, one NUL.
inline std::string CommandFrame(const std::string& text) {
  std::string out;
  PutLe32(1, &out);
  PutLe32(0xA5A5A5A5u, &out);
  PutLe32(static_cast<uint32_t>(text.size() + 1), &out);
  out += text;
  out.push_back('\0');
  return out;
}

inline std::string RawHeader(int32_t version, uint32_t validation, int32_t size) {
  std::string out;
  PutLe32(static_cast<uint32_t>(version), &out);
  PutLe32(validation, &out);
  PutLe32(static_cast<uint32_t>(size), &out);
  return out;
}

// Reads exactly `n` bytes from `fd` before `timeout_ms` passes; nothing on
// time-out, error or end of stream.
inline std::optional<std::string> ReadExactly(int fd, size_t n, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string out(n, '\0');
  size_t got = 0;
  while (got < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t r = recv(fd, out.data() + got, n - got, 0);
    if (r <= 0) return std::nullopt;
    got += static_cast<size_t>(r);
  }
  return out;
}

// True when the peer closes `fd` (end of stream or reset) within the time;
// bytes that arrive first are read and dropped.
inline bool WaitForClose(int fd, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[65536];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    const ssize_t r = recv(fd, buf, sizeof buf, 0);
    if (r <= 0) return true;
  }
  return false;
}

// True when no byte arrives on `fd` for `ms` milliseconds (and it stays open).
inline bool QuietFor(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) == 0;
}

// Reads and drops whatever arrives until the stream is quiet for `quiet_ms`
// (at most `limit_ms` in all). Returns the bytes dropped.
inline size_t Drain(int fd, int quiet_ms, int limit_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  size_t total = 0;
  char buf[65536];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, quiet_ms) == 0) break;
    const ssize_t r = recv(fd, buf, sizeof buf, 0);
    if (r <= 0) break;
    total += static_cast<size_t>(r);
  }
  return total;
}

struct RawFrame {
  int32_t version = 0;
  uint32_t validation = 0;
  int32_t size = 0;
  std::string payload;
  std::string Text() const { return payload.substr(0, payload.find('\0')); }
};

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connect(int port) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      Close();
      return false;
    }
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }

  bool SendRaw(const std::string& bytes) {
    return fd_ >= 0 && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
  }

  bool Send(const std::string& text) { return SendRaw(CommandFrame(text)); }

  // Reads one frame; the payload is read only for sizes from 1 to 1 MiB,
  // and then only as much of it as `max_payload` allows.
  std::optional<RawFrame> ReadFrame(int timeout_ms = 5000, size_t max_payload = 1 << 20) {
    auto header = ReadExactly(fd_, 12, timeout_ms);
    if (!header) return std::nullopt;
    RawFrame f;
    f.version = static_cast<int32_t>(GetLe32(*header, 0));
    f.validation = GetLe32(*header, 4);
    f.size = static_cast<int32_t>(GetLe32(*header, 8));
    if (f.size >= 1 && static_cast<size_t>(f.size) <= max_payload) {
      auto payload = ReadExactly(fd_, static_cast<size_t>(f.size), timeout_ms);
      if (!payload) return std::nullopt;
      f.payload = *payload;
    }
    return f;
  }

  // Sends a command and returns its reply's text, or nothing when no valid
  // reply frame came.
  std::optional<std::string> Exchange(const std::string& text, int timeout_ms = 5000) {
    if (!Send(text)) return std::nullopt;
    auto f = ReadFrame(timeout_ms);
    if (!f || f->version != 1 || f->validation != 0xA5A5A5A5u || f->size < 1) return std::nullopt;
    if (f->payload.back() != '\0') return std::nullopt;
    return f->Text();
  }

 private:
  int fd_ = -1;
};

// A listening socket on all addresses and a free port, as the client's data
// stream endpoints make.
class RawListener {
 public:
  // Listens on `port`, or on a free port when it is 0.
  explicit RawListener(int port = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 2) == 0) {
      socklen_t len = sizeof a;
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
      port_ = ntohs(a.sin_port);
    }
  }
  ~RawListener() {
    if (fd_ >= 0) close(fd_);
  }
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  int port() const { return port_; }

  // The accepted connection, or -1 after `timeout_ms`. The caller closes it.
  int Accept(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return -1;
    return accept(fd_, nullptr, nullptr);
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A socket file descriptor closed at the end of the scope.
class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace orvanta::sim::testing
