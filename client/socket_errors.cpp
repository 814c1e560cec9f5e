#include "client/socket_errors.h"

#include <cerrno>
#include <cstddef>
#include <iterator>

#ifndef _WIN32
#include <netdb.h>
#endif

namespace orvanta::net {
namespace {

struct ErrorRow {
  int code;
  const char* name;
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
    {10014, "WSAEFAULT", "The lpWSAData is not a valid pointer."},
    {10036, "WSAEINPROGRESS", "A blocking Windows Sockets 1.1 operation is in progress."},
    {10067, "WSAEPROCLIM",
     "Limit on the number of tasks supported by the Windows Sockets implementation has been "
     "reached."},
    {10091, "WSASYSNOTREADY",
     "The underlying network subsystem is not ready for network communication."},
    {10092, "WSAVERNOTSUPPORTED",
     "The version of Windows Sockets support requested is not provided by this particular Windows "
     "Sockets implementation."},
};
// NetworkNodeClient::CreateSocket
constexpr ErrorRow kCreateSocketRows[] = {
    {10024, "WSAEMFILE", "No more socket descriptors are available."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10041, "WSAEPROTOTYPE", "The specified protocol is the wrong type for this socket."},
    {10043, "WSAEPROTONOSUPPORT", "The specified protocol is not supported."},
    {10044, "WSAESOCKTNOSUPPORT",
     "The specified socket type is not supported in this address family."},
    {10047, "WSAEAFNOSUPPORT", "The specified address family is not supported."},
    {10050, "WSAENETDOWN", "The network subsystem or the associated service provider has failed."},
    {10055, "WSAENOBUFS", "No buffer space is available. The socket cannot be created."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::GetServerInfo
constexpr ErrorRow kGetServerInfoRows[] = {
    {10004, "WSAEINTR",
     "A blocking Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {10014, "WSAEFAULT", "The name parameter is not a valid part of the user address space."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10050, "WSAENETDOWN", "The network subsystem has failed."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
    {11001, "WSAHOST_NOT_FOUND", "Authoritative answer host not found."},
    {11002, "WSATRY_AGAIN", "Nonauthoritative host not found, or server failure."},
    {11003, "WSANO_RECOVERY", "A nonrecoverable error occurred."},
    {11004, "WSANO_DATA", "Valid name, no data record of requested type."},
};
// NetworkNodeClient::ConnectToServer
constexpr ErrorRow kConnectRows[] = {
    {10004, "WSAEINTR",
     "The blocking Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {10013, "WSAEACCES",
     "Attempt to connect datagram socket to broadcast address failed because setsockopt option "
     "SO_BROADCAST is not enabled."},
    {10014, "WSAEFAULT",
     "The name or the namelen parameter is not a valid part of the user address space."},
    {10022, "WSAEINVAL", "The parameter s is a listening socket."},
    {10035, "WSAEWOULDBLOCK",
     "The socket is marked as nonblocking and the connection cannot be completed immediately."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10037, "WSAEALREADY", "A nonblocking connect call is in progress on the specified socket. "},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10047, "WSAEAFNOSUPPORT",
     "Addresses in the specified family cannot be used with this socket."},
    {10048, "WSAEADDRINUSE",
     "The socket's local address is already in use and the socket was not marked to allow address "
     "reuse with SO_REUSEADDR."},
    {10049, "WSAEADDRNOTAVAIL", "The remote address is not a valid address (such as ADDR_ANY)."},
    {10050, "WSAENETDOWN", "The network subsystem has failed."},
    {10051, "WSAENETUNREACH", "The network cannot be reached from this host at this time."},
    {10055, "WSAENOBUFS", "No buffer space is available. The socket cannot be connected."},
    {10056, "WSAEISCONN", "The socket is already connected (connection-oriented sockets only)."},
    {10060, "WSAETIMEDOUT", "Attempt to connect timed out without establishing a connection."},
    {10061, "WSAECONNREFUSED", "The attempt to connect was forcefully rejected."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::ProcessSendError
constexpr ErrorRow kSendRows[] = {
    {10004, "WSAEINTR",
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {10013, "WSAEACCES",
     "The requested address is a broadcast address, but the appropriate flag was not set. Call "
     "setsockopt with the SO_BROADCAST parameter to allow the use of the broadcast address."},
    {10014, "WSAEFAULT",
     "The buf parameter is not completely contained in a valid part of the user address space."},
    {10022, "WSAEINVAL",
     "The socket has not been bound with bind, or an unknown flag was specified, or MSG_OOB was "
     "specified for a socket with SO_OOBINLINE enabled."},
    {10035, "WSAEWOULDBLOCK",
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10040, "WSAEMSGSIZE",
     "The socket is message oriented, and the message is larger than the maximum supported by the "
     "underlying transport."},
    {10045, "WSAEOPNOTSUPP",
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data "
     "is not supported in the communication domain associated with this socket, or the socket is "
     "unidirectional and supports only receive operations."},
    {10050, "WSAENETDOWN", "The network subsystem has failed."},
    {10052, "WSAENETRESET",
     "The connection has been broken due to the keep-alive activity detecting a failure while the "
     "operation was in progress."},
    {10053, "WSAECONNABORTED",
     "The virtual circuit was terminated due to a time-out or other failure. The application "
     "should close the socket as it is no longer usable."},
    {10054, "WSAECONNRESET",
     "The virtual circuit was reset by the remote side executing a hard or abortive close. For UPD "
     "sockets, the remote host was unable to deliver a previously sent UDP datagram and responded "
     "with a 'Port Unreachable' ICMP packet. The application should close the socket as it is no "
     "longer usable."},
    {10055, "WSAENOBUFS", "No buffer space is available."},
    {10057, "WSAENOTCONN", "The socket is not connected."},
    {10058, "WSAESHUTDOWN",
     "The socket has been shut down; it is not possible to send on a socket after shutdown has "
     "been invoked with how set to SD_SEND or SD_BOTH."},
    {10060, "WSAETIMEDOUT",
     "The connection has been dropped, because of a network failure or because the system on the "
     "other end went down without notice."},
    {10065, "WSAEHOSTUNREACH", "The remote host cannot be reached from this host at this time."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::ProcessRecieveError
constexpr ErrorRow kRecieveRows[] = {
    {10004, "WSAEINTR",
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {10014, "WSAEFAULT",
     "The buf parameter is not completely contained in a valid part of the user address space."},
    {10035, "WSAEWOULDBLOCK",
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10040, "WSAEMSGSIZE",
     "The socket is message oriented, and the message is larger than the maximum supported by the "
     "underlying transport."},
    {10045, "WSAEOPNOTSUPP",
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data "
     "is not supported in the communication domain associated with this socket, or the socket is "
     "unidirectional and supports only receive operations."},
    {10050, "WSAENETDOWN", "The network subsystem has failed."},
    {10052, "WSAENETRESET",
     "The connection has been broken due to the keep-alive activity detecting a failure while the "
     "operation was in progress."},
    {10053, "WSAECONNABORTED",
     "The virtual circuit was terminated due to a time-out or other failure. The application "
     "should close the socket as it is no longer usable."},
    {10054, "WSAECONNRESET",
     "The virtual circuit was reset by the remote side executing a hard or abortive close. For UPD "
     "sockets, the remote host was unable to deliver a previously sent UDP datagram and responded "
     "with a 'Port Unreachable' ICMP packet. The application should close the socket as it is no "
     "longer usable."},
    {10057, "WSAENOTCONN", "The socket is not connected."},
    {10058, "WSAESHUTDOWN",
     "The socket has been shut down; it is not possible to send on a socket after shutdown has "
     "been invoked with how set to SD_SEND or SD_BOTH."},
    {10060, "WSAETIMEDOUT",
     "The connection has been dropped, because of a network failure or because the system on the "
     "other end went down without notice."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NetworkNodeClient::ProcessCloseError
constexpr ErrorRow kCloseRows[] = {
    {10004, "WSAEINTR",
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {10035, "WSAEWOULDBLOCK",
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10050, "WSAENETDOWN", "The network subsystem has failed."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::CreateSocket
constexpr ErrorRow kStreamCreateSocketRows[] = {
    {10024, "WSAEMFILE", "No more socket descriptors are available."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10041, "WSAEPROTOTYPE", "The specified protocol is the wrong type for this socket."},
    {10043, "WSAEPROTONOSUPPORT", "The specified protocol is not supported."},
    {10044, "WSAESOCKTNOSUPPORT",
     "The specified socket type is not supported in this address family."},
    {10047, "WSAEAFNOSUPPORT", "The specified address family is not supported."},
    {10050, "WSAENETDOWN", "The network subsystem or the associated service provider has failed."},
    {10055, "WSAENOBUFS", "No buffer space is available. The socket cannot be created."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::BindSocket
constexpr ErrorRow kStreamBindRows[] = {
    {10013, "WSAEACCES",
     "Attempt to connect datagram socket to broadcast address failed because setsockopt option "
     "SO_BROADCAST is not enabled."},
    {10014, "WSAEFAULT",
     "The name or namelen parameter is not a valid part of the user address space."},
    {10022, "WSAEINVAL", "The socket is already bound to an address."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10048, "WSAEADDRINUSE",
     "A process on the computer is already bound to the same fully-qualified address and the "
     "socket has not been marked to allow address reuse with SO_REUSEADDR."},
    {10049, "WSAEADDRNOTAVAIL", "The specified address is not a valid address for this computer."},
    {10050, "WSAENETDOWN", "The network subsystem or the associated service provider has failed."},
    {10055, "WSAENOBUFS", "No buffer space is available. The socket cannot be created."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::ListenToSocket
constexpr ErrorRow kStreamListenRows[] = {
    {10022, "WSAEINVAL", "The socket has not been bound with bind."},
    {10024, "WSAEMFILE", "No more socket descriptors are available."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10045, "WSAEOPNOTSUPP",
     "The referenced socket is not of a type that supports the listen operation."},
    {10048, "WSAEADDRINUSE",
     "The socket's local address is already in use and the socket was not marked to allow address "
     "reuse with SO_REUSEADDR."},
    {10050, "WSAENETDOWN", "The network subsystem or the associated service provider has failed."},
    {10055, "WSAENOBUFS", "No buffer space is available."},
    {10056, "WSAEISCONN", "The socket is already connected."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::AcceptClientSocket
constexpr ErrorRow kStreamAcceptRows[] = {
    {10004, "WSAEINTR",
     "A blocking Windows Sockets 1.1 call was canceled through WSACancelBlockingCall."},
    {10014, "WSAEFAULT",
     "The addrlen parameter is too small or addr is not a valid part of the user address space."},
    {10022, "WSAEINVAL", "The listen function was not invoked prior to accept."},
    {10024, "WSAEMFILE",
     "The queue is nonempty upon entry to accept and there are no descriptors available."},
    {10035, "WSAEWOULDBLOCK",
     "The socket is marked as nonblocking and no connections are present to be accepted."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10045, "WSAEOPNOTSUPP",
     "The referenced socket is not of a type that supports connection-oriented service."},
    {10050, "WSAENETDOWN", "The network subsystem or the associated service provider has failed."},
    {10055, "WSAENOBUFS", "No buffer space is available."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::ProcessRecieveError
constexpr ErrorRow kStreamRecieveRows[] = {
    {10004, "WSAEINTR",
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {10014, "WSAEFAULT",
     "The buf parameter is not completely contained in a valid part of the user address space."},
    {10035, "WSAEWOULDBLOCK",
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10040, "WSAEMSGSIZE",
     "The socket is message oriented, and the message is larger than the maximum supported by the "
     "underlying transport."},
    {10045, "WSAEOPNOTSUPP",
     "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data "
     "is not supported in the communication domain associated with this socket, or the socket is "
     "unidirectional and supports only receive operations."},
    {10050, "WSAENETDOWN", "The network subsystem has failed."},
    {10052, "WSAENETRESET",
     "The connection has been broken due to the keep-alive activity detecting a failure while the "
     "operation was in progress."},
    {10053, "WSAECONNABORTED",
     "The virtual circuit was terminated due to a time-out or other failure. The application "
     "should close the socket as it is no longer usable."},
    {10054, "WSAECONNRESET",
     "The virtual circuit was reset by the remote side executing a hard or abortive close. For UPD "
     "sockets, the remote host was unable to deliver a previously sent UDP datagram and responded "
     "with a 'Port Unreachable' ICMP packet. The application should close the socket as it is no "
     "longer usable."},
    {10057, "WSAENOTCONN", "The socket is not connected."},
    {10058, "WSAESHUTDOWN",
     "The socket has been shut down; it is not possible to send on a socket after shutdown has "
     "been invoked with how set to SD_SEND or SD_BOTH."},
    {10060, "WSAETIMEDOUT",
     "The connection has been dropped, because of a network failure or because the system on the "
     "other end went down without notice."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
};
// NodeConnectionClient::ProcessCloseError
constexpr ErrorRow kStreamCloseRows[] = {
    {10004, "WSAEINTR",
     "The (blocking) Windows Socket 1.1 call was canceled through WSACancelBlockingCall."},
    {10035, "WSAEWOULDBLOCK",
     "The socket is marked as nonblocking and SO_LINGER is set to a nonzero time-out value."},
    {10036, "WSAEINPROGRESS",
     "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still "
     "processing a callback function."},
    {10038, "WSAENOTSOCK", "The descriptor is not a socket."},
    {10050, "WSAENETDOWN", "The network subsystem has failed."},
    {10093, "WSANOTINITIALISED",
     "A successful WSAStartup call must occur before using this function."},
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

// Every Windows Sockets code the client can report, with its name, for
// SocketErrorName(); the rows of the tables above supply most of them.
struct NamedCode {
  int code;
  const char* name;
};
constexpr NamedCode kExtraNames[] = {
    {kWsaEbadf, "WSAEBADF"},
    {kWsaEdestaddrreq, "WSAEDESTADDRREQ"},
    {kWsaEnoprotoopt, "WSAENOPROTOOPT"},
    {kWsaEpfnosupport, "WSAEPFNOSUPPORT"},
    {kWsaEloop, "WSAELOOP"},
    {kWsaEnametoolong, "WSAENAMETOOLONG"},
    {kWsaEhostdown, "WSAEHOSTDOWN"},
};

#ifndef _WIN32
// POSIX errno values and the Windows Sockets code each stands for.
struct ErrnoRow {
  int err;
  int wsa;
};
constexpr ErrnoRow kErrnoRows[] = {
    {EINTR, kWsaEintr},
    {EBADF, kWsaEnotsock},  // a handle that is no (longer a) socket
    {EACCES, kWsaEacces},
    {EPERM, kWsaEacces},
    {EFAULT, kWsaEfault},
    {EINVAL, kWsaEinval},
    {EMFILE, kWsaEmfile},
    {ENFILE, kWsaEmfile},
    {EWOULDBLOCK, kWsaEwouldblock},
#if EAGAIN != EWOULDBLOCK
    {EAGAIN, kWsaEwouldblock},
#endif
    {EINPROGRESS, kWsaEinprogress},
    {EALREADY, kWsaEalready},
    {ENOTSOCK, kWsaEnotsock},
    {EDESTADDRREQ, kWsaEdestaddrreq},
    {EMSGSIZE, kWsaEmsgsize},
    {EPROTOTYPE, kWsaEprototype},
    {ENOPROTOOPT, kWsaEnoprotoopt},
    {EPROTONOSUPPORT, kWsaEprotonosupport},
    {ESOCKTNOSUPPORT, kWsaEsocktnosupport},
    {EOPNOTSUPP, kWsaEopnotsupp},
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
    {ENOTSUP, kWsaEopnotsupp},
#endif
    {EPFNOSUPPORT, kWsaEpfnosupport},
    {EAFNOSUPPORT, kWsaEafnosupport},
    {EADDRINUSE, kWsaEaddrinuse},
    {EADDRNOTAVAIL, kWsaEaddrnotavail},
    {ENETDOWN, kWsaEnetdown},
    {ENETUNREACH, kWsaEnetunreach},
    {ENETRESET, kWsaEnetreset},
    {ECONNABORTED, kWsaEconnaborted},
    {ECONNRESET, kWsaEconnreset},
    {EPIPE, kWsaEconnreset},  // the peer has gone; sending is no longer possible
    {ENOBUFS, kWsaEnobufs},
    {ENOMEM, kWsaEnobufs},
    {EISCONN, kWsaEisconn},
    {ENOTCONN, kWsaEnotconn},
    {ESHUTDOWN, kWsaEshutdown},
    {ETIMEDOUT, kWsaEtimedout},
    {ECONNREFUSED, kWsaEconnrefused},
    {ELOOP, kWsaEloop},
    {ENAMETOOLONG, kWsaEnametoolong},
    {EHOSTDOWN, kWsaEhostdown},
    {EHOSTUNREACH, kWsaEhostunreach},
};

// getaddrinfo() results and the resolver codes they stand for.
struct ResolverRow {
  int gai;
  int wsa;
};
constexpr ResolverRow kResolverRows[] = {
    {EAI_NONAME, kWsaHostNotFound}, {EAI_AGAIN, kWsaTryAgain}, {EAI_FAIL, kWsaNoRecovery},
#ifdef EAI_NODATA
    {EAI_NODATA, kWsaNoData},
#endif
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, kWsaNoData},
#endif
    {EAI_FAMILY, kWsaNoData},       {EAI_SERVICE, kWsaNoData}, {EAI_MEMORY, kWsaEnobufs},
    {EAI_BADFLAGS, kWsaEinval},
};
#endif  // !_WIN32

}  // namespace

std::string SocketErrorText(SocketCall call, int code) {
  const CallTable* table = FindTable(call);
  if (table == nullptr) return std::string();
  for (size_t i = 0; i < table->count; ++i) {
    const ErrorRow& row = table->rows[i];
    if (row.code == code) {
      std::string text(table->prefix);
      text += row.name;
      text += " - ";
      text += row.description;
      return text;
    }
  }
  if (call == SocketCall::kStreamClose) return std::string(table->prefix) + "UNKNOWN.";
  return std::string();
}

std::string SocketErrorName(int code) {
  for (const CallTable& t : kTables)
    for (size_t i = 0; i < t.count; ++i)
      if (t.rows[i].code == code) return t.rows[i].name;
  for (const NamedCode& n : kExtraNames)
    if (n.code == code) return n.name;
  return std::string();
}

int WsaCodeFromErrno(int err) {
#ifdef _WIN32
  return err;  // Winsock reports its own codes already
#else
  for (const ErrnoRow& row : kErrnoRows)
    if (row.err == err) return row.wsa;
  return err;
#endif
}

int WsaCodeFromResolver(int gai_result, int err) {
#ifdef _WIN32
  (void)err;
  return gai_result;
#else
  if (gai_result == EAI_SYSTEM) {
    // A failed lookup of a plain name can come back as a system error with
    // errno still 0; that is a host that could not be found.
    return err == 0 ? kWsaHostNotFound : WsaCodeFromErrno(err);
  }
  for (const ResolverRow& row : kResolverRows)
    if (row.gai == gai_result) return row.wsa;
  return kWsaNoRecovery;
#endif
}

}  // namespace orvanta::net
