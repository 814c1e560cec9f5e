// Windows Sockets 2 implementation of the socket layer. The codes reported
// are WSAGetLastError()'s own; they key the error texts as they are.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

#include "client/socket_errors.h"
#include "client/socket_layer.h"
#include "client/socket_layer_calls.h"

namespace orvanta::net {
namespace {

// Calls that may come before Startup() (a host name asked for early, a
// stream listener) start Winsock themselves; the count of starts is never
// given back, as the library stays in use until the process ends.
int EnsureStarted() {
  static const int result = Startup();
  return result;
}

int LastError() { return ::WSAGetLastError(); }

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

sockaddr_in MakeAddress(uint32_t address, int port) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<u_short>(port));
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

// select() on one socket: 1 when ready, 0 on time-out, SOCKET_ERROR on failure.
// `write` also watches the exception set, where a failed connect shows.
int SelectOne(SocketHandle socket, bool write, int timeout_ms) {
  fd_set main_set, except_set;
  FD_ZERO(&main_set);
  FD_ZERO(&except_set);
  FD_SET(Native(socket), &main_set);
  FD_SET(Native(socket), &except_set);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return ::select(0, write ? nullptr : &main_set, write ? &main_set : nullptr,
                  write ? &except_set : nullptr, timeout_ms < 0 ? nullptr : &tv);
}

}  // namespace

int Startup() {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 2), &data);
}

SocketHandle CreateTcpSocket(int* error) {
  EnsureStarted();
  // Not inherited by child processes, like SOCK_CLOEXEC elsewhere.
  const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    *error = LastError();
    return kInvalidSocket;
  }
  *error = 0;
  return static_cast<SocketHandle>(s);
}

int CloseSocket(SocketHandle socket) {
  if (::closesocket(Native(socket)) != 0) return LastError();
  return 0;
}

void ShutdownSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::shutdown(Native(socket), SD_BOTH);
}

int ResolveIPv4(const std::string& name, uint32_t* address) {
  EnsureStarted();
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0) return WsaCodeFromResolver(rc, LastError());
  int status = kWsaNoData;
  for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
      const auto* sa = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
      *address = ntohl(sa->sin_addr.s_addr);
      status = 0;
      break;
    }
  }
  ::freeaddrinfo(result);
  return status;
}

int Connect(SocketHandle socket, uint32_t address, int port) {
  return ConnectBounded(socket, address, port, 0, nullptr);
}

int calls::SetNonBlocking(SocketHandle socket, long* mode) {
  u_long nonBlocking = 1;
  if (::ioctlsocket(Native(socket), FIONBIO, &nonBlocking) != 0) return LastError();
  *mode = 0;
  return 0;
}

void calls::RestoreMode(SocketHandle socket, long mode) {
  u_long nonBlocking = static_cast<u_long>(mode);
  ::ioctlsocket(Native(socket), FIONBIO, &nonBlocking);
}

int calls::StartConnect(SocketHandle socket, uint32_t address, int port) {
  const sockaddr_in sa = MakeAddress(address, port);
  if (::connect(Native(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
  return LastError() == WSAEWOULDBLOCK ? kConnectPending : LastError();
}

int calls::WaitConnectEnd(SocketHandle socket, int ms, int* error) {
  const int n = SelectOne(socket, true, ms);
  if (n == SOCKET_ERROR) {
    *error = LastError();
    return -1;
  }
  return n > 0 ? 1 : 0;
}

int calls::ConnectOutcome(SocketHandle socket) {
  int so_error = 0;
  int len = sizeof so_error;
  if (::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error),
                   &len) != 0) {
    return LastError();
  }
  return so_error;
}

void calls::SetNoDelay(SocketHandle socket) {
  const BOOL one = TRUE;
  ::setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

int BindAny(SocketHandle socket, int port) {
  // Here SO_REUSEADDR would let another program take the port from under us;
  // exclusive use keeps it ours (a port in TIME_WAIT does not block a bind).
  const BOOL one = TRUE;
  ::setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
               sizeof one);
  const sockaddr_in sa = MakeAddress(INADDR_ANY, port);
  if (::bind(Native(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    return LastError();
  }
  return 0;
}

int Listen(SocketHandle socket, int backlog) {
  if (::listen(Native(socket), backlog) != 0) return LastError();
  return 0;
}

SocketHandle Accept(SocketHandle listener, int* error) {
  const SOCKET s = ::accept(Native(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    *error = LastError();
    return kInvalidSocket;
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  *error = 0;
  return static_cast<SocketHandle>(s);
}

long SendSome(SocketHandle socket, const void* data, size_t length, int* error) {
  const int chunk = length > 1 << 30 ? 1 << 30 : static_cast<int>(length);
  const int n = ::send(Native(socket), static_cast<const char*>(data), chunk, 0);
  if (n == SOCKET_ERROR) {
    *error = LastError();
    return -1;
  }
  return n;
}

long RecvSome(SocketHandle socket, void* buffer, size_t length, int* error) {
  const int chunk = length > 1 << 30 ? 1 << 30 : static_cast<int>(length);
  const int n = ::recv(Native(socket), static_cast<char*>(buffer), chunk, 0);
  if (n == SOCKET_ERROR) {
    *error = LastError();
    return -1;
  }
  return n;
}

long RecvReady(SocketHandle socket, void* buffer, size_t length, int* error) {
  const int ready = SelectOne(socket, false, 0);
  if (ready == SOCKET_ERROR) {
    *error = LastError();
    return -1;
  }
  if (ready == 0) return kRecvWouldBlock;
  return RecvSome(socket, buffer, length, error);
}

WaitResult WaitReadable(SocketHandle socket, int timeout_ms, int* error) {
  const int rc = SelectOne(socket, false, timeout_ms);
  if (rc > 0) return WaitResult::kReady;
  if (rc == 0) return WaitResult::kTimeout;
  *error = LastError();
  return WaitResult::kError;
}

int LocalAddress(SocketHandle socket, uint32_t* address, int* port) {
  sockaddr_in sa;
  int len = sizeof sa;
  std::memset(&sa, 0, sizeof sa);
  if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    return LastError();
  }
  if (sa.sin_family != AF_INET) return kWsaEafnosupport;
  *address = ntohl(sa.sin_addr.s_addr);
  *port = ntohs(sa.sin_port);
  return 0;
}

std::string HostName() {
  EnsureStarted();
  char name[128];
  std::memset(name, 0, sizeof name);
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return std::string(name);
}

}  // namespace orvanta::net
