// Fuzz target: whatever the server sends on the message connection.
//
// A peer thread on loopback accepts the client's connection, sends the whole
// input at once, closes its sending side and reads until the client hangs
// up. The client makes its connect exchange ("-GetApplicationName") and then
// a fixed series of exchanges, each reading the next reply frame out of the
// input: the typed requests with their reply parsers, the object lists, a
// plain command, a raw-reply command and the connection check. Broken frame
// headers, absurd sizes and a stream that ends mid-frame all take the error
// paths; every out-value read must be one the reply could give.
//
// The reply text parsers (integers at the start of a reply, the object list
// splitter) are also run on the input directly.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/network_node_client.h"
#include "client/reply_parsing.h"
#include "client/vintra_client.h"
#include "fuzz/fuzz_targets.h"
#include "platform/clock.h"
#include "platform/message_box.h"

namespace orvanta::fuzz {
namespace {

class QuietBoxes : public MessageBoxes {
 public:
  using MessageBoxes::Show;
  BoxResult Show(const std::string&, const std::string&, BoxIcon, BoxButtons) override {
    return BoxResult::kOk;
  }
};

class StillClock : public Clock {
 public:
  LocalTime Now() const override { return LocalTime{2010, 4, 5, 6, 7, 8, 9}; }
};

// The server side: one listener for the whole process; each input is served
// to exactly one connection.
class Peer {
 public:
  Peer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      std::abort();
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
    thread_.detach();  // lives as long as the process
  }

  int port() const { return port_; }

  // Hands the bytes to the peer for the next connection.
  void Offer(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.assign(reinterpret_cast<const char*>(data), size);
  }

  // Waits until the peer has finished with `connections` connections in all.
  void WaitServed(long connections) {
    std::unique_lock<std::mutex> lock(mutex_);
    served_cv_.wait(lock, [&] { return served_ >= connections; });
  }

 private:
  void Serve() {
    for (;;) {
      const int conn = ::accept(listener_, nullptr, nullptr);
      if (conn < 0) continue;
      std::string bytes;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++accepted_;
        bytes = pending_;
      }
      size_t sent = 0;
      while (sent < bytes.size()) {
        const ssize_t n = ::send(conn, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      ::shutdown(conn, SHUT_WR);
      char sink[4096];
      while (::recv(conn, sink, sizeof sink, 0) > 0) {
      }
      ::close(conn);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++served_;
      }
      served_cv_.notify_all();
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable served_cv_;
  std::string pending_;
  long accepted_ = 0;
  long served_ = 0;
};

Peer& ThePeer() {
  static Peer* peer = new Peer;
  return *peer;
}

long gConnections = 0;  // connections made to the peer so far

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
  }
}

void ParseDirectly(const std::string& text) {
  int values[3] = {7, 7, 7};
  const int read = client_text::ReadIntegers(text, values, 3);
  Check(read >= 0 && read <= 3, "ReadIntegers reads 0..3 values");
  for (int i = read; i < 3; ++i) Check(values[i] == 7, "values not read are left alone");
  client_text::LeadingInteger(text);
}

}  // namespace

int FuzzReplies(const uint8_t* data, size_t size) {
  Peer& peer = ThePeer();
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParseDirectly(text);

  peer.Offer(data, size);
  {
    StillClock clock;
    QuietBoxes boxes;
    VintraClient client(clock, boxes);
    NetworkNodeClient& node = client.GetNetworkNodeClient();
    {
      std::vector<std::string> tokens;
      node.ParseCommandString(text, tokens);
    }
    if (node.InitializeClient("127.0.0.1", peer.port())) {
      ++gConnections;
      int a = 0, b = 0;
      client.RequestRingBufferSize("CSC1", a, b);
      int f = -1;
      client.RequestSamplingFrequency("CSC1", f);
      Check(f != -1 || text.find("-1") != std::string::npos, "out-values are set before sending");
      client.RequestADRange("CSC1", a, b);
      std::string feature = "unchanged";
      const bool gotFeature = client.RequestFeature("SE1", 3, feature);
      Check(gotFeature || feature == "unchanged", "a failed feature request leaves the text");
      char ring[64];
      int copied = -1;
      if (client.RequestRingBuffer("CSC1", ring, sizeof ring, copied)) {
        Check(copied >= 0 && copied <= static_cast<int>(sizeof ring), "copied within the buffer");
      }
      std::vector<std::string> names = {"kept"}, types = {"kept"};
      if (client.GetObjectsAndTypes(names, types)) {
        Check(names.size() == types.size(), "names and types are paired");
        client.OpenStream(names.empty() ? "x" : names[0], types.empty() ? "x" : types[0]);
      } else {
        Check(names.size() == 1 && names[0] == "kept", "a failed list request keeps the lists");
      }
      std::string reply = "unchanged";
      if (!client.SendCommand("-PostEvent \"Fuzz\" 1 0", reply, nullptr)) {
        Check(reply == "unchanged", "a failed exchange leaves the reply alone");
      }
      std::vector<char> buffer;
      int bytes = -1;
      if (client.SendCommandBinaryReply("-RequestRingBuffer CSC1", buffer, bytes)) {
        Check(bytes >= 1 && static_cast<size_t>(bytes) == buffer.size(), "binary reply size");
      }
      client.LogMessage("fuzz", 1);
      client.IsConnected();
      client.DisconnectFromServer();
    }
  }
  peer.WaitServed(gConnections);
  return 0;
}

}  // namespace orvanta::fuzz
