// Windows stand-in for tests/fakes/unused_port.h (found first on the Windows
// suites' include path): the same free port, through the client's socket
// layer, as Winsock has no <netinet/in.h>.
#pragma once

#include <cstdint>

#include "client/socket_layer.h"

namespace orvanta::testing {

// A port that was free a moment ago: bound once, read back, then released.
// 0 if none could be bound.
inline int UnusedPort() {
  if (net::Startup() != 0) return 0;
  int error = 0;
  const net::SocketHandle socket = net::CreateTcpSocket(&error);
  if (socket == net::kInvalidSocket) return 0;
  uint32_t address = 0;
  int port = 0;
  if (net::BindAny(socket, 0) != 0 || net::LocalAddress(socket, &address, &port) != 0) port = 0;
  net::CloseSocket(socket);
  return port;
}

}  // namespace orvanta::testing
