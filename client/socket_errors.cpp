#include "client/socket_errors.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace orvanta::net {
namespace {

using enum SocketCall;

// The set of calls a text belongs to, one bit per call.
template <typename... Call>
constexpr uint32_t Calls(Call... calls) {
  return ((uint32_t{1} << static_cast<unsigned>(calls)) | ...);
}

// One row per text: the code it describes and every call that reports the
// code with that text. A call has at most one row per code.
struct ErrorRow {
  int code;
  uint32_t calls;
  const char* description;
};

constexpr ErrorRow kRows[] = {
    {kWsaEintr, Calls(kGetServerInfo),
     "A blocking Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEintr, Calls(kConnect),
     "The blocking Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEintr, Calls(kSend, kRecieve, kClose, kStreamRecieve, kStreamClose),
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEintr, Calls(kStreamAccept),
     "A blocking Windows Sockets 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEacces, Calls(kConnect, kStreamBind),
     "Attempt to connect datagram socket to broadcast address failed because setsockopt option "
     "SO_BROADCAST is not enabled."},
    {kWsaEacces, Calls(kSend),
     "The requested address is a broadcast address, but the appropriate flag was not set. Call "
     "setsockopt with the SO_BROADCAST parameter to allow the use of the broadcast address."},
    {kWsaEfault, Calls(kStartup), "The lpWSAData is not a valid pointer."},
    {kWsaEfault, Calls(kGetServerInfo),
     "The name parameter is not a valid part of the user address space."},
    {kWsaEfault, Calls(kConnect),
     "The name or the namelen parameter is not a valid part of the user address space."},
    {kWsaEfault, Calls(kSend, kRecieve, kStreamRecieve),
     "The buf parameter is not completely contained in a valid part of the user address space."},
    {kWsaEfault, Calls(kStreamBind),
     "The name or namelen parameter is not a valid part of the user address space."},
    {kWsaEfault, Calls(kStreamAccept),
     "The addrlen parameter is too small or addr is not a valid part of the user address space."},
    {kWsaEinval, Calls(kConnect), "The parameter s is a listening socket."},
    {kWsaEinval, Calls(kSend),
     "The socket has not been bound with bind, or an unknown flag was specified, or MSG_OOB was "
     "specified for a socket with SO_OOBINLINE enabled."},
    {kWsaEinval, Calls(kStreamBind), "The socket is already bound to an address."},
    {kWsaEinval, Calls(kStreamListen), "The socket has not been bound with bind."},
    {kWsaEinval, Calls(kStreamAccept), "The listen function was not invoked prior to accept."},
    {kWsaEmfile, Calls(kCreateSocket, kStreamCreateSocket, kStreamListen),
     "No more socket descriptors are available."},
    {kWsaEmfile, Calls(kStreamAccept),
     "The queue is nonempty upon entry to accept and there are no descriptors available."},
    {kWsaEwouldblock, Calls(kConnect),
     "The socket is marked as nonblocking and the connection cannot be completed immediately."},
    {kWsaEwouldblock, Calls(kSend, kRecieve, kClose, kStreamRecieve, kStreamClose),
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {kWsaEwouldblock, Calls(kStreamAccept),
     "The socket is marked as nonblocking and no connections are present to be accepted."},
    {kWsaEinprogress, Calls(kStartup), "A blocking Windows Sockets 1.1 operation is in progress."},
    {kWsaEinprogress,
     Calls(kCreateSocket, kGetServerInfo, kConnect, kSend, kRecieve, kClose, kStreamCreateSocket,
           kStreamBind, kStreamListen, kStreamAccept, kStreamRecieve, kStreamClose),
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEalready, Calls(kConnect),
     "A nonblocking connect call is in progress on the specified socket. "},
    {kWsaEnotsock,
     Calls(kConnect, kSend, kRecieve, kClose, kStreamBind, kStreamListen, kStreamAccept,
           kStreamRecieve, kStreamClose),
     "The descriptor is not a socket."},
    {kWsaEmsgsize, Calls(kSend, kRecieve, kStreamRecieve),
     "The socket is message oriented, and the message is larger than the maximum supported by the "
     "underlying transport."},
    {kWsaEprototype, Calls(kCreateSocket, kStreamCreateSocket),
     "The specified protocol is the wrong type for this socket."},
    {kWsaEprotonosupport, Calls(kCreateSocket, kStreamCreateSocket),
     "The specified protocol is not supported."},
    {kWsaEsocktnosupport, Calls(kCreateSocket, kStreamCreateSocket),
     "The specified socket type is not supported in this address family."},
    {kWsaEopnotsupp, Calls(kSend, kRecieve, kStreamRecieve),
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data "
     "is not supported in the communication domain associated with this socket, or the socket is "
     "unidirectional and supports only receive operations."},
    {kWsaEopnotsupp, Calls(kStreamListen),
     "The referenced socket is not of a type that supports the listen operation."},
    {kWsaEopnotsupp, Calls(kStreamAccept),
     "The referenced socket is not of a type that supports connection-oriented service."},
    {kWsaEafnosupport, Calls(kCreateSocket, kStreamCreateSocket),
     "The specified address family is not supported."},
    {kWsaEafnosupport, Calls(kConnect),
     "Addresses in the specified family cannot be used with this socket."},
    {kWsaEaddrinuse, Calls(kConnect, kStreamListen),
     "The socket's local address is already in use and the socket was not marked to allow address "
     "reuse with SO_REUSEADDR."},
    {kWsaEaddrinuse, Calls(kStreamBind),
     "A process on the computer is already bound to the same fully-qualified address and the "
     "socket has not been marked to allow address reuse with SO_REUSEADDR."},
    {kWsaEaddrnotavail, Calls(kConnect),
     "The remote address is not a valid address (such as ADDR_ANY)."},
    {kWsaEaddrnotavail, Calls(kStreamBind),
     "The specified address is not a valid address for this computer."},
    {kWsaEnetdown,
     Calls(kCreateSocket, kStreamCreateSocket, kStreamBind, kStreamListen, kStreamAccept),
     "The network subsystem or the associated service provider has failed."},
    {kWsaEnetdown,
     Calls(kGetServerInfo, kConnect, kSend, kRecieve, kClose, kStreamRecieve, kStreamClose),
     "The network subsystem has failed."},
    {kWsaEnetunreach, Calls(kConnect),
     "The network cannot be reached from this host at this time."},
    {kWsaEnetreset, Calls(kSend, kRecieve, kStreamRecieve),
     "The connection has been broken due to the keep-alive activity detecting a failure while the "
     "operation was in progress."},
    {kWsaEconnaborted, Calls(kSend, kRecieve, kStreamRecieve),
     "The virtual circuit was terminated due to a time-out or other failure. The application "
     "should close the socket as it is no longer usable."},
    {kWsaEconnreset, Calls(kSend, kRecieve, kStreamRecieve),
     "The virtual circuit was reset by the remote side executing a hard or abortive close. For UPD "
     "sockets, the remote host was unable to deliver a previously sent UDP datagram and responded "
     "with a 'Port Unreachable' ICMP packet. The application should close the socket as it is no "
     "longer usable."},
    {kWsaEnobufs, Calls(kCreateSocket, kStreamCreateSocket, kStreamBind),
     "No buffer space is available. The socket cannot be created."},
    {kWsaEnobufs, Calls(kConnect), "No buffer space is available. The socket cannot be connected."},
    {kWsaEnobufs, Calls(kSend, kStreamListen, kStreamAccept), "No buffer space is available."},
    {kWsaEisconn, Calls(kConnect),
     "The socket is already connected (connection-oriented sockets only)."},
    {kWsaEisconn, Calls(kStreamListen), "The socket is already connected."},
    {kWsaEnotconn, Calls(kSend, kRecieve, kStreamRecieve), "The socket is not connected."},
    {kWsaEshutdown, Calls(kSend, kRecieve, kStreamRecieve),
     "The socket has been shut down; it is not possible to send on a socket after shutdown has "
     "been invoked with how set to SD_SEND or SD_BOTH."},
    {kWsaEtimedout, Calls(kConnect),
     "Attempt to connect timed out without establishing a connection."},
    {kWsaEtimedout, Calls(kSend, kRecieve, kStreamRecieve),
     "The connection has been dropped, because of a network failure or because the system on the "
     "other end went down without notice."},
    {kWsaEconnrefused, Calls(kConnect), "The attempt to connect was forcefully rejected."},
    {kWsaEhostunreach, Calls(kSend),
     "The remote host cannot be reached from this host at this time."},
    {kWsaEproclim, Calls(kStartup),
     "Limit on the number of tasks supported by the Windows Sockets implementation has been "
     "reached."},
    {kWsaSysnotready, Calls(kStartup),
     "The underlying network subsystem is not ready for network communication."},
    {kWsaVernotsupported, Calls(kStartup),
     "The version of Windows Sockets support requested is not provided by this particular Windows "
     "Sockets implementation."},
    {kWsaNotinitialised,
     Calls(kCreateSocket, kGetServerInfo, kConnect, kSend, kRecieve, kClose, kStreamCreateSocket,
           kStreamBind, kStreamListen, kStreamAccept, kStreamRecieve, kStreamClose),
     "A successful WSAStartup call must occur before using this function."},
    {kWsaHostNotFound, Calls(kGetServerInfo), "Authoritative answer host not found."},
    {kWsaTryAgain, Calls(kGetServerInfo), "Nonauthoritative host not found, or server failure."},
    {kWsaNoRecovery, Calls(kGetServerInfo), "A nonrecoverable error occurred."},
    {kWsaNoData, Calls(kGetServerInfo), "Valid name, no data record of requested type."},
};

// A second row of a call for the same code would never be reached.
constexpr bool EachCallHasOneRowPerCode() {
  for (size_t i = 0; i < std::size(kRows); ++i)
    for (size_t j = i + 1; j < std::size(kRows); ++j)
      if (kRows[i].code == kRows[j].code && (kRows[i].calls & kRows[j].calls) != 0) return false;
  return true;
}
static_assert(EachCallHasOneRowPerCode(), "a call has two rows for the same code");

// The start of every text of a call.
struct CallPrefix {
  SocketCall call;
  const char* prefix;
};

constexpr CallPrefix kPrefixes[] = {
    {SocketCall::kStartup,
     "NetworkNodeClient::SocketStartup() - Error requesting Socket Startup, return code: "},
    {SocketCall::kCreateSocket,
     "NetworkNodeClient::CreateSocket() - Error Creating Socket, error code: "},
    {SocketCall::kGetServerInfo,
     "NetworkNodeClient::GetServerInfo() - Error Getting Server Name, error code: "},
    {SocketCall::kConnect,
     "NetworkNodeClient::ConnectToServer() - Error Connecting To Server, error code: "},
    {SocketCall::kSend, "NetworkNodeClient::ProcessSendError() - Error sending data, error code: "},
    {SocketCall::kRecieve,
     "NetworkNodeClient::ProcessRecieveError() - Error recieving data, error code: "},
    {SocketCall::kClose,
     "NetworkNodeClient::ProcessCloseError() - Error closing socket, error code: "},
    {SocketCall::kStreamCreateSocket,
     "NodeConnectionClient::CreateSocket() - Error Creating Socket, error code: "},
    {SocketCall::kStreamBind,
     "NodeConnectionClient::BindSocket() - Error Binding Socket, error code: "},
    {SocketCall::kStreamListen,
     "NodeConnectionClient::ListenToSocket() - Error Listening To Socket, error code: "},
    {SocketCall::kStreamAccept,
     "NodeConnectionClient::AcceptClientSocket() - Error Accepting Socket, error code: "},
    {SocketCall::kStreamRecieve,
     "NodeConnectionClient::ProcessRecieveError() - Error recieving data, error code: "},
    {SocketCall::kStreamClose,
     "NodeConnectionClient::ProcessCloseError() - Error closing socket, error code: "},
};

const char* FindPrefix(SocketCall call) {
  for (const CallPrefix& p : kPrefixes)
    if (p.call == call) return p.prefix;
  return nullptr;
}

// The name of every Windows Sockets code the client can report.
struct NamedCode {
  int code;
  const char* name;
};
constexpr NamedCode kNames[] = {
    {kWsaEintr, "WSAEINTR"},
    {kWsaEbadf, "WSAEBADF"},
    {kWsaEacces, "WSAEACCES"},
    {kWsaEfault, "WSAEFAULT"},
    {kWsaEinval, "WSAEINVAL"},
    {kWsaEmfile, "WSAEMFILE"},
    {kWsaEwouldblock, "WSAEWOULDBLOCK"},
    {kWsaEinprogress, "WSAEINPROGRESS"},
    {kWsaEalready, "WSAEALREADY"},
    {kWsaEnotsock, "WSAENOTSOCK"},
    {kWsaEdestaddrreq, "WSAEDESTADDRREQ"},
    {kWsaEmsgsize, "WSAEMSGSIZE"},
    {kWsaEprototype, "WSAEPROTOTYPE"},
    {kWsaEnoprotoopt, "WSAENOPROTOOPT"},
    {kWsaEprotonosupport, "WSAEPROTONOSUPPORT"},
    {kWsaEsocktnosupport, "WSAESOCKTNOSUPPORT"},
    {kWsaEopnotsupp, "WSAEOPNOTSUPP"},
    {kWsaEpfnosupport, "WSAEPFNOSUPPORT"},
    {kWsaEafnosupport, "WSAEAFNOSUPPORT"},
    {kWsaEaddrinuse, "WSAEADDRINUSE"},
    {kWsaEaddrnotavail, "WSAEADDRNOTAVAIL"},
    {kWsaEnetdown, "WSAENETDOWN"},
    {kWsaEnetunreach, "WSAENETUNREACH"},
    {kWsaEnetreset, "WSAENETRESET"},
    {kWsaEconnaborted, "WSAECONNABORTED"},
    {kWsaEconnreset, "WSAECONNRESET"},
    {kWsaEnobufs, "WSAENOBUFS"},
    {kWsaEisconn, "WSAEISCONN"},
    {kWsaEnotconn, "WSAENOTCONN"},
    {kWsaEshutdown, "WSAESHUTDOWN"},
    {kWsaEtimedout, "WSAETIMEDOUT"},
    {kWsaEconnrefused, "WSAECONNREFUSED"},
    {kWsaEloop, "WSAELOOP"},
    {kWsaEnametoolong, "WSAENAMETOOLONG"},
    {kWsaEhostdown, "WSAEHOSTDOWN"},
    {kWsaEhostunreach, "WSAEHOSTUNREACH"},
    {kWsaEproclim, "WSAEPROCLIM"},
    {kWsaSysnotready, "WSASYSNOTREADY"},
    {kWsaVernotsupported, "WSAVERNOTSUPPORTED"},
    {kWsaNotinitialised, "WSANOTINITIALISED"},
    {kWsaHostNotFound, "WSAHOST_NOT_FOUND"},
    {kWsaTryAgain, "WSATRY_AGAIN"},
    {kWsaNoRecovery, "WSANO_RECOVERY"},
    {kWsaNoData, "WSANO_DATA"},
};

}  // namespace

std::string SocketErrorText(SocketCall call, int code) {
  const char* prefix = FindPrefix(call);
  if (prefix == nullptr) return std::string();
  for (const ErrorRow& row : kRows) {
    if (row.code == code && (row.calls & Calls(call)) != 0) {
      std::string text(prefix);
      text += SocketErrorName(code);
      text += " - ";
      text += row.description;
      return text;
    }
  }
  if (call == SocketCall::kStreamClose) return std::string(prefix) + "UNKNOWN.";
  return std::string();
}

std::string SocketErrorName(int code) {
  for (const NamedCode& n : kNames)
    if (n.code == code) return n.name;
  return std::string();
}

}  // namespace orvanta::net
