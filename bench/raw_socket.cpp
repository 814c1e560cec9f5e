#include "bench/raw_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "client/frame_codec.h"

namespace orvanta::bench {

RawSocket::~RawSocket() { Close(); }

RawSocket& RawSocket::operator=(RawSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void RawSocket::Shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void RawSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

RawSocket RawSocket::Listen(int* port) {
  RawSocket s(::socket(AF_INET, SOCK_STREAM, 0));
  if (!s.valid()) return {};
  int one = 1;
  ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  if (::listen(s.fd(), 4) != 0) return {};
  socklen_t len = sizeof addr;
  if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  *port = ntohs(addr.sin_port);
  return s;
}

RawSocket RawSocket::Connect(int port) {
  RawSocket s(::socket(AF_INET, SOCK_STREAM, 0));
  if (!s.valid()) return {};
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  return s;
}

RawSocket RawSocket::Accept() {
  int fd;
  do {
    fd = ::accept(fd_, nullptr, nullptr);
  } while (fd < 0 && errno == EINTR);
  return RawSocket(fd);
}

bool RawSocket::SendAll(const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = ::send(fd_, p, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool RawSocket::RecvExactly(void* buffer, size_t length) {
  char* p = static_cast<char*>(buffer);
  while (length > 0) {
    const ssize_t n = ::recv(fd_, p, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

long RawSocket::RecvSome(void* buffer, size_t length) {
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, length, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

bool RawExchange(RawSocket& socket, const std::string& commandFrame, std::string& payload) {
  if (!socket.SendAll(commandFrame.data(), commandFrame.size())) return false;
  unsigned char header[frame::kHeaderSize];
  if (!socket.RecvExactly(header, sizeof header)) return false;
  const frame::Header h = frame::DecodeHeader(header);
  if (h.version != frame::kVersion || h.validation != frame::kValidationCode ||
      h.payload_size < 1 || h.payload_size > (1 << 20)) {
    return false;
  }
  payload.resize(static_cast<size_t>(h.payload_size));
  return socket.RecvExactly(payload.data(), payload.size());
}

bool OpenRawStream(int messagePort, const std::string& object, const std::string& dataType,
                   RawStream& out) {
  int streamPort = 0;
  RawSocket listener = RawSocket::Listen(&streamPort);
  out.control = RawSocket::Connect(messagePort);
  std::string reply;
  if (!listener.valid() || !out.control.valid() ||
      !RawExchange(out.control,
                   frame::EncodeTextFrame("-CreateStream 127.0.0.1 " + std::to_string(streamPort) +
                                          " " + dataType),
                   reply)) {
    return false;
  }
  out.data = listener.Accept();
  return out.data.valid() &&
         RawExchange(out.control, frame::EncodeTextFrame("-OpenStream " + object + " " + dataType),
                     reply) &&
         frame::PayloadText(reply) == "0";
}

}  // namespace orvanta::bench
