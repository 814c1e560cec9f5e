// Records sent at set times (--emit, --burst): each scheduled object's send
// times, and the last scheduled record a connection's streams sent, which the
// transcript lines of the connection's later commands are measured from.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mutex.h"
#include "tools/quorvin-sim/sim_options.h"

namespace orvanta::sim {

// The values of --emit, "OBJECT@MS[,MS...]", and of --burst,
// "OBJECT@FIRST+GAPxCOUNT": times from 0 to 3600000 ms, bursts of 1 to
// 1000000 records. The object's name runs to the last '@'. False when the
// value is malformed.
bool ParseEmitValue(const std::string& value, ScheduledRecords* out);
bool ParseBurstValue(const std::string& value, ScheduledRecords* out);

// Never changes after construction; read by every stream thread without a
// lock.
class RecordSchedules {
 public:
  // The times of every option naming an object are merged, in order of time.
  explicit RecordSchedules(const std::vector<ScheduledRecords>& given);

  // The object's send times in microseconds after its open, in order; null
  // when the object sends continuous records.
  const std::vector<uint64_t>* Find(std::string_view object) const;
  // The scheduled objects and their times, by name.
  const std::map<std::string, std::vector<uint64_t>, std::less<>>& all() const { return times_; }

 private:
  std::map<std::string, std::vector<uint64_t>, std::less<>> times_;
};

// A scheduled record as sent: which one, and when its bytes had been handed
// to the socket.
struct EmittedRecord {
  std::string object;
  uint64_t seq = 0;  // its place in the object's schedule, from 1, again at each open
  uint64_t sentUs = 0;
};

// The last scheduled record sent on one connection's streams. Thread-safe:
// the stream threads set it, the connection's thread reads it.
class LastEmitted {
 public:
  // Keeps `record` unless a later one is already kept (two streams may finish
  // their sends in either order).
  void Set(const EmittedRecord& record) EXCLUDES(mutex_);
  std::optional<EmittedRecord> Get() const EXCLUDES(mutex_);

 private:
  mutable Mutex mutex_;
  std::optional<EmittedRecord> last_ GUARDED_BY(mutex_);
};

// The note of a command that arrived at `recv_us`, after `last` was sent:
// "after_record_us=US seq=N object=NAME".
std::string AfterRecordNote(const EmittedRecord& last, uint64_t recv_us);

}  // namespace orvanta::sim
