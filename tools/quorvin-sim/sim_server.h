// The simulated acquisition server: the negotiation and message listeners,
// one thread per client connection answering its command frames, the data
// streams of each connection, fault injection and the transcript.
//
// Threads: one per listener, one per connection (a message port handed out on
// a negotiation connection waits for its connection on a thread of its own,
// which then serves it), and one per data stream. Stop() raises one wake-up
// that ends every wait, then joins them all.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "tools/quorvin-sim/acquisition_model.h"
#include "tools/quorvin-sim/records.h"
#include "tools/quorvin-sim/scheduled_records.h"
#include "tools/quorvin-sim/sim_options.h"
#include "tools/quorvin-sim/sim_socket.h"
#include "tools/quorvin-sim/stream_sender.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::sim {

// Command payloads above this size are refused as broken frames.
inline constexpr int32_t kMaxCommandPayload = 1 << 20;
// How long "-CreateStream" tries to reach the client's stream socket.
inline constexpr int kStreamConnectTimeoutMs = 3000;
// Payload bytes of large frames being read, over all connections, at most;
// frames up to kSmallFrameBytes (every real command) are not counted.
inline constexpr int64_t kMaxPendingFrameBytes = 16 << 20;
inline constexpr int64_t kSmallFrameBytes = 64 << 10;

class SimServer {
 public:
  // `transcript` must outlive the server and be open before Run().
  SimServer(const SimOptions& options, Transcript& transcript);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Opens the listeners (nothing is accepted until Run). False with a
  // one-line reason when a port cannot be opened. Call once.
  bool Open(std::string* error);
  // Writes the start lines to the transcript and starts accepting. REQUIRES a
  // successful Open.
  void Run();
  // Open and Run.
  bool Start(std::string* error);

  // Closes the listeners and every connection and stream, and joins every
  // thread; writes the "stop" line. Idempotent; thread-safe.
  void Stop();

  // The ports listened on; 0 for the negotiation port when it is off.
  int negotiation_port() const { return negotiation_port_; }
  int message_port() const { return message_port_; }
  // "quorvin-sim listening negotiation=PORT message=PORT".
  std::string StartupLine() const;

  AcquisitionModel& model() { return model_; }
  const SimClock& clock() const { return clock_; }
  // Commands received so far, over all connections.
  int64_t commands_received() const { return commands_received_.load(); }
  // Records sent so far on every stream of every connection still open.
  uint64_t records_sent() const EXCLUDES(connections_mutex_);

 private:
  struct Connection;
  struct Dispatched {
    Reply reply;
    bool close_after = false;
  };

  void ListenLoop(net::Socket listener, const std::string& via);
  void HandoutLoop(net::Socket listener, int port);
  void Serve(const std::shared_ptr<Connection>& conn);
  // Starts `fn` on a thread that Stop() joins. False when stopping, or when
  // the system refuses a thread (logged).
  bool AddWorker(std::function<void()> fn) EXCLUDES(workers_mutex_);
  bool IsStopping() EXCLUDES(workers_mutex_);
  // Serves an accepted client connection on a thread of its own, unless the
  // connection cap is reached or no thread can be had (closed and logged).
  // False when stopping.
  bool Admit(net::Socket socket, const std::string& via, const std::string& peer, int port)
      EXCLUDES(connections_mutex_);

  Reply Dispatch(Connection& conn, const std::string& text, uint64_t now_us);
  Reply HandOutPort(Connection& conn);
  Reply CreateStream(Connection& conn, std::string_view rest);
  Reply OpenOrCloseStream(Connection& conn, std::string_view rest, bool open);
  void BroadcastEvent(const PostedEvent& event) EXCLUDES(connections_mutex_);
  bool SendReply(Connection& conn, const Reply& reply, int64_t count, std::string* note);
  // Reads one command frame into `payload`; false, with why in `why`, when
  // the connection ends instead.
  bool ReadCommand(Connection& conn, std::string& payload, std::string& why);
  // Answers one command with the faults the options ask for; false, with why
  // in `why`, when the connection ends after it. `last` is the last scheduled
  // record sent on the connection's streams before the command arrived.
  bool Answer(Connection& conn, const std::string& text, uint64_t recv_us,
              const std::optional<EmittedRecord>& last, std::string& why);
  std::shared_ptr<Connection> NewConnection(net::Socket socket, const std::string& via,
                                            const std::string& peer, int port)
      EXCLUDES(connections_mutex_);
  void EndConnection(Connection& conn, const std::string& why) EXCLUDES(connections_mutex_);

  const SimOptions options_;
  const RecordSchedules schedules_;
  Transcript& transcript_;
  SimClock clock_;
  AcquisitionModel model_;
  net::Wakeup wakeup_;

  net::Socket negotiation_listener_ = net::kNoSocket;
  net::Socket message_listener_ = net::kNoSocket;
  int negotiation_port_ = 0;
  int message_port_ = 0;

  std::atomic<int64_t> commands_received_{0};
  std::atomic<int> pending_handouts_{0};         // handed-out message ports still waiting
  std::atomic<int64_t> pending_frame_bytes_{0};  // payload bytes reserved by frames being read
  std::atomic<int> next_connection_id_{1};

  // Stream ports handed out lately, so that no two clients (or two streams
  // of one client) are given the same port while both may still bind it.
  Mutex ports_mutex_;
  std::deque<int> recent_stream_ports_ GUARDED_BY(ports_mutex_);

  Mutex fault_mutex_;
  int64_t counted_commands_ GUARDED_BY(fault_mutex_) = 0;

  mutable Mutex connections_mutex_;
  std::list<std::shared_ptr<Connection>> connections_ GUARDED_BY(connections_mutex_);

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  Mutex workers_mutex_;
  std::list<Worker> workers_ GUARDED_BY(workers_mutex_);
  bool stopping_ GUARDED_BY(workers_mutex_) = false;
  std::once_flag stop_once_;
};

}  // namespace orvanta::sim
