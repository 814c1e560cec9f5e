// The few socket operations the simulator needs (sim_socket_posix.cpp,
// sim_socket_win.cpp). Every blocking step waits together with a wake-up, so
// that a stop request ends every wait at once; nothing here blocks without
// that.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta::sim::net {

#ifdef _WIN32
using Socket = std::uintptr_t;
inline constexpr Socket kNoSocket = ~static_cast<Socket>(0);
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
#endif

// A one-shot wake-up: once raised it stays raised, and every wait that
// watches it returns. Thread-safe.
class Wakeup {
 public:
  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  void Raise();
  bool IsRaised() const { return raised_.load(std::memory_order_acquire); }
  int fd() const { return read_fd_; }  // -1 on Windows, whose waits look in slices

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
  std::atomic<bool> raised_{false};
};

enum class WaitResult { kReady, kWoken, kTimeout, kError };
enum class IoResult { kOk, kClosed, kError, kWoken };

// A listening TCP socket on `address`:`port` (port 0 picks one), with
// SO_REUSEADDR. Sets `*bound_port`. kNoSocket and a one-line `error` on
// failure.
Socket Listen(const std::string& address, int port, int backlog, int* bound_port,
              std::string* error);

// A port that is free on every local address right now; the port is not kept.
// 0 and `error` on failure.
int FindFreePort(std::string* error);

// Waits until `s` is readable (for a listener: a connection is waiting), the
// wake-up is raised, or `timeout_ms` passes (-1: no limit).
WaitResult WaitReadable(Socket s, const Wakeup& wakeup, int timeout_ms);

// Accepts one connection; sets TCP_NODELAY on it. `peer` gets "a.b.c.d:port".
Socket Accept(Socket listener, std::string* peer);

// Connects to `address`:`port` within `timeout_ms`; TCP_NODELAY is set.
Socket Connect(const std::string& address, int port, int timeout_ms, const Wakeup& wakeup,
               std::string* error);

// Reads exactly `size` bytes. kClosed when the peer closed the connection
// before they all came; `*received` tells how many did.
IoResult ReadExact(Socket s, void* buffer, size_t size, const Wakeup& wakeup, size_t* received);

// Writes all `size` bytes, waiting for room as needed. Gives up with kWoken
// when the wake-up is raised or `cancel` is set.
IoResult WriteAll(Socket s, const void* data, size_t size, const Wakeup& wakeup,
                  const std::atomic<bool>* cancel = nullptr);

// Ends both directions; a thread waiting on the socket wakes up.
void Shutdown(Socket s);
void Close(Socket s);

// The text of the last socket error (errno; WSAGetLastError() on Windows).
std::string LastErrorText();

// True when `address` is a dotted IPv4 address.
bool IsIPv4Address(const std::string& address);

}  // namespace orvanta::sim::net

namespace orvanta::sim::net {
// Sleeps `ms` milliseconds; returns false at once when the wake-up is raised.
bool SleepFor(const Wakeup& wakeup, int ms);
}  // namespace orvanta::sim::net
