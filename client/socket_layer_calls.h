// The system calls under the socket layer's bounded connect (socket_layer.h).
// The connect's waiting in slices, its time-out and its cancel are
// socket_layer.cpp's; these calls are socket_layer_<platform>.cpp's. Codes
// are Windows Sockets codes, as everywhere in the layer.
#pragma once

#include <cstdint>

#include "client/socket_layer.h"

namespace orvanta::net::calls {

// StartConnect's answer while the connection is still being made.
inline constexpr int kConnectPending = -1;

// Makes the socket non-blocking; `mode` keeps what to restore. 0, or a code.
int SetNonBlocking(SocketHandle socket, long* mode);
void RestoreMode(SocketHandle socket, long mode);
// Starts connecting to address:port: 0 when connected at once,
// kConnectPending, or a code.
int StartConnect(SocketHandle socket, uint32_t address, int port);
// Waits up to `ms` for the connect to end: 1 when it has, 0 when not yet, -1
// with *error set when the wait fails.
int WaitConnectEnd(SocketHandle socket, int ms, int* error);
// How the connect ended: 0, or a code.
int ConnectOutcome(SocketHandle socket);
// Commands and replies are small; they go without delay.
void SetNoDelay(SocketHandle socket);

}  // namespace orvanta::net::calls
