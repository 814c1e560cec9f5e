// Windows Sockets side of the simulator's socket operations: the system
// calls of sim_socket_calls.h, accepts, reads and writes. The wake-up is a
// flag; waits look at it every few milliseconds between select() slices.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tools/quorvin-sim/sim_socket.h"
#include "tools/quorvin-sim/sim_socket_calls.h"

namespace orvanta::sim::net {

using calls::Native;

namespace {

// How long one wait slice lasts: the longest a stop request goes unseen.
constexpr int kSliceMs = 10;

void EnsureStarted() {
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  (void)started;
}

void SetBlocking(Socket s, bool blocking) {
  u_long mode = blocking ? 0 : 1;
  ioctlsocket(Native(s), FIONBIO, &mode);
}

bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

bool PeerGone() {
  const int e = WSAGetLastError();
  return e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAESHUTDOWN;
}

}  // namespace

Socket calls::NewSocket(bool nonBlocking) {
  EnsureStarted();
  const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return kNoSocket;
  if (nonBlocking) SetBlocking(static_cast<Socket>(s), false);
  return static_cast<Socket>(s);
}

// Here SO_REUSEADDR would let another program share the port.
void calls::PrepareListener(Socket s) {
  const BOOL one = TRUE;
  setsockopt(Native(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
             sizeof one);
}

void calls::SetNoDelay(Socket s) {
  const BOOL one = TRUE;
  setsockopt(Native(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

bool calls::ConnectPending() { return WouldBlock(); }

// Non-blocking from here on: reads and writes wait in slices themselves.
void calls::SetConnectedMode(Socket /*s*/) {}

int calls::PendingError(Socket s) {
  int so_error = 0;
  int len = sizeof so_error;
  getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len);
  return so_error;
}

std::string calls::ErrorText(int code) {
  if (code != 0) WSASetLastError(code);
  return LastErrorText();
}

// Waits until `s` is readable (or writable, where a failed connect shows in
// the exception set), the wake-up is raised, or `timeout_ms` passes.
WaitResult calls::WaitFor(Socket s, bool write, const Wakeup& wakeup, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (wakeup.IsRaised()) return WaitResult::kWoken;
    int slice = kSliceMs;
    if (timeout_ms >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return WaitResult::kTimeout;
      if (left < slice) slice = static_cast<int>(left);
    }
    fd_set main_set, except_set;
    FD_ZERO(&main_set);
    FD_ZERO(&except_set);
    FD_SET(Native(s), &main_set);
    FD_SET(Native(s), &except_set);
    timeval tv{0, slice * 1000};
    const int n =
        select(0, write ? nullptr : &main_set, write ? &main_set : nullptr, &except_set, &tv);
    if (n == SOCKET_ERROR) return WaitResult::kError;
    if (wakeup.IsRaised()) return WaitResult::kWoken;
    if (n > 0) return WaitResult::kReady;  // also on an error: the next call reports it
  }
}

Wakeup::Wakeup() = default;
Wakeup::~Wakeup() = default;

void Wakeup::Raise() { raised_.store(true, std::memory_order_release); }

Socket Accept(Socket listener, std::string* peer) {
  sockaddr_in addr;
  int len = sizeof addr;
  const SOCKET s = accept(Native(listener), reinterpret_cast<sockaddr*>(&addr), &len);
  if (s == INVALID_SOCKET) {
    // The caller tells a client that gave up from a broken listener by errno.
    errno = PeerGone() ? ECONNABORTED : WouldBlock() ? EAGAIN : EIO;
    return kNoSocket;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  calls::SetNoDelay(static_cast<Socket>(s));
  if (peer) *peer = calls::AddressText(addr);
  return static_cast<Socket>(s);
}

IoResult ReadExact(Socket s, void* buffer, size_t size, const Wakeup& wakeup, size_t* received) {
  auto* p = static_cast<char*>(buffer);
  size_t got = 0;
  if (received) *received = 0;
  while (got < size) {
    const IoResult waited = calls::AfterWait(calls::WaitFor(s, false, wakeup, -1));
    if (waited != IoResult::kOk) return waited;
    const int want = size - got > (1u << 30) ? (1 << 30) : static_cast<int>(size - got);
    const int n = recv(Native(s), p + got, want, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
      if (received) *received = got;
      continue;
    }
    if (n == 0) return IoResult::kClosed;
    if (WouldBlock()) continue;
    return PeerGone() ? IoResult::kClosed : IoResult::kError;
  }
  return IoResult::kOk;
}

IoResult WriteAll(Socket s, const void* data, size_t size, const Wakeup& wakeup,
                  const std::atomic<bool>* cancel) {
  const auto* p = static_cast<const char*>(data);
  size_t sent = 0;
  // Non-blocking for the send, so that a full buffer never holds us past a
  // stop request.
  SetBlocking(s, false);
  while (sent < size) {
    if (cancel && cancel->load(std::memory_order_acquire)) return IoResult::kWoken;
    const int want = size - sent > (1u << 30) ? (1 << 30) : static_cast<int>(size - sent);
    const int n = send(Native(s), p + sent, want, 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n == SOCKET_ERROR && !WouldBlock())
      return PeerGone() ? IoResult::kClosed : IoResult::kError;
    const IoResult waited = calls::AfterWait(calls::WaitFor(s, true, wakeup, cancel ? 100 : -1));
    if (waited != IoResult::kOk) return waited;
  }
  return IoResult::kOk;
}

void Shutdown(Socket s) {
  if (s != kNoSocket) shutdown(Native(s), SD_BOTH);
}

void Close(Socket s) {
  if (s != kNoSocket) closesocket(Native(s));
}

std::string LastErrorText() {
  const int code = WSAGetLastError();
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : "error " + std::to_string(code);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace orvanta::sim::net

namespace orvanta::sim::net {
bool SleepFor(const Wakeup& wakeup, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!wakeup.IsRaised()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSliceMs)));
  }
  return false;
}
}  // namespace orvanta::sim::net
