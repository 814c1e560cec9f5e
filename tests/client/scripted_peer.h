// A scripted acquisition-server peer for the client tests: real TCP sockets
// on loopback, ports chosen by the system, every read bounded by a time-out.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "client/frame_codec.h"

namespace orvanta::testing {

inline constexpr int kPeerTimeoutMs = 5000;

// One connected socket of the peer.
class PeerConnection {
 public:
  explicit PeerConnection(int fd) : fd_(fd) {
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~PeerConnection() { Close(); }
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  // Whole milliseconds from now to `deadline` (0 or less: it has passed).
  static int MillisLeft(std::chrono::steady_clock::time_point deadline) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                deadline - std::chrono::steady_clock::now())
                                .count());
  }

  // Reads exactly n bytes; false on close, error or time-out.
  bool ReadExact(size_t n, std::string* out, int timeout_ms = kPeerTimeoutMs) {
    out->clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out->size() < n) {
      const int left = MillisLeft(deadline);
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) continue;
      char buffer[4096];
      const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, n - out->size()), 0);
      if (got <= 0) return false;
      out->append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  struct Frame {
    std::string raw;      // header and payload, as received
    std::string payload;  // the payload alone
    std::string text() const { return frame::PayloadText(payload); }
  };

  // Reads one whole frame; nullopt on close, time-out or an absurd size.
  std::optional<Frame> ReadFrame(int timeout_ms = kPeerTimeoutMs) {
    std::string header;
    if (!ReadExact(frame::kHeaderSize, &header, timeout_ms)) return std::nullopt;
    const frame::Header h =
        frame::DecodeHeader(reinterpret_cast<const unsigned char*>(header.data()));
    if (h.payload_size < 0 || h.payload_size > (1 << 20)) return std::nullopt;
    Frame f;
    if (!ReadExact(static_cast<size_t>(h.payload_size), &f.payload, timeout_ms))
      return std::nullopt;
    f.raw = header + f.payload;
    return f;
  }

  // Reads one frame and returns its text, or "<none>".
  std::string ReadCommand(int timeout_ms = kPeerTimeoutMs) {
    auto f = ReadFrame(timeout_ms);
    return f ? f->text() : std::string("<none>");
  }

  bool Write(std::string_view bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  bool WriteReply(std::string_view text) { return Write(frame::EncodeTextFrame(text)); }

  // True when the other side closes within the time-out (data read
  // meanwhile is dropped).
  bool WaitClosed(int timeout_ms = kPeerTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const int left = MillisLeft(deadline);
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) continue;
      char buffer[256];
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return true;
    }
  }

  // True when nothing arrives within the time-out.
  bool QuietFor(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) == 0;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A listener on 127.0.0.1 at a port the system picks.
class PeerListener {
 public:
  PeerListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    // Loopback with a port of the system's choice: failing here is no test's fault.
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) std::abort();
    ::listen(fd_, 8);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~PeerListener() { Close(); }
  PeerListener(const PeerListener&) = delete;
  PeerListener& operator=(const PeerListener&) = delete;

  int port() const { return port_; }

  std::unique_ptr<PeerConnection> Accept(int timeout_ms = kPeerTimeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return nullptr;
    const int s = ::accept(fd_, nullptr, nullptr);
    if (s < 0) return nullptr;
    return std::make_unique<PeerConnection>(s);
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Connects to 127.0.0.1:port, as the server does for a data stream.
inline std::unique_ptr<PeerConnection> ConnectTo(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(s);
    return nullptr;
  }
  return std::make_unique<PeerConnection>(s);
}

// A port that was free a moment ago (nobody listens on it).
inline int UnusedPort() {
  PeerListener l;
  return l.port();
}

// Runs a peer script on its own thread; the destructor joins it.
class PeerThread {
 public:
  explicit PeerThread(std::function<void()> script) : thread_(std::move(script)) {}
  ~PeerThread() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

// Answers every command frame on one connection with reply_for(command),
// on its own thread, and records the commands. A reply of nullopt closes the
// connection instead.
class AnsweringPeer {
 public:
  using ReplyFn = std::function<std::optional<std::string>(const std::string&)>;
  AnsweringPeer(std::unique_ptr<PeerConnection> connection, ReplyFn reply_for)
      : connection_(std::move(connection)), reply_for_(std::move(reply_for)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~AnsweringPeer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  AnsweringPeer(const AnsweringPeer&) = delete;
  AnsweringPeer& operator=(const AnsweringPeer&) = delete;

  std::vector<std::string> commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  // The command frames exactly as they arrived.
  std::vector<std::string> raw_frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return raw_frames_;
  }
  // Waits (bounded) until n commands have arrived.
  bool WaitForCommands(size_t n, int timeout_ms = kPeerTimeoutMs) {
    return WaitUntilTrue([&] { return commands().size() >= n; }, timeout_ms);
  }
  bool closed() const { return closed_.load(); }

 private:
  template <class Pred>
  static bool WaitUntilTrue(Pred pred, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
  }

  void Run() {
    while (!stop_.load()) {
      if (connection_->QuietFor(20)) continue;
      auto f = connection_->ReadFrame();
      if (!f) break;
      const std::string command = f->text();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(command);
        raw_frames_.push_back(f->raw);
      }
      const std::optional<std::string> reply = reply_for_(command);
      if (!reply) break;
      connection_->WriteReply(*reply);
    }
    connection_->Close();
    closed_.store(true);
  }

  std::unique_ptr<PeerConnection> connection_;
  ReplyFn reply_for_;
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::vector<std::string> raw_frames_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::thread thread_;
};

// A fresh temporary folder, removed with its files at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/orvanta-client-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() {
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
    }
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The log's entry lines without tag and time stamp ("NOTICE: text").
inline std::vector<std::string> LogEntries(const std::string& path) {
  std::vector<std::string> out;
  std::string content = ReadFile(path);
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find("\r\n", pos);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(pos, end - pos);
    pos = end + 2;
    if (line.rfind("-* ", 0) != 0) continue;
    const size_t tag_end = line.find(" *- ");
    const size_t text = line.find(" - ", tag_end + 4);
    if (tag_end == std::string::npos || text == std::string::npos) continue;
    out.push_back(line.substr(3, tag_end - 3) + ": " + line.substr(text + 3));
  }
  return out;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines)
    if (l == line) return true;
  return false;
}

inline int CountOf(const std::vector<std::string>& lines, const std::string& line) {
  int n = 0;
  for (const auto& l : lines)
    if (l == line) ++n;
  return n;
}

// Waits (bounded) until pred() holds.
template <class Pred>
bool WaitUntil(Pred pred, int timeout_ms = kPeerTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

// The number of open file descriptors of this process.
inline int OpenDescriptorCount() {
  int n = 0;
  for (int fd = 0; fd < 4096; ++fd)
    if (::fcntl(fd, F_GETFD) != -1) ++n;
  return n;
}

}  // namespace orvanta::testing
