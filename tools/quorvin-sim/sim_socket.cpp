// The simulator's socket operations that are the same on every platform:
// addresses, listening, the free-port probe and the connect with its
// time-out. The system calls are sim_socket_<platform>.cpp's.
#include "tools/quorvin-sim/sim_socket.h"

#include <cstring>

#include "tools/quorvin-sim/sim_socket_calls.h"

namespace orvanta::sim::net {

namespace {

using calls::AddressLength;
using calls::Native;

bool MakeAddress(const std::string& address, int port, sockaddr_in* out) {
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(static_cast<uint16_t>(port));
  return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

// The port `s` is bound to; 0 when the system cannot tell.
int BoundPort(Socket s) {
  sockaddr_in bound;
  AddressLength len = sizeof bound;
  if (getsockname(Native(s), reinterpret_cast<sockaddr*>(&bound), &len) != 0) return 0;
  return ntohs(bound.sin_port);
}

}  // namespace

std::string calls::AddressText(const sockaddr_in& a) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
  return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
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
  const Socket s = calls::NewSocket(false);
  if (s == kNoSocket) {
    if (error) *error = "socket: " + LastErrorText();
    return kNoSocket;
  }
  calls::PrepareListener(s);
  if (bind(Native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (error)
      *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + LastErrorText();
    Close(s);
    return kNoSocket;
  }
  if (listen(Native(s), backlog) != 0) {
    if (error)
      *error = "listen on " + address + ":" + std::to_string(port) + ": " + LastErrorText();
    Close(s);
    return kNoSocket;
  }
  if (bound_port) *bound_port = BoundPort(s);
  return s;
}

int FindFreePort(std::string* error) {
  const Socket s = calls::NewSocket(false);
  if (s == kNoSocket) {
    if (error) *error = "socket: " + LastErrorText();
    return 0;
  }
  sockaddr_in addr;
  MakeAddress("0.0.0.0", 0, &addr);
  int port = 0;
  if (bind(Native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    port = BoundPort(s);
  } else if (error) {
    *error = "bind: " + LastErrorText();
  }
  Close(s);
  return port;
}

WaitResult WaitReadable(Socket s, const Wakeup& wakeup, int timeout_ms) {
  return calls::WaitFor(s, false, wakeup, timeout_ms);
}

Socket Connect(const std::string& address, int port, int timeout_ms, const Wakeup& wakeup,
               std::string* error) {
  sockaddr_in addr;
  if (port <= 0 || port > 65535 || !MakeAddress(address, port, &addr)) {
    if (error) *error = "invalid address " + address + ":" + std::to_string(port);
    return kNoSocket;
  }
  const Socket s = calls::NewSocket(true);
  if (s == kNoSocket) {
    if (error) *error = "socket: " + LastErrorText();
    return kNoSocket;
  }
  const int rc = connect(Native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && !calls::ConnectPending()) {
    if (error) *error = LastErrorText();
    Close(s);
    return kNoSocket;
  }
  if (rc != 0) {
    const WaitResult w = calls::WaitFor(s, true, wakeup, timeout_ms);
    const int so_error = w == WaitResult::kReady ? calls::PendingError(s) : 0;
    if (w != WaitResult::kReady || so_error != 0) {
      if (error) {
        *error = w == WaitResult::kTimeout ? "timed out"
                 : w == WaitResult::kWoken ? "stopped"
                                           : calls::ErrorText(so_error);
      }
      Close(s);
      return kNoSocket;
    }
  }
  calls::SetConnectedMode(s);
  calls::SetNoDelay(s);
  return s;
}

}  // namespace orvanta::sim::net
