// POSIX side of the socket error codes: errno values and getaddrinfo()
// results mapped onto the Windows Sockets codes the texts are keyed by.
#include <netdb.h>

#include <cerrno>

#include "client/socket_errors.h"

namespace orvanta::net {
namespace {

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

}  // namespace

int WsaCodeFromErrno(int err) {
  for (const ErrnoRow& row : kErrnoRows)
    if (row.err == err) return row.wsa;
  return err;
}

int WsaCodeFromResolver(int gai_result, int err) {
  if (gai_result == EAI_SYSTEM) {
    // A failed lookup of a plain name can come back as a system error with
    // errno still 0; that is a host that could not be found.
    return err == 0 ? kWsaHostNotFound : WsaCodeFromErrno(err);
  }
  for (const ResolverRow& row : kResolverRows)
    if (row.gai == gai_result) return row.wsa;
  return kWsaNoRecovery;
}

}  // namespace orvanta::net
