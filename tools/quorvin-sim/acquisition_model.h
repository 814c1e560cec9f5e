// The simulated acquisition server's own state: its acquisition objects, the
// digital output ports, the posted events and the analogue output boards with
// their wav buffers, and the replies to every command that touches them.
// Commands that concern one connection (ports, streams, the client's computer
// name) are answered by the server, not here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mutex.h"
#include "tools/quorvin-sim/records.h"
#include "tools/quorvin-sim/sim_options.h"

namespace orvanta::sim {

// One reply frame's payload and what the transcript says about it.
struct Reply {
  std::string text;   // text replies: sent followed by one NUL
  std::string bytes;  // binary replies: sent as they stand
  bool binary = false;
  std::string note;  // the state changed, for the transcript

  static Reply Text(std::string text, std::string note = {}) {
    Reply r;
    r.text = std::move(text);
    r.note = std::move(note);
    return r;
  }
  static Reply Error(const std::string& message) { return Text("-1 " + message); }
  std::string Payload() const { return binary ? bytes : text + std::string(1, '\0'); }
};

struct DioPortState {
  bool output = false;  // direction: false Input (the power-on state), true Output
  uint16_t value = 0;   // the bits of the port as last set
  int64_t changes = 0;  // number of -SetDIOPortOutput commands
  uint64_t changed_us = 0;
};

struct DaBoardState {
  std::string output_mode;                 // as last set, "" before
  std::map<int32_t, std::string> buffers;  // buffer number -> wav file loaded
  int32_t selected_buffer = -1;
  int64_t plays = 0;
  std::string last_played;  // file of the last playback
  uint64_t last_played_us = 0;
};

struct PostedEvent {
  int64_t number = 0;  // from 1, over the whole run
  uint64_t time_us = 0;
  std::string text;
  int32_t ttl = 0;
};

// Thread-safe: every connection thread calls Handle.
class AcquisitionModel {
 public:
  explicit AcquisitionModel(const SimOptions& options);
  AcquisitionModel(const AcquisitionModel&) = delete;
  AcquisitionModel& operator=(const AcquisitionModel&) = delete;

  // Answers `word` (the command's first word) with arguments `rest`, or
  // returns nothing when the command is not one of the model's. `now_us` is
  // the simulator clock at the command's arrival.
  std::optional<Reply> Handle(std::string_view word, std::string_view rest, uint64_t now_us)
      EXCLUDES(mutex_);

  // Called after each posted event, outside the model's lock, on the thread of
  // the connection that posted it. Set before the server starts.
  void SetEventListener(std::function<void(const PostedEvent&)> listener) {
    event_listener_ = std::move(listener);
  }

  // The objects never change after construction; no lock is needed.
  const std::vector<AcqObject>& objects() const { return objects_; }
  const AcqObject* FindObject(std::string_view name) const;
  // The index that the object's records carry: its position among the
  // objects of its stream's list (all spike objects share one list). -1 for
  // objects of no stream type and for event objects.
  int32_t RecordIndex(std::string_view name) const;

  // Snapshots of the state, for tests and the transcript.
  std::optional<DioPortState> DioPort(const std::string& subsystem, int32_t board) const
      EXCLUDES(mutex_);
  std::optional<DaBoardState> DaBoard(const std::string& subsystem, int32_t board) const
      EXCLUDES(mutex_);
  std::vector<PostedEvent> Events() const EXCLUDES(mutex_);

 private:
  using BoardKey = std::pair<std::string, int32_t>;

  Reply ObjectList(bool types) const;
  Reply ObjectRequest(std::string_view word, std::string_view rest) EXCLUDES(mutex_);
  Reply RequestFeature(std::string_view rest) const;
  Reply RequestRingBuffer(std::string_view rest, uint64_t now_us) EXCLUDES(mutex_);
  Reply PostEvent(std::string_view rest, uint64_t now_us) EXCLUDES(mutex_);
  Reply SetPortDirection(std::string_view rest) EXCLUDES(mutex_);
  Reply SetPortOutput(std::string_view rest, uint64_t now_us) EXCLUDES(mutex_);
  Reply SetOutputMode(std::string_view rest) EXCLUDES(mutex_);
  Reply SetWavFile(std::string_view rest) EXCLUDES(mutex_);
  Reply SelectWavBuffer(std::string_view rest) EXCLUDES(mutex_);
  Reply PlayWavFile(std::string_view rest, uint64_t now_us) EXCLUDES(mutex_);

  const std::string application_name_;
  const std::vector<AcqObject> objects_;
  const bool check_wav_files_;
  std::function<void(const PostedEvent&)> event_listener_;

  mutable Mutex mutex_;
  std::map<BoardKey, DioPortState> dio_ GUARDED_BY(mutex_);
  std::map<BoardKey, DaBoardState> da_ GUARDED_BY(mutex_);
  std::vector<PostedEvent> events_ GUARDED_BY(mutex_);
  RecordFactory ring_records_ GUARDED_BY(mutex_);
};

// "\"DigitalIO\" 0" for the transcript notes.
std::string BoardLabel(const std::string& subsystem, int32_t board);

}  // namespace orvanta::sim
