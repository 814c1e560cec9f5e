// POSIX side of the socket layer: the system calls, and those of
// socket_layer_calls.h for the bounded connect.
#include "client/socket_layer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "client/socket_errors.h"
#include "client/socket_layer_calls.h"

namespace orvanta::net {
namespace {

int LastError() { return WsaCodeFromErrno(errno); }

sockaddr_in MakeAddress(uint32_t address, int port) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

}  // namespace

int Startup() { return 0; }

SocketHandle CreateTcpSocket(int* error) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) {
    *error = LastError();
    return kInvalidSocket;
  }
  *error = 0;
  return s;
}

int CloseSocket(SocketHandle socket) {
  // On this platform the descriptor is released even when close() reports
  // EINTR, so it is never retried.
  if (::close(socket) != 0) return LastError();
  return 0;
}

void ShutdownSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::shutdown(socket, SHUT_RDWR);
}

int ResolveIPv4(const std::string& name, uint32_t* address) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  errno = 0;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0) return WsaCodeFromResolver(rc, errno);
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
  const sockaddr_in sa = MakeAddress(address, port);
  while (::connect(socket, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno == EINTR) {
      // The connection attempt goes on in the background; wait for its end.
      pollfd p{socket, POLLOUT, 0};
      while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
      }
      int so_error = 0;
      socklen_t len = sizeof so_error;
      if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) return LastError();
      return so_error == 0 ? 0 : WsaCodeFromErrno(so_error);
    }
    return LastError();
  }
  calls::SetNoDelay(socket);
  return 0;
}

int calls::SetNonBlocking(SocketHandle socket, long* mode) {
  const int flags = ::fcntl(socket, F_GETFL, 0);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return LastError();
  *mode = flags;
  return 0;
}

void calls::RestoreMode(SocketHandle socket, long mode) {
  ::fcntl(socket, F_SETFL, static_cast<int>(mode));
}

int calls::StartConnect(SocketHandle socket, uint32_t address, int port) {
  const sockaddr_in sa = MakeAddress(address, port);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
  return errno == EINPROGRESS || errno == EINTR ? kConnectPending : LastError();
}

int calls::WaitConnectEnd(SocketHandle socket, int ms, int* error) {
  pollfd p{socket, POLLOUT, 0};
  const int n = ::poll(&p, 1, ms);
  if (n < 0 && errno != EINTR) {
    *error = LastError();
    return -1;
  }
  return n > 0 ? 1 : 0;
}

int calls::ConnectOutcome(SocketHandle socket) {
  int so_error = 0;
  socklen_t len = sizeof so_error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) return LastError();
  return so_error == 0 ? 0 : WsaCodeFromErrno(so_error);
}

void calls::SetNoDelay(SocketHandle socket) {
  const int one = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int BindAny(SocketHandle socket, int port) {
  // Lets a new listener take a port whose earlier connection still lingers
  // in TIME_WAIT; it never lets two listeners share a port here.
  const int one = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in sa = MakeAddress(INADDR_ANY, port);
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return LastError();
  return 0;
}

int Listen(SocketHandle socket, int backlog) {
  if (::listen(socket, backlog) != 0) return LastError();
  return 0;
}

SocketHandle Accept(SocketHandle listener, int* error) {
  for (;;) {
    const int s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (s >= 0) {
      *error = 0;
      return s;
    }
    if (errno == EINTR) continue;
    *error = LastError();
    return kInvalidSocket;
  }
}

long SendSome(SocketHandle socket, const void* data, size_t length, int* error) {
  for (;;) {
    const ssize_t n = ::send(socket, data, length, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    *error = LastError();
    return -1;
  }
}

long RecvSome(SocketHandle socket, void* buffer, size_t length, int* error) {
  for (;;) {
    const ssize_t n = ::recv(socket, buffer, length, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    *error = LastError();
    return -1;
  }
}

long RecvReady(SocketHandle socket, void* buffer, size_t length, int* error) {
  for (;;) {
    const ssize_t n = ::recv(socket, buffer, length, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kRecvWouldBlock;
    *error = LastError();
    return -1;
  }
}

WaitResult WaitReadable(SocketHandle socket, int timeout_ms, int* error) {
  pollfd p{socket, POLLIN, 0};
  for (;;) {
    const int rc = ::poll(&p, 1, timeout_ms < 0 ? -1 : timeout_ms);
    if (rc > 0) {
      if (p.revents & POLLNVAL) {
        *error = kWsaEnotsock;
        return WaitResult::kError;
      }
      // POLLHUP and POLLERR count as ready: the following recv or accept
      // reports what happened.
      return WaitResult::kReady;
    }
    if (rc == 0) return WaitResult::kTimeout;
    if (errno == EINTR) continue;
    *error = LastError();
    return WaitResult::kError;
  }
}

int LocalAddress(SocketHandle socket, uint32_t* address, int* port) {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  std::memset(&sa, 0, sizeof sa);
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return LastError();
  if (sa.sin_family != AF_INET) return kWsaEafnosupport;
  *address = ntohl(sa.sin_addr.s_addr);
  *port = ntohs(sa.sin_port);
  return 0;
}

std::string HostName() {
  char name[128];
  std::memset(name, 0, sizeof name);
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return std::string(name);
}

}  // namespace orvanta::net
