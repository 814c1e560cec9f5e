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
                           Transcript& transcript, const net::Wakeup& wakeup)
    : kind_(kind),
      socket_(socket),
      conn_(std::move(conn)),
      peer_(std::move(peer)),
      rate_hz_(rate_hz),
      clock_(clock),
      transcript_(transcript),
      wakeup_(wakeup),
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
  for (const auto& o : objects_) {
    if (o.first == name) return;
  }
  if (objects_.empty()) next_tick_ = std::chrono::steady_clock::now();
  objects_.emplace_back(name, index);
  changed_.SignalAll();
}

void StreamSender::Close(const std::string& name) {
  MutexLock lock(&mutex_);
  objects_.erase(std::remove_if(objects_.begin(), objects_.end(),
                                [&name](const auto& o) { return o.first == name; }),
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

void StreamSender::AppendRecord(const std::pair<std::string, int32_t>& object, uint64_t time_us,
                                std::string* out) {
  switch (kind_) {
    case StreamKind::kCSC:
      factory_.AppendCsc(object.second, time_us, out);
      break;
    case StreamKind::kVT:
      factory_.AppendVideo(static_cast<uint16_t>(object.second), time_us, out);
      break;
    case StreamKind::kEV:
      // Between posted events the stream carries simulated TTL input changes.
      ++simulated_ttl_;
      factory_.AppendEvent(time_us, ++event_number_, simulated_ttl_, 0, "Simulated TTL Input", out);
      break;
    default:
      factory_.AppendSpike(kind_, object.second, time_us, out);
      break;
  }
}

void StreamSender::Collect(std::string* batch, std::chrono::steady_clock::time_point* wait_until) {
  while (!pending_events_.empty()) {
    const PostedEvent& e = pending_events_.front();
    factory_.AppendEvent(e.time_us, ++event_number_, e.ttl, 1, e.text, batch);
    pending_events_.pop_front();
  }
  if (objects_.empty()) {
    *wait_until = std::chrono::steady_clock::time_point::max();
    return;
  }
  const uint64_t now_us = clock_.NowUs();
  if (rate_hz_ <= 0) {
    const size_t size = RecordSize(kind_);
    while (batch->size() + size <= kFastBatchBytes || batch->empty()) {
      AppendRecord(objects_[round_robin_++ % objects_.size()], now_us, batch);
    }
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / rate_hz_));
  if (now - next_tick_ > kMaxLag) next_tick_ = now;
  if (now >= next_tick_) {
    for (const auto& o : objects_) AppendRecord(o, now_us, batch);
    next_tick_ += period;
  }
  *wait_until = next_tick_;
}

void StreamSender::Run() {
  std::string batch;
  const char* why = nullptr;
  while (true) {
    batch.clear();
    {
      MutexLock lock(&mutex_);
      while (!stopped_) {
        auto wait_until = std::chrono::steady_clock::time_point::max();
        Collect(&batch, &wait_until);
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
