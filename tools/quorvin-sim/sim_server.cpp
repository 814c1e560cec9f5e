#include "tools/quorvin-sim/sim_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#include "client/frame_codec.h"
#include "tools/quorvin-sim/command_text.h"

namespace orvanta::sim {

struct SimServer::Connection {
  int id = 0;
  std::string via;    // negotiation, message or handout
  std::string label;  // "ID/VIA", the conn field of the transcript
  net::Socket socket = net::kNoSocket;
  std::string peer;
  std::string computer_name;  // the connection's own thread only

  Mutex mutex;
  std::array<std::unique_ptr<StreamSender>, kStreamKindCount> streams GUARDED_BY(mutex);
  // The objects the client opened, per stream kind, in the order opened.
  std::array<std::vector<std::string>, kStreamKindCount> open GUARDED_BY(mutex);
};

namespace {

constexpr uint32_t kBadValidationCode = 0x5A5A5A5Au;

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

void AddNote(std::string* note, const std::string& more) {
  if (!note->empty()) *note += "; ";
  *note += more;
}

}  // namespace

SimServer::SimServer(const SimOptions& options, Transcript& transcript)
    : options_(options), transcript_(transcript), model_(options) {
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

void SimServer::Serve(const std::shared_ptr<Connection>& conn) {
  std::string why;
  std::string payload;
  while (true) {
    unsigned char header[frame::kHeaderSize];
    size_t got = 0;
    net::IoResult r = net::ReadExact(conn->socket, header, sizeof header, wakeup_, &got);
    if (r != net::IoResult::kOk) {
      why = r == net::IoResult::kWoken   ? "simulator stopping"
            : r == net::IoResult::kError ? "receive failed: " + net::LastErrorText()
            : got == 0                   ? "closed by client"
                                         : "closed by client in the middle of a frame header";
      break;
    }
    const frame::Header h = frame::DecodeHeader(header);
    std::string bad;
    if (h.version != frame::kVersion) {
      bad = "version " + std::to_string(h.version);
    } else if (h.validation != frame::kValidationCode) {
      bad = "validation code " + Hex32(h.validation);
    } else if (h.payload_size < 1 || h.payload_size > kMaxCommandPayload) {
      bad = "payload size " + std::to_string(h.payload_size);
    }
    if (!bad.empty()) {
      transcript_.Write(clock_.NowUs(), std::nullopt, conn->label, "error",
                        "bad frame from client: " + bad, "", "connection closed");
      why = "closed after a bad frame";
      break;
    }
    // Command-sized frames always get in; large ones share one budget.
    const int64_t reserved = h.payload_size > kSmallFrameBytes ? h.payload_size : 0;
    if (reserved > 0 &&
        pending_frame_bytes_.fetch_add(reserved) + reserved > kMaxPendingFrameBytes) {
      pending_frame_bytes_.fetch_sub(reserved);
      transcript_.Write(clock_.NowUs(), std::nullopt, conn->label, "error",
                        "frame of " + std::to_string(reserved) +
                            " bytes refused: frames being read "
                            "over all connections would take more than " +
                            std::to_string(kMaxPendingFrameBytes) + " bytes",
                        "", "connection closed");
      why = "closed: too much frame data pending";
      break;
    }
    payload.assign(static_cast<size_t>(h.payload_size), '\0');
    r = net::ReadExact(conn->socket, payload.data(), payload.size(), wakeup_, &got);
    pending_frame_bytes_.fetch_sub(reserved);
    if (r != net::IoResult::kOk) {
      why = r == net::IoResult::kWoken   ? "simulator stopping"
            : r == net::IoResult::kError ? "receive failed: " + net::LastErrorText()
                                         : "closed by client in the middle of a frame";
      break;
    }
    // The frame has fully arrived: this is the time the transcript reports.
    const uint64_t recv_us = clock_.NowUs();
    commands_received_.fetch_add(1);
    const std::string text = frame::PayloadText(payload);
    // A large frame's buffer is not kept for the connection's whole life.
    if (payload.capacity() > 65536) std::string().swap(payload);

    std::string_view word, rest;
    SplitCommandWord(text, &word, &rest);
    int64_t count = 0;
    if (options_.fault_command.empty() || EqualsNoCase(word, options_.fault_command)) {
      MutexLock lock(&fault_mutex_);
      count = ++counted_commands_;
    }

    const bool replaced = options_.replace_reply_nth > 0 && count == options_.replace_reply_nth;
    Reply reply = replaced ? Reply::Text(options_.replace_reply_text,
                                         "fault: reply replaced, command not carried out "
                                         "(command " +
                                             std::to_string(count) + ")")
                           : Dispatch(*conn, text, recv_us);
    if (options_.echo && count > 0 && !reply.binary) {
      reply.text += " <- #" + std::to_string(count) + " " + text;
    }
    std::string note = reply.note;
    const std::string shown =
        reply.binary ? "<" + std::to_string(reply.bytes.size()) + " bytes>" : reply.text;
    const bool close_after = options_.close_after_n > 0 && count == options_.close_after_n;

    if (options_.no_reply_nth > 0 && count == options_.no_reply_nth) {
      AddNote(&note, "fault: no reply (command " + std::to_string(count) + ")");
      transcript_.Write(recv_us, std::nullopt, conn->label, "cmd", text, "", note);
    } else {
      const bool late = options_.late_reply.nth > 0 && count == options_.late_reply.nth;
      const int delay_ms =
          options_.reply_delay_ms + (late ? static_cast<int>(options_.late_reply.value) : 0);
      if (late) AddNote(&note, "fault: reply late (command " + std::to_string(count) + ")");
      if (delay_ms > 0 && !net::SleepFor(wakeup_, delay_ms)) {
        AddNote(&note, "reply abandoned: simulator stopping");
        transcript_.Write(recv_us, std::nullopt, conn->label, "cmd", text, "", note);
        why = "simulator stopping";
        break;
      }
      const bool sent = SendReply(*conn, reply, count, &note);
      const uint64_t reply_us = clock_.NowUs();
      if (!sent) AddNote(&note, "reply could not be sent");
      transcript_.Write(recv_us, sent ? std::optional<uint64_t>(reply_us) : std::nullopt,
                        conn->label, "cmd", text, sent ? shown : "", note);
      if (!sent) {
        why = wakeup_.IsRaised() ? "simulator stopping" : "closed by client";
        break;
      }
      if (options_.extra_frame_nth > 0 && count == options_.extra_frame_nth) {
        std::string extra_note =
            "fault: frame sent unasked (after command " + std::to_string(count) + ")";
        const bool extra_sent =
            SendReply(*conn, Reply::Text(options_.extra_frame_text, ""), 0, &extra_note);
        transcript_.Write(clock_.NowUs(), std::nullopt, conn->label, "extra",
                          options_.extra_frame_text, "", extra_note);
        if (!extra_sent) {
          why = wakeup_.IsRaised() ? "simulator stopping" : "closed by client";
          break;
        }
      }
    }
    if (close_after) {
      why = "closed by simulator after command " + std::to_string(count) + " (--close-after)";
      break;
    }
  }
  EndConnection(*conn, why);
}

bool SimServer::SendReply(Connection& conn, const Reply& reply, int64_t count, std::string* note) {
  const std::string payload = reply.Payload();
  frame::Header h{frame::kVersion, frame::kValidationCode, static_cast<int32_t>(payload.size())};
  if (count > 0 && count == options_.bad_version.nth) {
    h.version = static_cast<int32_t>(options_.bad_version.value);
    AddNote(note, "fault: version " + std::to_string(h.version) + " in the reply header");
  }
  if (count > 0 && count == options_.bad_validation_nth) {
    h.validation = kBadValidationCode;
    AddNote(note, "fault: validation code " + Hex32(h.validation) + " in the reply header");
  }
  if (count > 0 && count == options_.absurd_size.nth) {
    h.payload_size = static_cast<int32_t>(options_.absurd_size.value);
    AddNote(note, "fault: payload size " + std::to_string(h.payload_size) + " in the reply header");
  }
  std::string bytes(frame::kHeaderSize, '\0');
  frame::EncodeHeader(h, reinterpret_cast<unsigned char*>(bytes.data()));
  bytes += payload;
  return net::WriteAll(conn.socket, bytes.data(), bytes.size(), wakeup_) == net::IoResult::kOk;
}

Reply SimServer::Dispatch(Connection& conn, const std::string& text, uint64_t now_us) {
  std::string_view word, rest;
  SplitCommandWord(text, &word, &rest);
  if (word.empty()) return Reply::Error("Empty command");
  if (EqualsNoCase(word, "-GetNextAvailablePortNumber")) return HandOutPort(conn);
  if (EqualsNoCase(word, "-CreateStream")) return CreateStream(conn, rest);
  if (EqualsNoCase(word, "-OpenStream")) return OpenOrCloseStream(conn, rest, true);
  if (EqualsNoCase(word, "-CloseStream")) return OpenOrCloseStream(conn, rest, false);
  if (EqualsNoCase(word, "-SetComputerName")) {
    conn.computer_name = std::string(rest);
    return Reply::Text("0", "client computer " + conn.computer_name);
  }
  if (auto reply = model_.Handle(word, rest, now_us)) return *reply;
  return Reply::Error("Unknown command: " + std::string(word));
}

Reply SimServer::HandOutPort(Connection& conn) {
  std::string error;
  if (conn.via == "negotiation") {
    // Asked on the negotiation port: the client closes this connection and
    // makes its message connection on the port handed out.
    if (pending_handouts_.fetch_add(1) >= options_.max_handouts) {
      pending_handouts_.fetch_sub(1);
      return Reply::Error(
          "Too many message ports handed out and not yet connected (--max-handouts " +
          std::to_string(options_.max_handouts) + "); try again later");
    }
    int port = 0;
    const net::Socket listener = net::Listen(options_.bind_address, 0, 1, &port, &error);
    if (listener == net::kNoSocket) {
      pending_handouts_.fetch_sub(1);
      return Reply::Error("Unable to open a message port: " + error);
    }
    if (!AddWorker([this, listener, port] { HandoutLoop(listener, port); })) {
      net::Close(listener);
      pending_handouts_.fetch_sub(1);
      return Reply::Error(IsStopping() ? "The server is shutting down"
                                       : "Unable to start a thread for a message port");
    }
    return Reply::Text("0 " + std::to_string(port), "message port " + std::to_string(port) +
                                                        " handed out, waiting for its connection");
  }
  // Asked on a message connection: the client listens on the port itself, for
  // one of its data streams, so the simulator must leave it free.
  int port = 0;
  {
    MutexLock lock(&ports_mutex_);
    for (int attempt = 0; attempt < 20; ++attempt) {
      const int candidate = net::FindFreePort(&error);
      if (candidate == 0) break;
      if (std::find(recent_stream_ports_.begin(), recent_stream_ports_.end(), candidate) ==
          recent_stream_ports_.end()) {
        port = candidate;
        break;
      }
    }
    if (port != 0) {
      recent_stream_ports_.push_back(port);
      if (recent_stream_ports_.size() > 256) recent_stream_ports_.pop_front();
    }
  }
  if (port == 0)
    return Reply::Error("Unable to find a free port: " + (error.empty() ? "none left" : error));
  return Reply::Text("0 " + std::to_string(port),
                     "port " + std::to_string(port) + " handed out for a client stream");
}

Reply SimServer::CreateStream(Connection& conn, std::string_view rest) {
  std::string_view address_text;
  std::vector<std::string> tail;
  const char* usage = "Usage: -CreateStream ADDRESS PORT TYPE";
  if (!SplitTrailing(rest, 2, &address_text, &tail)) return Reply::Error(usage);
  const std::string address(address_text);
  const auto port = ParseInt32(tail[0]);
  if (address.empty() || !port) return Reply::Error(usage);
  if (!net::IsIPv4Address(address)) return Reply::Error("Invalid IPv4 address: " + address);
  if (*port < 1 || *port > 65535) return Reply::Error("Invalid port number: " + tail[0]);
  const auto kind = StreamKindForType(tail[1]);
  if (!kind) return Reply::Error("Unknown stream type: " + tail[1]);
  const std::string client_address = conn.peer.substr(0, conn.peer.rfind(':'));
  if (!options_.stream_any_address && address != client_address) {
    // Pushing data to a third party on a client's word is not the server's job.
    return Reply::Error("Refused to stream to " + address +
                        ": streams go back to the client's own address " + client_address +
                        " (--stream-to-any-address allows others)");
  }

  const std::string peer = address + ":" + tail[0];
  std::string error;
  const net::Socket s = net::Connect(address, *port, kStreamConnectTimeoutMs, wakeup_, &error);
  if (s == net::kNoSocket) return Reply::Error("Unable to connect to " + peer + ": " + error);

  const int k = static_cast<int>(*kind);
  auto sender = std::make_unique<StreamSender>(
      *kind, s, conn.label, peer, options_.record_rate_hz,
      options_.seed + 7919u * static_cast<uint32_t>(conn.id) + k, clock_, transcript_, wakeup_);
  std::unique_ptr<StreamSender> replaced;
  std::string note = "stream " + tail[1] + " connected to " + peer;
  {
    MutexLock lock(&conn.mutex);
    for (const std::string& name : conn.open[k]) sender->Open(name, model_.RecordIndex(name));
    if (!conn.open[k].empty())
      note += ", sending " + std::to_string(conn.open[k].size()) + " open objects";
    if (!sender->Start()) return Reply::Error("Unable to start a thread for stream " + tail[1]);
    replaced = std::move(conn.streams[k]);
    conn.streams[k] = std::move(sender);
  }
  if (replaced) {
    replaced->Stop();
    note += " (replaces the earlier one)";
  }
  return Reply::Text("0", note);
}

Reply SimServer::OpenOrCloseStream(Connection& conn, std::string_view rest, bool open) {
  std::string_view head;
  std::vector<std::string> tail;
  if (!SplitTrailing(rest, 1, &head, &tail) || head.empty()) {
    return Reply::Error(open ? "Usage: -OpenStream OBJECT TYPE"
                             : "Usage: -CloseStream OBJECT TYPE");
  }
  const std::string name = Unquote(head);
  const std::string& type = tail[0];
  const AcqObject* object = model_.FindObject(name);
  if (object == nullptr || object->type != type) {
    return Reply::Error("Unknown object and data type pairing: " + name + " " + type);
  }
  const auto kind = StreamKindForType(type);
  if (!kind) return Reply::Error("No data stream serves type " + type);
  const int k = static_cast<int>(*kind);
  const int32_t index = model_.RecordIndex(name);
  const std::string where =
      QuoteToken(name) + " on the " + type + " stream" +
      (*kind == StreamKind::kEV ? "" : ", object index " + std::to_string(index));

  MutexLock lock(&conn.mutex);
  auto& list = conn.open[k];
  const auto it = std::find(list.begin(), list.end(), name);
  if (open) {
    std::string note = "open " + where;
    if (it != list.end()) {
      note += " (already open)";
    } else {
      list.push_back(name);
    }
    if (conn.streams[k]) {
      conn.streams[k]->Open(name, index);
    } else {
      note += " (no " + type + " stream created yet)";
    }
    return Reply::Text("0", note);
  }
  if (it == list.end()) return Reply::Error("Object is not open: " + name);
  list.erase(it);
  if (conn.streams[k]) conn.streams[k]->Close(name);
  return Reply::Text("0", "closed " + where);
}

void SimServer::BroadcastEvent(const PostedEvent& event) {
  std::vector<std::shared_ptr<Connection>> conns;
  {
    MutexLock lock(&connections_mutex_);
    conns.assign(connections_.begin(), connections_.end());
  }
  const int k = static_cast<int>(StreamKind::kEV);
  for (const auto& conn : conns) {
    MutexLock lock(&conn->mutex);
    if (conn->streams[k]) conn->streams[k]->PostEvent(event);
  }
}

}  // namespace orvanta::sim
