#include "client/socket_errors.h"

#include <cstddef>
#include <iterator>

namespace orvanta::net {
namespace {

struct ErrorRow {
  int code;
  const char* description;
};

struct CallTable {
  SocketCall call;
  const char* prefix;
  const ErrorRow* rows;
  size_t count;
};

// NetworkNodeClient::SocketStartup
constexpr ErrorRow kStartupRows[] = {
    {kWsaEfault, "The lpWSAData is not a valid pointer."},
    {kWsaEinprogress, "A blocking Windows Sockets 1.1 operation is in progress."},
    {kWsaEproclim,
     "Limit on the number of tasks supported by the Windows Sockets implementation has been "
     "reached."},
    {kWsaSysnotready, "The underlying network subsystem is not ready for network communication."},
    {kWsaVernotsupported,
     "The version of Windows Sockets support requested is not provided by this particular Windows "
     "Sockets implementation."},
};
// NetworkNodeClient::CreateSocket
constexpr ErrorRow kCreateSocketRows[] = {
    {kWsaEmfile, "No more socket descriptors are available."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEprototype, "The specified protocol is the wrong type for this socket."},
    {kWsaEprotonosupport, "The specified protocol is not supported."},
    {kWsaEsocktnosupport, "The specified socket type is not supported in this address family."},
    {kWsaEafnosupport, "The specified address family is not supported."},
    {kWsaEnetdown, "The network subsystem or the associated service provider has failed."},
    {kWsaEnobufs, "No buffer space is available. The socket cannot be created."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::GetServerInfo
constexpr ErrorRow kGetServerInfoRows[] = {
    {kWsaEintr, "A blocking Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEfault, "The name parameter is not a valid part of the user address space."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnetdown, "The network subsystem has failed."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
    {kWsaHostNotFound, "Authoritative answer host not found."},
    {kWsaTryAgain, "Nonauthoritative host not found, or server failure."},
    {kWsaNoRecovery, "A nonrecoverable error occurred."},
    {kWsaNoData, "Valid name, no data record of requested type."},
};
// NetworkNodeClient::ConnectToServer
constexpr ErrorRow kConnectRows[] = {
    {kWsaEintr, "The blocking Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEacces,
     "Attempt to connect datagram socket to broadcast address failed because setsockopt option "
     "SO_BROADCAST is not enabled."},
    {kWsaEfault,
     "The name or the namelen parameter is not a valid part of the user address space."},
    {kWsaEinval, "The parameter s is a listening socket."},
    {kWsaEwouldblock,
     "The socket is marked as nonblocking and the connection cannot be completed immediately."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEalready, "A nonblocking connect call is in progress on the specified socket. "},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEafnosupport, "Addresses in the specified family cannot be used with this socket."},
    {kWsaEaddrinuse,
     "The socket's local address is already in use and the socket was not marked to allow address "
     "reuse with SO_REUSEADDR."},
    {kWsaEaddrnotavail, "The remote address is not a valid address (such as ADDR_ANY)."},
    {kWsaEnetdown, "The network subsystem has failed."},
    {kWsaEnetunreach, "The network cannot be reached from this host at this time."},
    {kWsaEnobufs, "No buffer space is available. The socket cannot be connected."},
    {kWsaEisconn, "The socket is already connected (connection-oriented sockets only)."},
    {kWsaEtimedout, "Attempt to connect timed out without establishing a connection."},
    {kWsaEconnrefused, "The attempt to connect was forcefully rejected."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::ProcessSendError
constexpr ErrorRow kSendRows[] = {
    {kWsaEintr,
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEacces,
     "The requested address is a broadcast address, but the appropriate flag was not set. Call "
     "setsockopt with the SO_BROADCAST parameter to allow the use of the broadcast address."},
    {kWsaEfault,
     "The buf parameter is not completely contained in a valid part of the user address space."},
    {kWsaEinval,
     "The socket has not been bound with bind, or an unknown flag was specified, or MSG_OOB was "
     "specified for a socket with SO_OOBINLINE enabled."},
    {kWsaEwouldblock,
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEmsgsize,
     "The socket is message oriented, and the message is larger than the maximum supported by the "
     "underlying transport."},
    {kWsaEopnotsupp,
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data "
     "is not supported in the communication domain associated with this socket, or the socket is "
     "unidirectional and supports only receive operations."},
    {kWsaEnetdown, "The network subsystem has failed."},
    {kWsaEnetreset,
     "The connection has been broken due to the keep-alive activity detecting a failure while the "
     "operation was in progress."},
    {kWsaEconnaborted,
     "The virtual circuit was terminated due to a time-out or other failure. The application "
     "should close the socket as it is no longer usable."},
    {kWsaEconnreset,
     "The virtual circuit was reset by the remote side executing a hard or abortive close. For UPD "
     "sockets, the remote host was unable to deliver a previously sent UDP datagram and responded "
     "with a 'Port Unreachable' ICMP packet. The application should close the socket as it is no "
     "longer usable."},
    {kWsaEnobufs, "No buffer space is available."},
    {kWsaEnotconn, "The socket is not connected."},
    {kWsaEshutdown,
     "The socket has been shut down; it is not possible to send on a socket after shutdown has "
     "been invoked with how set to SD_SEND or SD_BOTH."},
    {kWsaEtimedout,
     "The connection has been dropped, because of a network failure or because the system on the "
     "other end went down without notice."},
    {kWsaEhostunreach, "The remote host cannot be reached from this host at this time."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::ProcessRecieveError
constexpr ErrorRow kRecieveRows[] = {
    {kWsaEintr,
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEfault,
     "The buf parameter is not completely contained in a valid part of the user address space."},
    {kWsaEwouldblock,
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEmsgsize,
     "The socket is message oriented, and the message is larger than the maximum supported by the "
     "underlying transport."},
    {kWsaEopnotsupp,
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data "
     "is not supported in the communication domain associated with this socket, or the socket is "
     "unidirectional and supports only receive operations."},
    {kWsaEnetdown, "The network subsystem has failed."},
    {kWsaEnetreset,
     "The connection has been broken due to the keep-alive activity detecting a failure while the "
     "operation was in progress."},
    {kWsaEconnaborted,
     "The virtual circuit was terminated due to a time-out or other failure. The application "
     "should close the socket as it is no longer usable."},
    {kWsaEconnreset,
     "The virtual circuit was reset by the remote side executing a hard or abortive close. For UPD "
     "sockets, the remote host was unable to deliver a previously sent UDP datagram and responded "
     "with a 'Port Unreachable' ICMP packet. The application should close the socket as it is no "
     "longer usable."},
    {kWsaEnotconn, "The socket is not connected."},
    {kWsaEshutdown,
     "The socket has been shut down; it is not possible to send on a socket after shutdown has "
     "been invoked with how set to SD_SEND or SD_BOTH."},
    {kWsaEtimedout,
     "The connection has been dropped, because of a network failure or because the system on the "
     "other end went down without notice."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::ProcessCloseError
constexpr ErrorRow kCloseRows[] = {
    {kWsaEintr,
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEwouldblock,
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEnetdown, "The network subsystem has failed."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::CreateSocket
constexpr ErrorRow kStreamCreateSocketRows[] = {
    {kWsaEmfile, "No more socket descriptors are available."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEprototype, "The specified protocol is the wrong type for this socket."},
    {kWsaEprotonosupport, "The specified protocol is not supported."},
    {kWsaEsocktnosupport, "The specified socket type is not supported in this address family."},
    {kWsaEafnosupport, "The specified address family is not supported."},
    {kWsaEnetdown, "The network subsystem or the associated service provider has failed."},
    {kWsaEnobufs, "No buffer space is available. The socket cannot be created."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::BindSocket
constexpr ErrorRow kStreamBindRows[] = {
    {kWsaEacces,
     "Attempt to connect datagram socket to broadcast address failed because setsockopt option "
     "SO_BROADCAST is not enabled."},
    {kWsaEfault, "The name or namelen parameter is not a valid part of the user address space."},
    {kWsaEinval, "The socket is already bound to an address."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEaddrinuse,
     "A process on the computer is already bound to the same fully-qualified address and the "
     "socket has not been marked to allow address reuse with SO_REUSEADDR."},
    {kWsaEaddrnotavail, "The specified address is not a valid address for this computer."},
    {kWsaEnetdown, "The network subsystem or the associated service provider has failed."},
    {kWsaEnobufs, "No buffer space is available. The socket cannot be created."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::ListenToSocket
constexpr ErrorRow kStreamListenRows[] = {
    {kWsaEinval, "The socket has not been bound with bind."},
    {kWsaEmfile, "No more socket descriptors are available."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEopnotsupp, "The referenced socket is not of a type that supports the listen operation."},
    {kWsaEaddrinuse,
     "The socket's local address is already in use and the socket was not marked to allow address "
     "reuse with SO_REUSEADDR."},
    {kWsaEnetdown, "The network subsystem or the associated service provider has failed."},
    {kWsaEnobufs, "No buffer space is available."},
    {kWsaEisconn, "The socket is already connected."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::AcceptClientSocket
constexpr ErrorRow kStreamAcceptRows[] = {
    {kWsaEintr, "A blocking Windows Sockets 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEfault,
     "The addrlen parameter is too small or addr is not a valid part of the user address space."},
    {kWsaEinval, "The listen function was not invoked prior to accept."},
    {kWsaEmfile,
     "The queue is nonempty upon entry to accept and there are no descriptors available."},
    {kWsaEwouldblock,
     "The socket is marked as nonblocking and no connections are present to be accepted."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEopnotsupp,
     "The referenced socket is not of a type that supports connection-oriented service."},
    {kWsaEnetdown, "The network subsystem or the associated service provider has failed."},
    {kWsaEnobufs, "No buffer space is available."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::ProcessRecieveError
constexpr ErrorRow kStreamRecieveRows[] = {
    {kWsaEintr,
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEfault,
     "The buf parameter is not completely contained in a valid part of the user address space."},
    {kWsaEwouldblock,
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEmsgsize,
     "The socket is message oriented, and the message is larger than the maximum supported by the "
     "underlying transport."},
    {kWsaEopnotsupp,
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data "
     "is not supported in the communication domain associated with this socket, or the socket is "
     "unidirectional and supports only receive operations."},
    {kWsaEnetdown, "The network subsystem has failed."},
    {kWsaEnetreset,
     "The connection has been broken due to the keep-alive activity detecting a failure while the "
     "operation was in progress."},
    {kWsaEconnaborted,
     "The virtual circuit was terminated due to a time-out or other failure. The application "
     "should close the socket as it is no longer usable."},
    {kWsaEconnreset,
     "The virtual circuit was reset by the remote side executing a hard or abortive close. For UPD "
     "sockets, the remote host was unable to deliver a previously sent UDP datagram and responded "
     "with a 'Port Unreachable' ICMP packet. The application should close the socket as it is no "
     "longer usable."},
    {kWsaEnotconn, "The socket is not connected."},
    {kWsaEshutdown,
     "The socket has been shut down; it is not possible to send on a socket after shutdown has "
     "been invoked with how set to SD_SEND or SD_BOTH."},
    {kWsaEtimedout,
     "The connection has been dropped, because of a network failure or because the system on the "
     "other end went down without notice."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::ProcessCloseError
constexpr ErrorRow kStreamCloseRows[] = {
    {kWsaEintr,
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {kWsaEwouldblock,
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {kWsaEinprogress,
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {kWsaEnotsock, "The descriptor is not a socket."},
    {kWsaEnetdown, "The network subsystem has failed."},
    {kWsaNotinitialised, "A successful WSAStartup call must occur before using this function."},
};
constexpr CallTable kTables[] = {
    {SocketCall::kStartup,
     "NetworkNodeClient::SocketStartup() - Error requesting Socket Startup, return code: ",
     kStartupRows, std::size(kStartupRows)},
    {SocketCall::kCreateSocket,
     "NetworkNodeClient::CreateSocket() - Error Creating Socket, error code: ", kCreateSocketRows,
     std::size(kCreateSocketRows)},
    {SocketCall::kGetServerInfo,
     "NetworkNodeClient::GetServerInfo() - Error Getting Server Name, error code: ",
     kGetServerInfoRows, std::size(kGetServerInfoRows)},
    {SocketCall::kConnect,
     "NetworkNodeClient::ConnectToServer() - Error Connecting To Server, error code: ",
     kConnectRows, std::size(kConnectRows)},
    {SocketCall::kSend, "NetworkNodeClient::ProcessSendError() - Error sending data, error code: ",
     kSendRows, std::size(kSendRows)},
    {SocketCall::kRecieve,
     "NetworkNodeClient::ProcessRecieveError() - Error recieving data, error code: ", kRecieveRows,
     std::size(kRecieveRows)},
    {SocketCall::kClose,
     "NetworkNodeClient::ProcessCloseError() - Error closing socket, error code: ", kCloseRows,
     std::size(kCloseRows)},
    {SocketCall::kStreamCreateSocket,
     "NodeConnectionClient::CreateSocket() - Error Creating Socket, error code: ",
     kStreamCreateSocketRows, std::size(kStreamCreateSocketRows)},
    {SocketCall::kStreamBind,
     "NodeConnectionClient::BindSocket() - Error Binding Socket, error code: ", kStreamBindRows,
     std::size(kStreamBindRows)},
    {SocketCall::kStreamListen,
     "NodeConnectionClient::ListenToSocket() - Error Listening To Socket, error code: ",
     kStreamListenRows, std::size(kStreamListenRows)},
    {SocketCall::kStreamAccept,
     "NodeConnectionClient::AcceptClientSocket() - Error Accepting Socket, error code: ",
     kStreamAcceptRows, std::size(kStreamAcceptRows)},
    {SocketCall::kStreamRecieve,
     "NodeConnectionClient::ProcessRecieveError() - Error recieving data, error code: ",
     kStreamRecieveRows, std::size(kStreamRecieveRows)},
    {SocketCall::kStreamClose,
     "NodeConnectionClient::ProcessCloseError() - Error closing socket, error code: ",
     kStreamCloseRows, std::size(kStreamCloseRows)},
};

const CallTable* FindTable(SocketCall call) {
  for (const CallTable& t : kTables)
    if (t.call == call) return &t;
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
  const CallTable* table = FindTable(call);
  if (table == nullptr) return std::string();
  for (size_t i = 0; i < table->count; ++i) {
    const ErrorRow& row = table->rows[i];
    if (row.code == code) {
      std::string text(table->prefix);
      text += SocketErrorName(code);
      text += " - ";
      text += row.description;
      return text;
    }
  }
  if (call == SocketCall::kStreamClose) return std::string(table->prefix) + "UNKNOWN.";
  return std::string();
}

std::string SocketErrorName(int code) {
  for (const NamedCode& n : kNames)
    if (n.code == code) return n.name;
  return std::string();
}

}  // namespace orvanta::net
