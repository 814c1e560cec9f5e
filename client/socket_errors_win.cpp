// Windows side of the socket error codes: WSAGetLastError() and
// getaddrinfo() already give Windows Sockets codes, which key the texts as
// they are.
#include "client/socket_errors.h"

namespace orvanta::net {

int WsaCodeFromErrno(int err) { return err; }

int WsaCodeFromResolver(int gai_result, int /*err*/) { return gai_result; }

}  // namespace orvanta::net
