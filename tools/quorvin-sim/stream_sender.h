// One data stream of one client: the connection the simulator made to the
// client's listening socket after "-CreateStream", and the thread that sends
// the records of the objects opened on it: continuous records at the record
// rate, or, for the objects with a schedule, one record at each of the
// schedule's times after the object's open, each on its own deadline.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/mutex.h"
#include "tools/quorvin-sim/acquisition_model.h"
#include "tools/quorvin-sim/records.h"
#include "tools/quorvin-sim/scheduled_records.h"
#include "tools/quorvin-sim/sim_socket.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::sim {

class StreamSender {
 public:
  // Takes ownership of the connected `socket`. `conn` and `peer` name the
  // stream in the transcript. `rate_hz` is records per second per open
  // object; 0 sends as fast as the client reads. `wakeup` is the server's
  // stop wake-up. Each scheduled record sent is written to the transcript and
  // kept in `last_emitted`; `schedules` and `last_emitted` must outlive the
  // sender.
  StreamSender(StreamKind kind, net::Socket socket, std::string conn, std::string peer,
               double rate_hz, uint32_t seed, const SimClock& clock, Transcript& transcript,
               const net::Wakeup& wakeup, const RecordSchedules& schedules,
               LastEmitted& last_emitted);
  ~StreamSender();
  StreamSender(const StreamSender&) = delete;
  StreamSender& operator=(const StreamSender&) = delete;

  // Starts the sending thread. Call once. False (logged in the transcript)
  // when the system refuses a thread.
  bool Start();

  // Sends records of `name`, carrying `index` in the object field, until it
  // is closed: its scheduled ones from now on when it has a schedule, else
  // continuous ones. Opening an open object changes nothing. Thread-safe.
  void Open(const std::string& name, int32_t index) EXCLUDES(mutex_);
  void Close(const std::string& name) EXCLUDES(mutex_);

  // Event streams: sends a record of the posted event at once, when an event
  // object is open. Thread-safe; never blocks on the socket.
  void PostEvent(const PostedEvent& event) EXCLUDES(mutex_);

  // Stops the thread and closes the connection; writes the stream's last
  // transcript line. Idempotent. Thread-safe.
  void Stop() EXCLUDES(mutex_);

  StreamKind kind() const { return kind_; }
  uint64_t records_sent() const { return records_sent_.load(std::memory_order_relaxed); }
  // True once the client closed the connection or a send failed.
  bool ended() const { return ended_.load(std::memory_order_acquire); }

 private:
  struct OpenObject {
    std::string name;
    int32_t index = 0;
    const std::vector<uint64_t>* schedule = nullptr;  // null: continuous records
    uint64_t openedUs = 0;                            // on the SimClock
    size_t next = 0;                                  // the next scheduled record
  };
  // A scheduled record in the batch being sent.
  struct Due {
    std::string object;
    uint64_t seq = 0;
    uint64_t count = 0;  // records in the object's schedule
    uint64_t dueUs = 0;
  };

  void Run();
  // Builds what is due now into `batch`: the scheduled records due, listed in
  // `due`, on their own; else the continuous ones. Sets `*wait_until` to the
  // next due time when nothing is due.
  void Collect(std::string* batch, std::vector<Due>* due,
               std::chrono::steady_clock::time_point* wait_until) REQUIRES(mutex_);
  void CollectContinuous(uint64_t now_us, std::string* batch,
                         std::chrono::steady_clock::time_point* wait_until) REQUIRES(mutex_);
  // Stamps the scheduled records of a batch just handed to the socket.
  void StampSent(const std::vector<Due>& due);
  void AppendRecord(int32_t index, uint64_t time_us, std::string* out);

  const StreamKind kind_;
  const net::Socket socket_;
  const std::string conn_;
  const std::string peer_;
  const double rate_hz_;
  const SimClock& clock_;
  Transcript& transcript_;
  const net::Wakeup& wakeup_;
  const RecordSchedules& schedules_;
  LastEmitted& last_emitted_;

  RecordFactory factory_;       // sending thread only
  int32_t event_number_ = 0;    // sending thread only
  uint16_t simulated_ttl_ = 0;  // sending thread only

  Mutex mutex_;
  CondVar changed_{&mutex_};
  std::vector<OpenObject> objects_ GUARDED_BY(mutex_);
  std::deque<PostedEvent> pending_events_ GUARDED_BY(mutex_);
  std::chrono::steady_clock::time_point next_tick_ GUARDED_BY(mutex_);
  size_t round_robin_ GUARDED_BY(mutex_) = 0;
  bool stopped_ GUARDED_BY(mutex_) = false;

  std::atomic<bool> cancel_{false};
  std::atomic<bool> ended_{false};
  std::atomic<uint64_t> records_sent_{0};
  std::thread thread_;
  std::once_flag stop_once_;
};

}  // namespace orvanta::sim
