// One client connection of the simulator, as the server's parts share it
// (sim_server.cpp, sim_serve.cpp, sim_commands.cpp).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "tools/quorvin-sim/sim_server.h"

namespace orvanta::sim {

struct SimServer::Connection {
  int id = 0;
  std::string via;    // negotiation, message or handout
  std::string label;  // "ID/VIA", the conn field of the transcript
  net::Socket socket = net::kNoSocket;
  std::string peer;
  std::string computer_name;  // the connection's own thread only
  // The last scheduled record sent on the connection's streams.
  LastEmitted last_emitted;

  Mutex mutex;
  std::array<std::unique_ptr<StreamSender>, kStreamKindCount> streams GUARDED_BY(mutex);
  // The objects the client opened, per stream kind, in the order opened.
  std::array<std::vector<std::string>, kStreamKindCount> open GUARDED_BY(mutex);
};

// Adds `more` to a transcript note, "; " between.
inline void AddNote(std::string* note, const std::string& more) {
  if (!note->empty()) *note += "; ";
  *note += more;
}

}  // namespace orvanta::sim
