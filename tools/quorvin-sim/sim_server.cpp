// The simulator's life: opening the listeners, the worker threads, admitting
// connections and ending them, and the stop.
#include "tools/quorvin-sim/sim_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#include "tools/quorvin-sim/sim_connection.h"

namespace orvanta::sim {

SimServer::SimServer(const SimOptions& options, Transcript& transcript)
    : options_(options), schedules_(options.schedules), transcript_(transcript), model_(options) {
  model_.SetEventListener([this](const PostedEvent& event) { BroadcastEvent(event); });
}

SimServer::~SimServer() { Stop(); }

bool SimServer::Open(std::string* error) {
  if (options_.negotiation_enabled) {
    negotiation_listener_ =
        net::Listen(options_.bind_address, options_.negotiation_port, 8, &negotiation_port_, error);
    if (negotiation_listener_ == net::kNoSocket) return false;
  }
  message_listener_ =
      net::Listen(options_.bind_address, options_.message_port, 8, &message_port_, error);
  if (message_listener_ == net::kNoSocket) {
    net::Close(negotiation_listener_);
    negotiation_listener_ = net::kNoSocket;
    negotiation_port_ = 0;
    return false;
  }
  return true;
}

void SimServer::Run() {
  const uint64_t now = clock_.NowUs();
  transcript_.Write(now, std::nullopt, "-", "start",
                    options_.negotiation_enabled ? "negotiation " + options_.bind_address + ":" +
                                                       std::to_string(negotiation_port_)
                                                 : "negotiation off",
                    "", "");
  transcript_.Write(now, std::nullopt, "-", "start",
                    "message " + options_.bind_address + ":" + std::to_string(message_port_), "",
                    "");

  char rate[64];
  std::snprintf(rate, sizeof rate, "record rate %g Hz", options_.record_rate_hz);
  std::string settings = options_.record_rate_hz > 0 ? rate : "record rate max";
  settings += ", " + std::to_string(options_.objects.size()) + " objects";
  std::string faults;
  if (!options_.fault_command.empty()) AddNote(&faults, "counting only " + options_.fault_command);
  if (options_.reply_delay_ms > 0)
    AddNote(&faults, "reply delay " + std::to_string(options_.reply_delay_ms) + " ms");
  if (options_.no_reply_nth > 0)
    AddNote(&faults, "no reply to command " + std::to_string(options_.no_reply_nth));
  if (options_.late_reply.nth > 0)
    AddNote(&faults, "reply to command " + std::to_string(options_.late_reply.nth) + " " +
                         std::to_string(options_.late_reply.value) + " ms late");
  if (options_.echo) AddNote(&faults, "replies echo their commands");
  if (options_.close_after_n > 0)
    AddNote(&faults, "close after command " + std::to_string(options_.close_after_n));
  if (options_.bad_version.nth > 0) {
    AddNote(&faults, "version " + std::to_string(options_.bad_version.value) + " in reply " +
                         std::to_string(options_.bad_version.nth));
  }
  if (options_.bad_validation_nth > 0) {
    AddNote(&faults, "bad validation code in reply " + std::to_string(options_.bad_validation_nth));
  }
  if (options_.absurd_size.nth > 0) {
    AddNote(&faults, "payload size " + std::to_string(options_.absurd_size.value) + " in reply " +
                         std::to_string(options_.absurd_size.nth));
  }
  if (options_.extra_frame_nth > 0) {
    AddNote(&faults, "unasked frame \"" + options_.extra_frame_text + "\" after command " +
                         std::to_string(options_.extra_frame_nth));
  }
  if (options_.replace_reply_nth > 0) {
    AddNote(&faults, "reply \"" + options_.replace_reply_text + "\" to command " +
                         std::to_string(options_.replace_reply_nth));
  }
  transcript_.Write(now, std::nullopt, "-", "start", settings, "",
                    faults.empty() ? "" : "faults: " + faults);
  for (const auto& [object, times] : schedules_.all()) {
    transcript_.Write(
        now, std::nullopt, "-", "start", "records of " + object + " on a schedule", "",
        std::to_string(times.size()) + " records from " + std::to_string(times.front() / 1000) +
            " to " + std::to_string(times.back() / 1000) + " ms after each open");
  }

  if (negotiation_listener_ != net::kNoSocket) {
    const net::Socket s = negotiation_listener_;
    AddWorker([this, s] { ListenLoop(s, "negotiation"); });
  }
  const net::Socket s = message_listener_;
  AddWorker([this, s] { ListenLoop(s, "message"); });
}

bool SimServer::Start(std::string* error) {
  if (!Open(error)) return false;
  Run();
  return true;
}

void SimServer::Stop() {
  std::call_once(stop_once_, [this] {
    wakeup_.Raise();
    std::list<Worker> workers;
    {
      MutexLock lock(&workers_mutex_);
      stopping_ = true;
      workers.swap(workers_);
    }
    for (Worker& w : workers) {
      if (w.thread.joinable()) w.thread.join();
    }
    net::Close(negotiation_listener_);
    net::Close(message_listener_);
    negotiation_listener_ = message_listener_ = net::kNoSocket;
    transcript_.Write(clock_.NowUs(), std::nullopt, "-", "stop", "simulator stopped", "",
                      std::to_string(commands_received()) + " commands received");
  });
}

std::string SimServer::StartupLine() const {
  return "quorvin-sim listening negotiation=" +
         (options_.negotiation_enabled ? std::to_string(negotiation_port_) : std::string("off")) +
         " message=" + std::to_string(message_port_);
}

uint64_t SimServer::records_sent() const {
  MutexLock lock(&connections_mutex_);
  uint64_t total = 0;
  for (const auto& conn : connections_) {
    MutexLock conn_lock(&conn->mutex);
    for (const auto& s : conn->streams) {
      if (s) total += s->records_sent();
    }
  }
  return total;
}

bool SimServer::AddWorker(std::function<void()> fn) {
  MutexLock lock(&workers_mutex_);
  if (stopping_) return false;
  // Join the threads that have finished, so that a long run does not pile
  // them up.
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load(std::memory_order_acquire)) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    workers_.push_back(Worker{std::thread([fn = std::move(fn), done] {
                                fn();
                                done->store(true, std::memory_order_release);
                              }),
                              done});
  } catch (const std::system_error& e) {
    // Out of threads (a process limit): refuse the work, stay up.
    transcript_.Write(clock_.NowUs(), std::nullopt, "-", "error",
                      std::string("a thread could not be started: ") + e.what(), "", "");
    return false;
  }
  return true;
}

bool SimServer::IsStopping() {
  MutexLock lock(&workers_mutex_);
  return stopping_;
}

bool SimServer::Admit(net::Socket socket, const std::string& via, const std::string& peer,
                      int port) {
  size_t open = 0;
  {
    MutexLock lock(&connections_mutex_);
    open = connections_.size();
  }
  if (open >= static_cast<size_t>(options_.max_connections)) {
    net::Close(socket);
    transcript_.Write(clock_.NowUs(), std::nullopt, "-", "error",
                      "connection from " + peer + " on " + via + " port " + std::to_string(port) +
                          " refused: " + std::to_string(open) +
                          " connections open (--max-connections " +
                          std::to_string(options_.max_connections) + ")",
                      "", "");
    return true;
  }
  auto conn = NewConnection(socket, via, peer, port);
  if (AddWorker([this, conn] { Serve(conn); })) return true;
  const bool stopping = IsStopping();
  EndConnection(*conn,
                stopping ? "simulator stopping" : "refused: no thread could be started for it");
  return !stopping;
}

void SimServer::ListenLoop(net::Socket listener, const std::string& via) {
  const int port = via == "negotiation" ? negotiation_port_ : message_port_;
  while (true) {
    const net::WaitResult w = net::WaitReadable(listener, wakeup_, -1);
    if (w == net::WaitResult::kWoken) return;
    std::string peer;
    const net::Socket s =
        w == net::WaitResult::kReady ? net::Accept(listener, &peer) : net::kNoSocket;
    if (s == net::kNoSocket) {
      if (errno == EAGAIN || errno == ECONNABORTED || errno == EINTR) continue;
      transcript_.Write(
          clock_.NowUs(), std::nullopt, "-", "error",
          "accept on " + via + " port " + std::to_string(port) + " failed: " + net::LastErrorText(),
          "", "");
      if (!net::SleepFor(wakeup_, 100)) return;
      continue;
    }
    if (!Admit(s, via, peer, port)) return;
  }
}

void SimServer::HandoutLoop(net::Socket listener, int port) {
  struct Release {
    std::atomic<int>& pending;
    ~Release() { pending.fetch_sub(1); }
  } release{pending_handouts_};
  const net::WaitResult w = net::WaitReadable(listener, wakeup_, options_.handout_timeout_ms);
  std::string peer;
  const net::Socket s =
      w == net::WaitResult::kReady ? net::Accept(listener, &peer) : net::kNoSocket;
  net::Close(listener);
  if (s == net::kNoSocket) {
    if (w != net::WaitResult::kWoken) {
      transcript_.Write(clock_.NowUs(), std::nullopt, "-", "error",
                        "handed-out message port " + std::to_string(port) +
                            (w == net::WaitResult::kTimeout
                                 ? " got no connection within " +
                                       std::to_string(options_.handout_timeout_ms) + " ms"
                                 : " failed: " + net::LastErrorText()),
                        "", "");
    }
    return;
  }
  {
    MutexLock lock(&connections_mutex_);
    if (connections_.size() >= static_cast<size_t>(options_.max_connections)) {
      net::Close(s);
      transcript_.Write(clock_.NowUs(), std::nullopt, "-", "error",
                        "connection from " + peer + " on handed-out port " + std::to_string(port) +
                            " refused: " + std::to_string(connections_.size()) +
                            " connections open (--max-connections " +
                            std::to_string(options_.max_connections) + ")",
                        "", "");
      return;
    }
  }
  Serve(NewConnection(s, "handout", peer, port));
}

std::shared_ptr<SimServer::Connection> SimServer::NewConnection(net::Socket socket,
                                                                const std::string& via,
                                                                const std::string& peer, int port) {
  auto conn = std::make_shared<Connection>();
  conn->id = next_connection_id_.fetch_add(1);
  conn->via = via;
  conn->label = std::to_string(conn->id) + "/" + via;
  conn->socket = socket;
  conn->peer = peer;
  {
    MutexLock lock(&connections_mutex_);
    connections_.push_back(conn);
  }
  transcript_.Write(clock_.NowUs(), std::nullopt, conn->label, "open", "peer " + peer, "",
                    "port " + std::to_string(port));
  return conn;
}

void SimServer::EndConnection(Connection& conn, const std::string& why) {
  std::array<std::unique_ptr<StreamSender>, kStreamKindCount> streams;
  {
    MutexLock lock(&conn.mutex);
    streams.swap(conn.streams);
  }
  for (auto& s : streams) {
    if (s) s->Stop();
  }
  net::Close(conn.socket);
  conn.socket = net::kNoSocket;
  {
    MutexLock lock(&connections_mutex_);
    connections_.remove_if(
        [&conn](const std::shared_ptr<Connection>& c) { return c.get() == &conn; });
  }
  transcript_.Write(clock_.NowUs(), std::nullopt, conn.label, "close", why, "", "");
}

}  // namespace orvanta::sim
