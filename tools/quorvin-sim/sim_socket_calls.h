// The system calls under the simulator's socket operations (sim_socket.h):
// the system's socket headers and what differs between the platforms. The
// operations themselves, where they are the same everywhere, are
// sim_socket.cpp's; these calls are sim_socket_<platform>.cpp's.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <string>

#include "tools/quorvin-sim/sim_socket.h"

namespace orvanta::sim::net::calls {

#ifdef _WIN32
using NativeSocket = SOCKET;
using AddressLength = int;
#else
using NativeSocket = int;
using AddressLength = socklen_t;
#endif

inline NativeSocket Native(Socket s) { return static_cast<NativeSocket>(s); }

// A new TCP socket, not inherited by child processes; kNoSocket on failure
// (LastErrorText() tells why).
Socket NewSocket(bool nonBlocking);
// "a.b.c.d:port".
std::string AddressText(const sockaddr_in& a);
// Sets the address option a listener needs before its bind.
void PrepareListener(Socket s);
void SetNoDelay(Socket s);
// The last connect() is still going on in the background.
bool ConnectPending();
// A connected socket's mode for ReadExact and WriteAll.
void SetConnectedMode(Socket s);
// The socket's pending error (SO_ERROR); 0 when none.
int PendingError(Socket s);
// The text of `code`, or of the last error when `code` is 0.
std::string ErrorText(int code);
// Waits until `s` is readable (or writable when `write`), the wake-up is
// raised, or `timeout_ms` passes (-1: no limit).
WaitResult WaitFor(Socket s, bool write, const Wakeup& wakeup, int timeout_ms);

// What a wait in the middle of a read or write means for it: kOk to go on.
inline IoResult AfterWait(WaitResult waited) {
  switch (waited) {
    case WaitResult::kWoken:
      return IoResult::kWoken;
    case WaitResult::kError:
      return IoResult::kError;
    default:
      return IoResult::kOk;
  }
}

}  // namespace orvanta::sim::net::calls
