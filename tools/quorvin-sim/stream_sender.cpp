#include "tools/quorvin-sim/stream_sender.h"

#include <algorithm>
#include <system_error>

namespace orvanta::sim {

namespace {
// In "as fast as possible" mode, records are sent in batches of about this
// many bytes.
constexpr size_t kFastBatchBytes = 32 * 1024;
// Falling further behind than this (a slow reader) restarts the schedule
// instead of sending a burst of stale records.
constexpr auto kMaxLag = std::chrono::seconds(1);
}  // namespace

StreamSender::StreamSender(StreamKind kind, net::Socket socket, std::string conn, std::string peer,
                           double rate_hz, uint32_t seed, const SimClock& clock,
                           Transcript& transcript, const net::Wakeup& wakeup,
                           const RecordSchedules& schedules, LastEmitted& last_emitted)
    : kind_(kind),
      socket_(socket),
      conn_(std::move(conn)),
      peer_(std::move(peer)),
      rate_hz_(rate_hz),
      clock_(clock),
      transcript_(transcript),
      wakeup_(wakeup),
      schedules_(schedules),
      last_emitted_(last_emitted),
      factory_(seed) {}

StreamSender::~StreamSender() { Stop(); }

bool StreamSender::Start() {
  {
    MutexLock lock(&mutex_);
    next_tick_ = std::chrono::steady_clock::now();
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    transcript_.Write(clock_.NowUs(), std::nullopt, conn_, "error",
                      std::string("stream thread could not be started: ") + e.what(), "", "");
    return false;
  }
  return true;
}

void StreamSender::Open(const std::string& name, int32_t index) {
  MutexLock lock(&mutex_);
  bool continuous = false;
  for (const OpenObject& o : objects_) {
    if (o.name == name) return;
    continuous = continuous || o.schedule == nullptr;
  }
  const std::vector<uint64_t>* schedule = schedules_.Find(name);
  if (schedule == nullptr && !continuous) next_tick_ = std::chrono::steady_clock::now();
  objects_.push_back(OpenObject{
      .name = name, .index = index, .schedule = schedule, .openedUs = clock_.NowUs(), .next = 0});
  changed_.SignalAll();
}

void StreamSender::Close(const std::string& name) {
  MutexLock lock(&mutex_);
  objects_.erase(std::remove_if(objects_.begin(), objects_.end(),
                                [&name](const OpenObject& o) { return o.name == name; }),
                 objects_.end());
  changed_.SignalAll();
}

void StreamSender::PostEvent(const PostedEvent& event) {
  if (kind_ != StreamKind::kEV) return;
  MutexLock lock(&mutex_);
  if (objects_.empty() || stopped_) return;
  pending_events_.push_back(event);
  changed_.SignalAll();
}

void StreamSender::Stop() {
  std::call_once(stop_once_, [this] {
    {
      MutexLock lock(&mutex_);
      stopped_ = true;
    }
    changed_.SignalAll();
    cancel_.store(true, std::memory_order_release);
    net::Shutdown(socket_);
    if (thread_.joinable()) thread_.join();
    net::Close(socket_);
    if (!ended()) {
      transcript_.Write(clock_.NowUs(), std::nullopt, conn_, "stream",
                        std::string(StreamTypeName(kind_)) + " to " + peer_ + " stopped", "",
                        std::to_string(records_sent()) + " records sent");
    }
  });
}

void StreamSender::AppendRecord(int32_t index, uint64_t time_us, std::string* out) {
  switch (kind_) {
    case StreamKind::kCSC:
      factory_.AppendCsc(index, time_us, out);
      break;
    case StreamKind::kVT:
      factory_.AppendVideo(static_cast<uint16_t>(index), time_us, out);
      break;
    case StreamKind::kEV:
      // Between posted events the stream carries simulated TTL input changes.
      ++simulated_ttl_;
      factory_.AppendEvent(time_us, ++event_number_, simulated_ttl_, 0, "Simulated TTL Input", out);
      break;
    default:
      factory_.AppendSpike(kind_, index, time_us, out);
      break;
  }
}

void StreamSender::Collect(std::string* batch, std::vector<Due>* due,
                           std::chrono::steady_clock::time_point* wait_until) {
  while (!pending_events_.empty()) {
    const PostedEvent& e = pending_events_.front();
    factory_.AppendEvent(e.time_us, ++event_number_, e.ttl, 1, e.text, batch);
    pending_events_.pop_front();
  }
  *wait_until = std::chrono::steady_clock::time_point::max();
  if (objects_.empty()) return;
  const uint64_t now_us = clock_.NowUs();
  // Every scheduled record whose time has come, late ones too: the times are
  // deadlines from the open, so that a late send does not shift the rest.
  uint64_t next_due_us = UINT64_MAX;
  for (OpenObject& o : objects_) {
    if (o.schedule == nullptr) continue;
    const std::vector<uint64_t>& times = *o.schedule;
    for (; o.next < times.size() && o.openedUs + times[o.next] <= now_us; ++o.next) {
      AppendRecord(o.index, now_us, batch);
      due->push_back(Due{.object = o.name,
                         .seq = o.next + 1,
                         .count = times.size(),
                         .dueUs = o.openedUs + times[o.next]});
    }
    if (o.next < times.size()) next_due_us = std::min(next_due_us, o.openedUs + times[o.next]);
  }
  // Scheduled records go out on their own, so that their send time is theirs.
  if (due->empty()) CollectContinuous(now_us, batch, wait_until);
  if (next_due_us != UINT64_MAX) *wait_until = std::min(*wait_until, clock_.At(next_due_us));
}

void StreamSender::CollectContinuous(uint64_t now_us, std::string* batch,
                                     std::chrono::steady_clock::time_point* wait_until) {
  std::vector<const OpenObject*> continuous;
  for (const OpenObject& o : objects_) {
    if (o.schedule == nullptr) continuous.push_back(&o);
  }
  if (continuous.empty()) return;
  if (rate_hz_ <= 0) {
    const size_t size = RecordSize(kind_);
    while (batch->size() + size <= kFastBatchBytes || batch->empty()) {
      AppendRecord(continuous[round_robin_++ % continuous.size()]->index, now_us, batch);
    }
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / rate_hz_));
  if (now - next_tick_ > kMaxLag) next_tick_ = now;
  if (now >= next_tick_) {
    for (const OpenObject* o : continuous) AppendRecord(o->index, now_us, batch);
    next_tick_ += period;
  }
  *wait_until = next_tick_;
}

void StreamSender::StampSent(const std::vector<Due>& due) {
  if (due.empty()) return;
  const uint64_t sent_us = clock_.NowUs();
  last_emitted_.Set(
      EmittedRecord{.object = due.back().object, .seq = due.back().seq, .sentUs = sent_us});
  for (const Due& d : due) {
    transcript_.Write(sent_us, std::nullopt, conn_, "record", d.object, "",
                      "seq=" + std::to_string(d.seq) + "/" + std::to_string(d.count) +
                          " due_us=" + std::to_string(d.dueUs));
  }
}

void StreamSender::Run() {
  std::string batch;
  std::vector<Due> due;
  const char* why = nullptr;
  while (true) {
    batch.clear();
    due.clear();
    {
      MutexLock lock(&mutex_);
      while (!stopped_) {
        auto wait_until = std::chrono::steady_clock::time_point::max();
        Collect(&batch, &due, &wait_until);
        if (!batch.empty()) break;
        if (wait_until == std::chrono::steady_clock::time_point::max()) {
          changed_.Wait();
        } else {
          changed_.WaitUntil(wait_until);
        }
      }
      if (stopped_) break;
    }
    const net::IoResult r = net::WriteAll(socket_, batch.data(), batch.size(), wakeup_, &cancel_);
    if (r == net::IoResult::kOk) {
      StampSent(due);
      records_sent_.fetch_add(batch.size() / RecordSize(kind_), std::memory_order_relaxed);
      continue;
    }
    if (r == net::IoResult::kWoken) break;  // stopping
    why = r == net::IoResult::kClosed ? "closed by client" : "send failed";
    break;
  }
  if (why != nullptr) {
    ended_.store(true, std::memory_order_release);
    transcript_.Write(clock_.NowUs(), std::nullopt, conn_, "stream",
                      std::string(StreamTypeName(kind_)) + " to " + peer_ + " " + why, "",
                      std::to_string(records_sent()) + " records sent");
  }
}

}  // namespace orvanta::sim
