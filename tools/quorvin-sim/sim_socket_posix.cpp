// POSIX side of the simulator's socket operations: the system calls of
// sim_socket_calls.h, the wake-up (a pipe that every poll watches), accepts,
// reads and writes.
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "tools/quorvin-sim/sim_socket.h"
#include "tools/quorvin-sim/sim_socket_calls.h"

namespace orvanta::sim::net {

Socket calls::NewSocket(bool nonBlocking) {
  const Socket s =
      socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), IPPROTO_TCP);
  return s < 0 ? kNoSocket : s;
}

void calls::PrepareListener(Socket s) {
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

void calls::SetNoDelay(Socket s) {
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool calls::ConnectPending() { return errno == EINPROGRESS; }

// Back to blocking mode; every read and write below polls first anyway.
void calls::SetConnectedMode(Socket s) { fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK); }

int calls::PendingError(Socket s) {
  int so_error = 0;
  socklen_t len = sizeof so_error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len);
  return so_error;
}

std::string calls::ErrorText(int code) { return std::strerror(code != 0 ? code : errno); }

// Polls `s` together with the wake-up.
WaitResult calls::WaitFor(Socket s, bool write, const Wakeup& wakeup, int timeout_ms) {
  if (wakeup.IsRaised()) return WaitResult::kWoken;
  const short events = write ? POLLOUT : POLLIN;
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

Socket Accept(Socket listener, std::string* peer) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  Socket s;
  do {
    s = accept4(listener, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  } while (s < 0 && errno == EINTR);
  if (s < 0) return kNoSocket;
  calls::SetNoDelay(s);
  if (peer) *peer = calls::AddressText(addr);
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
    const IoResult waited = calls::AfterWait(calls::WaitFor(s, false, wakeup, -1));
    if (waited != IoResult::kOk) return waited;
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
    const IoResult waited = calls::AfterWait(calls::WaitFor(s, true, wakeup, cancel ? 100 : -1));
    if (waited != IoResult::kOk) return waited;
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
