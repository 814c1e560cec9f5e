// The portable half of the socket layer: the bounded connect's waiting and
// the address text. The system calls are socket_layer_<platform>.cpp's.
#include "client/socket_layer.h"

#include <cstdio>

#include "client/socket_errors.h"
#include "client/socket_layer_calls.h"

namespace orvanta::net {
namespace {

// Waits for a connect under way: in slices, so that a cancel request is seen
// promptly. 0, or a code.
int AwaitConnect(SocketHandle socket, int timeout_ms, const std::function<bool()>& cancelled) {
  constexpr int kSliceMs = 20;
  int waited = 0;
  for (;;) {
    if (cancelled && cancelled()) return kWsaEintr;
    if (timeout_ms > 0 && waited >= timeout_ms) return kWsaEtimedout;
    int error = 0;
    const int ended = calls::WaitConnectEnd(socket, kSliceMs, &error);
    if (ended < 0) return error;
    if (ended > 0) return calls::ConnectOutcome(socket);
    waited += kSliceMs;
  }
}

}  // namespace

int ConnectBounded(SocketHandle socket, uint32_t address, int port, int timeout_ms,
                   const std::function<bool()>& cancelled) {
  long mode = 0;
  if (const int error = calls::SetNonBlocking(socket, &mode); error != 0) return error;
  int result = calls::StartConnect(socket, address, port);
  if (result == calls::kConnectPending) result = AwaitConnect(socket, timeout_ms, cancelled);
  calls::RestoreMode(socket, mode);
  if (result != 0) return result;
  calls::SetNoDelay(socket);
  return 0;
}

std::string FormatIPv4(uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "%i.%i.%i.%i", static_cast<int>((address >> 24) & 0xFF),
                static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                static_cast<int>(address & 0xFF));
  return text;
}

}  // namespace orvanta::net
