// The error texts of the socket calls, and the mapping of the platform's own
// error codes onto the Windows Sockets codes those texts are keyed by.
//
// All socket errors of the client are reported as Windows Sockets codes
// (WSAECONNREFUSED 10061 and so on), whatever the platform, so that the log
// reads the same everywhere. The mapping lives here and nowhere else.
#pragma once

#include <string>

namespace orvanta::net {

// Windows Sockets error codes.
inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEbadf = 10009;
inline constexpr int kWsaEacces = 10013;
inline constexpr int kWsaEfault = 10014;
inline constexpr int kWsaEinval = 10022;
inline constexpr int kWsaEmfile = 10024;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEinprogress = 10036;
inline constexpr int kWsaEalready = 10037;
inline constexpr int kWsaEnotsock = 10038;
inline constexpr int kWsaEdestaddrreq = 10039;
inline constexpr int kWsaEmsgsize = 10040;
inline constexpr int kWsaEprototype = 10041;
inline constexpr int kWsaEnoprotoopt = 10042;
inline constexpr int kWsaEprotonosupport = 10043;
inline constexpr int kWsaEsocktnosupport = 10044;
inline constexpr int kWsaEopnotsupp = 10045;
inline constexpr int kWsaEpfnosupport = 10046;
inline constexpr int kWsaEafnosupport = 10047;
inline constexpr int kWsaEaddrinuse = 10048;
inline constexpr int kWsaEaddrnotavail = 10049;
inline constexpr int kWsaEnetdown = 10050;
inline constexpr int kWsaEnetunreach = 10051;
inline constexpr int kWsaEnetreset = 10052;
inline constexpr int kWsaEconnaborted = 10053;
inline constexpr int kWsaEconnreset = 10054;
inline constexpr int kWsaEnobufs = 10055;
inline constexpr int kWsaEisconn = 10056;
inline constexpr int kWsaEnotconn = 10057;
inline constexpr int kWsaEshutdown = 10058;
inline constexpr int kWsaEtimedout = 10060;
inline constexpr int kWsaEconnrefused = 10061;
inline constexpr int kWsaEloop = 10062;
inline constexpr int kWsaEnametoolong = 10063;
inline constexpr int kWsaEhostdown = 10064;
inline constexpr int kWsaEhostunreach = 10065;
inline constexpr int kWsaEproclim = 10067;
inline constexpr int kWsaSysnotready = 10091;
inline constexpr int kWsaVernotsupported = 10092;
inline constexpr int kWsaNotinitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// The socket calls that report errors, each with its own table of texts.
enum class SocketCall {
  kStartup,             // NetworkNodeClient::SocketStartup
  kCreateSocket,        // NetworkNodeClient::CreateSocket
  kGetServerInfo,       // NetworkNodeClient::GetServerInfo
  kConnect,             // NetworkNodeClient::ConnectToServer
  kSend,                // NetworkNodeClient::ProcessSendError
  kRecieve,             // NetworkNodeClient::ProcessRecieveError
  kClose,               // NetworkNodeClient::ProcessCloseError
  kStreamCreateSocket,  // NodeConnectionClient::CreateSocket
  kStreamBind,          // NodeConnectionClient::BindSocket
  kStreamListen,        // NodeConnectionClient::ListenToSocket
  kStreamAccept,        // NodeConnectionClient::AcceptClientSocket
  kStreamRecieve,       // NodeConnectionClient::ProcessRecieveError
  kStreamClose,         // NodeConnectionClient::ProcessCloseError
};

// The log text of `code` for `call`: the call's prefix, the code's name,
// " - " and its description. Empty when the call's table has no row for the
// code, in which case nothing is logged. The streams' close table has a last
// row for every other code: the prefix followed by "UNKNOWN.".
std::string SocketErrorText(SocketCall call, int code);

// The Windows Sockets name of a code ("WSAECONNREFUSED"), or empty.
std::string SocketErrorName(int code);

// Maps a POSIX errno value onto its Windows Sockets code. Values without a
// counterpart are returned unchanged (no table has a row for them).
// On Windows the code already is one and is returned as it is.
int WsaCodeFromErrno(int err);

// Maps a getaddrinfo() result onto the resolver's Windows Sockets code;
// `err` is errno at the time, used for EAI_SYSTEM. On Windows the result already is
// the resolver's code and is returned as it is.
int WsaCodeFromResolver(int gai_result, int err);

}  // namespace orvanta::net
