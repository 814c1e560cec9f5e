// The commands the server answers itself: the port hand-out, the data
// streams' creation, opening and closing, and the events posted to them.
// Every other command goes to the acquisition model.
#include <algorithm>
#include <string>
#include <vector>

#include "tools/quorvin-sim/command_text.h"
#include "tools/quorvin-sim/sim_connection.h"
#include "tools/quorvin-sim/sim_server.h"

namespace orvanta::sim {

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
  auto sender =
      std::make_unique<StreamSender>(*kind, s, conn.label, peer, options_.record_rate_hz,
                                     options_.seed + 7919u * static_cast<uint32_t>(conn.id) + k,
                                     clock_, transcript_, wakeup_, schedules_, conn.last_emitted);
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
