// Fuzz target: records arriving on a data stream, with an arbitrary object
// list.
//
// Input layout (each field one byte unless stated):
//   stream kind (mod 6: SE, ST, TT, CSC, VT, EV); piece size (0: one send);
//   object count n (mod 12; bit 7 set: one data type fewer than names);
//   n times: name length (mod 24), the name's bytes, data type (mod 8:
//   the six kinds, "", "Other");
//   the rest: the bytes sent on the stream.
//
// The stream listens on a free port; the target connects to it like the
// server, sends the bytes (zero-padded to whole records) followed by one
// sentinel record, and waits for the sentinel's callback. Every callback
// must carry one record, and the name of the object its field selects (the
// first kept name on the event stream); the whole record is read, so that a
// short buffer shows up under the address sanitizer.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/client_log_file.h"
#include "client/node_connection_client.h"
#include "fuzz/fuzz_targets.h"
#include "platform/clock.h"

namespace orvanta::fuzz {
namespace {

class StillClock : public Clock {
 public:
  LocalTime Now() const override { return LocalTime{2010, 4, 5, 6, 7, 8, 9}; }
};

enum Kind { kSE, kST, kTT, kCSC, kVT, kEV };
const char* const kTypes[] = {"SEScAcqEnt", "STScAcqEnt",  "TTScAcqEnt", "CscAcqEnt",
                              "VTAcqEnt",   "EventAcqEnt", "",           "Other"};
const int kRecordSizes[] = {112, 176, 304, 1044, 1828, 184};
const char kSentinelName[] = "~sentinel~";
const char kMarker[8] = {'S', 'E', 'N', 'T', 'I', 'N', 'E', 'L'};

std::unique_ptr<NodeConnectionClient> MakeStream(Kind kind, ClientLogFile* log) {
  switch (kind) {
    case kSE:
      return std::make_unique<NodeConnectionClientSE>(log);
    case kST:
      return std::make_unique<NodeConnectionClientST>(log);
    case kTT:
      return std::make_unique<NodeConnectionClientTT>(log);
    case kCSC:
      return std::make_unique<NodeConnectionClientCSC>(log);
    case kVT:
      return std::make_unique<NodeConnectionClientVT>(log);
    case kEV:
      break;
  }
  return std::make_unique<NodeConnectionClientEV>(log);
}

bool Keeps(Kind kind, const std::string& type) {
  switch (kind) {
    case kSE:
    case kST:
    case kTT:
      return type == kTypes[0] || type == kTypes[1] || type == kTypes[2];
    case kCSC:
      return type == kTypes[3];
    case kVT:
      return type == kTypes[4];
    case kEV:
      return type == kTypes[5];
  }
  return false;
}

// The names the stream must keep, in order: those whose paired type is one
// it serves (names without a type are skipped).
std::vector<std::string> Kept(Kind kind, const std::vector<std::string>& names,
                              const std::vector<std::string>& types) {
  std::vector<std::string> out;
  for (size_t i = 0; i < names.size() && i < types.size(); ++i)
    if (Keeps(kind, types[i])) out.push_back(names[i]);
  return out;
}

struct Delivery {
  Kind kind;
  int recordSize;
  std::vector<std::string> kept;
  std::mutex mutex;
  std::condition_variable cv;
  bool sentinelSeen = false;
  unsigned checksum = 0;
};

void Fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

void OnRecord(void* context, const unsigned char* records, int recordCount,
              std::string objectName) {  // NOLINT(performance-unnecessary-value-param)
  auto* d = static_cast<Delivery*>(context);
  if (recordCount != 1) Fail("one record per callback");
  unsigned sum = 0;
  for (int i = 0; i < d->recordSize; ++i) sum += records[i];  // the whole record is readable
  std::string expected;
  if (d->kind == kEV) {
    expected = d->kept.empty() ? "" : d->kept[0];
  } else {
    long index;
    if (d->kind == kVT) {
      index = records[2] | (records[3] << 8);
    } else {
      int32_t v;
      std::memcpy(&v, records + 8, sizeof v);
      index = v;
    }
    if (index < 0 || index >= static_cast<long>(d->kept.size()))
      Fail("an out-of-range record was delivered");
    expected = d->kept[static_cast<size_t>(index)];
  }
  if (objectName != expected) Fail("a record was given the wrong object name");
  std::lock_guard<std::mutex> lock(d->mutex);
  d->checksum += sum;
  if (std::memcmp(records + d->recordSize - sizeof kMarker, kMarker, sizeof kMarker) == 0) {
    d->sentinelSeen = true;
    d->cv.notify_all();
  }
}

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    // libFuzzer's timer signal can interrupt the call; the connect then goes
    // on by itself, and its outcome is read once the socket is writable.
    bool connected = false;
    if (errno == EINTR) {
      pollfd p{fd, POLLOUT, 0};
      int ready;
      do {
        ready = ::poll(&p, 1, 5000);
      } while (ready < 0 && errno == EINTR);
      int error = 0;
      socklen_t length = sizeof error;
      connected =
          ready == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
      if (!connected && error != 0) errno = error;
    }
    if (!connected) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      return -1;
    }
  }
  // Closed with a reset rather than a FIN, so that tens of thousands of runs
  // do not leave their ports in TIME_WAIT until no local port is left.
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  return fd;
}

bool SendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t s = ::send(fd, p, n, MSG_NOSIGNAL);
    if (s < 0 && errno == EINTR) continue;
    if (s <= 0) return false;
    p += s;
    n -= static_cast<size_t>(s);
  }
  return true;
}

}  // namespace

int FuzzStreamRecords(const uint8_t* data, size_t size) {
  size_t at = 0;
  auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };

  const Kind kind = static_cast<Kind>(next() % 6);
  const size_t piece = next();
  const uint8_t countByte = next();
  const int count = (countByte & 0x7F) % 12;
  // The sentinel object comes first, so that it keeps index 0 however the
  // fuzzed lists pair up.
  std::vector<std::string> names = {kSentinelName};
  std::vector<std::string> types = {kTypes[kind]};
  for (int i = 0; i < count; ++i) {
    const size_t len = next() % 24;
    std::string name;
    for (size_t j = 0; j < len && at < size; ++j) name.push_back(static_cast<char>(next()));
    names.push_back(name);
    types.emplace_back(kTypes[next() % 8]);
  }
  if ((countByte & 0x80) != 0 && types.size() > 1) types.pop_back();

  Delivery delivery;
  delivery.kind = kind;
  delivery.recordSize = kRecordSizes[kind];
  delivery.kept = Kept(kind, names, types);

  std::string bytes(reinterpret_cast<const char*>(data) + at, size - at);
  const size_t recordSize = static_cast<size_t>(delivery.recordSize);
  bytes.resize((bytes.size() + recordSize - 1) / recordSize * recordSize, '\0');
  std::string sentinel(recordSize, '\0');  // object index 0: the sentinel object
  std::memcpy(sentinel.data() + recordSize - sizeof kMarker, kMarker, sizeof kMarker);
  bytes += sentinel;

  StillClock clock;
  ClientLogFile log(clock);
  {
    std::unique_ptr<NodeConnectionClient> stream = MakeStream(kind, &log);
    stream->UpdateObjectList(names, types);
    if (stream->GetTypeObjects() != delivery.kept) Fail("the stream keeps the wrong objects");
    stream->SetCallbackFunctionSE(OnRecord, &delivery);
    stream->SetCallbackFunctionST(OnRecord, &delivery);
    stream->SetCallbackFunctionTT(OnRecord, &delivery);
    stream->SetCallbackFunctionCSC(OnRecord, &delivery);
    stream->SetCallbackFunctionVT(OnRecord, &delivery);
    stream->SetCallbackFunctionEV(OnRecord, &delivery);
    if (!stream->InitServerStream(0)) Fail("the stream cannot listen");
    const int fd = ConnectLoopback(stream->GetPortNumber());
    if (fd < 0) {
      std::fprintf(stderr, "connect: %s\n", std::strerror(errno));
      Fail("cannot connect to the stream");
    }
    bool sent = true;
    for (size_t off = 0; off < bytes.size() && sent;) {
      const size_t n = piece == 0 ? bytes.size() - off : std::min(piece, bytes.size() - off);
      sent = SendAll(fd, bytes.data() + off, n);
      off += n;
    }
    if (!sent) Fail("the stream stopped taking bytes");
    {
      std::unique_lock<std::mutex> lock(delivery.mutex);
      if (!delivery.cv.wait_for(lock, std::chrono::seconds(10),
                                [&] { return delivery.sentinelSeen; })) {
        Fail("the last record never reached the callback");
      }
    }
    ::close(fd);
    stream->CloseServerStream();
  }
  return 0;
}

}  // namespace orvanta::fuzz
