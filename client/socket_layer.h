// A thin layer over the system's socket calls: IPv4 TCP only, blocking
// sockets, errors reported as Windows Sockets codes (socket_errors.h).
//
// Everything above this layer is free of system socket headers, so that a
// Winsock build only has to provide another socket_layer.cpp.
//
// Thread safety: the functions themselves keep no state. A handle may be
// shut down from one thread while another thread is blocked on it; that is
// how blocked accept/recv calls are ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orvanta::net {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
#endif

// Prepares the socket library for use. 0, or a Windows Sockets code.
int Startup();

// A new IPv4 stream socket (TCP), or kInvalidSocket with *error set.
SocketHandle CreateTcpSocket(int* error);

// Closes the handle. 0, or a Windows Sockets code. The handle is released in
// either case and must not be used again.
int CloseSocket(SocketHandle socket);

// Shuts both directions of the socket down so that any call blocked on it
// returns at once. Errors (for example, a socket never connected) are ignored.
void ShutdownSocket(SocketHandle socket);

// Resolves a host name or dotted address to its first IPv4 address (host byte
// order). 0, or a resolver code (kWsaHostNotFound ...).
int ResolveIPv4(const std::string& name, uint32_t* address);

// Connects to address:port (address in host byte order). 0, or a code.
int Connect(SocketHandle socket, uint32_t address, int port);
// The same, giving up after timeout_ms (0 or less: no limit of our own) with
// WSAETIMEDOUT, or as soon as `cancelled` (may be empty) returns true, with
// WSAEINTR.
int ConnectBounded(SocketHandle socket, uint32_t address, int port, int timeout_ms,
                   const std::function<bool()>& cancelled);

// Binds to all local IPv4 addresses on `port` (0: any free port). 0, or a code.
int BindAny(SocketHandle socket, int port);

// 0, or a code.
int Listen(SocketHandle socket, int backlog);

// Accepts one connection (the peer's address is not asked for).
SocketHandle Accept(SocketHandle listener, int* error);

// One send call: the number of bytes sent, or -1 with *error set. Never
// raises a signal when the peer has gone.
long SendSome(SocketHandle socket, const void* data, size_t length, int* error);

// One receive call: the number of bytes received, 0 when the peer closed the
// connection, or -1 with *error set.
long RecvSome(SocketHandle socket, void* buffer, size_t length, int* error);

// One receive call that does not wait: as RecvSome, or kRecvWouldBlock when
// no byte is ready yet.
inline constexpr long kRecvWouldBlock = -2;
long RecvReady(SocketHandle socket, void* buffer, size_t length, int* error);

enum class WaitResult { kReady, kTimeout, kError };

// Waits up to timeout_ms (negative: without limit) until the socket can be
// read without blocking: data, a connection to accept, the peer's close, or a
// shutdown. kError with *error set when the wait itself fails.
WaitResult WaitReadable(SocketHandle socket, int timeout_ms, int* error);

// The local address and port of a bound or connected socket. 0, or a code.
int LocalAddress(SocketHandle socket, uint32_t* address, int* port);

// "%i.%i.%i.%i", most significant byte first.
std::string FormatIPv4(uint32_t address);

// This computer's host name (at most 127 characters), or empty.
std::string HostName();

}  // namespace orvanta::net
