#include "tools/quorvin-sim/sim_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace orvanta::sim::net {

namespace {

bool MakeAddress(const std::string& address, int port, sockaddr_in* out) {
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(static_cast<uint16_t>(port));
  return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

std::string AddressText(const sockaddr_in& a) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
  return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

void SetNoDelay(Socket s) {
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Polls `s` for `events` together with the wake-up.
WaitResult WaitFor(Socket s, short events, const Wakeup& wakeup, int timeout_ms) {
  if (wakeup.IsRaised()) return WaitResult::kWoken;
  pollfd fds[2] = {{s, events, 0}, {wakeup.fd(), POLLIN, 0}};
  while (true) {
    const int n = poll(fds, 2, timeout_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WaitResult::kError;
    }
    if (wakeup.IsRaised() || (fds[1].revents & POLLIN)) return WaitResult::kWoken;
    if (n == 0) return WaitResult::kTimeout;
    return WaitResult::kReady;  // also on POLLERR/POLLHUP: the next call reports it
  }
}

}  // namespace

Wakeup::Wakeup() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    read_fd_ = fds[0];
    write_fd_ = fds[1];
  }
}

Wakeup::~Wakeup() {
  if (read_fd_ >= 0) close(read_fd_);
  if (write_fd_ >= 0) close(write_fd_);
}

void Wakeup::Raise() {
  if (raised_.exchange(true, std::memory_order_acq_rel)) return;
  if (write_fd_ >= 0) {
    const char byte = 1;
    // Never drained: the pipe stays readable, so every later poll wakes too.
    [[maybe_unused]] ssize_t n = write(write_fd_, &byte, 1);
  }
}

bool IsIPv4Address(const std::string& address) {
  in_addr a;
  return inet_pton(AF_INET, address.c_str(), &a) == 1;
}

Socket Listen(const std::string& address, int port, int backlog, int* bound_port,
              std::string* error) {
  sockaddr_in addr;
  if (!MakeAddress(address, port, &addr)) {
    if (error) *error = "invalid address " + address;
    return kNoSocket;
  }
  Socket s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) {
    if (error) *error = "socket: " + LastErrorText();
    return kNoSocket;
  }
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (error)
      *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + LastErrorText();
    close(s);
    return kNoSocket;
  }
  if (listen(s, backlog) != 0) {
    if (error)
      *error = "listen on " + address + ":" + std::to_string(port) + ": " + LastErrorText();
    close(s);
    return kNoSocket;
  }
  sockaddr_in bound;
  socklen_t len = sizeof bound;
  getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len);
  if (bound_port) *bound_port = ntohs(bound.sin_port);
  return s;
}

int FindFreePort(std::string* error) {
  Socket s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) {
    if (error) *error = "socket: " + LastErrorText();
    return 0;
  }
  sockaddr_in addr;
  MakeAddress("0.0.0.0", 0, &addr);
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    sockaddr_in bound;
    socklen_t len = sizeof bound;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len) == 0)
      port = ntohs(bound.sin_port);
  } else if (error) {
    *error = "bind: " + LastErrorText();
  }
  close(s);
  return port;
}

WaitResult WaitReadable(Socket s, const Wakeup& wakeup, int timeout_ms) {
  return WaitFor(s, POLLIN, wakeup, timeout_ms);
}

Socket Accept(Socket listener, std::string* peer) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  Socket s;
  do {
    s = accept4(listener, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  } while (s < 0 && errno == EINTR);
  if (s < 0) return kNoSocket;
  SetNoDelay(s);
  if (peer) *peer = AddressText(addr);
  return s;
}

Socket Connect(const std::string& address, int port, int timeout_ms, const Wakeup& wakeup,
               std::string* error) {
  sockaddr_in addr;
  if (port <= 0 || port > 65535 || !MakeAddress(address, port, &addr)) {
    if (error) *error = "invalid address " + address + ":" + std::to_string(port);
    return kNoSocket;
  }
  Socket s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (s < 0) {
    if (error) *error = "socket: " + LastErrorText();
    return kNoSocket;
  }
  int rc = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno != EINPROGRESS) {
    if (error) *error = LastErrorText();
    close(s);
    return kNoSocket;
  }
  if (rc != 0) {
    const WaitResult w = WaitFor(s, POLLOUT, wakeup, timeout_ms);
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (w == WaitResult::kReady) getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len);
    if (w != WaitResult::kReady || so_error != 0) {
      if (error) {
        *error = w == WaitResult::kTimeout ? "timed out"
                 : w == WaitResult::kWoken ? "stopped"
                                           : std::strerror(so_error != 0 ? so_error : errno);
      }
      close(s);
      return kNoSocket;
    }
  }
  // Back to blocking mode; every read and write below polls first anyway.
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK);
  SetNoDelay(s);
  return s;
}

IoResult ReadExact(Socket s, void* buffer, size_t size, const Wakeup& wakeup, size_t* received) {
  auto* p = static_cast<char*>(buffer);
  size_t got = 0;
  if (received) *received = 0;
  while (got < size) {
    const ssize_t n = recv(s, p + got, size - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<size_t>(n);
      if (received) *received = got;
      continue;
    }
    if (n == 0) return IoResult::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return errno == ECONNRESET ? IoResult::kClosed : IoResult::kError;
    }
    switch (WaitFor(s, POLLIN, wakeup, -1)) {
      case WaitResult::kWoken:
        return IoResult::kWoken;
      case WaitResult::kError:
        return IoResult::kError;
      default:
        break;
    }
  }
  return IoResult::kOk;
}

IoResult WriteAll(Socket s, const void* data, size_t size, const Wakeup& wakeup,
                  const std::atomic<bool>* cancel) {
  const auto* p = static_cast<const char*>(data);
  size_t sent = 0;
  while (sent < size) {
    if (cancel && cancel->load(std::memory_order_acquire)) return IoResult::kWoken;
    const ssize_t n = send(s, p + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return (errno == EPIPE || errno == ECONNRESET) ? IoResult::kClosed : IoResult::kError;
    }
    // No room: wait for it, looking at the cancel flag every 100 ms.
    switch (WaitFor(s, POLLOUT, wakeup, cancel ? 100 : -1)) {
      case WaitResult::kWoken:
        return IoResult::kWoken;
      case WaitResult::kError:
        return IoResult::kError;
      default:
        break;
    }
  }
  return IoResult::kOk;
}

void Shutdown(Socket s) {
  if (s != kNoSocket) shutdown(s, SHUT_RDWR);
}

void Close(Socket s) {
  if (s != kNoSocket) close(s);
}

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace orvanta::sim::net

namespace orvanta::sim::net {
bool SleepFor(const Wakeup& wakeup, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!wakeup.IsRaised()) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    pollfd fd{wakeup.fd(), POLLIN, 0};
    poll(&fd, 1, static_cast<int>((left.count() + 999) / 1000));
  }
  return false;
}
}  // namespace orvanta::sim::net
