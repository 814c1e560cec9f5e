// The client facade against the acquisition-server simulator, both in this
// process on loopback ports the simulator picks itself. What went over the
// wire is read from the simulator's transcript: every command with the
// connection it came on and the reply it got, and the connections and data
// streams opened and closed.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/vintra_client.h"
#include "fakes/broken_headers.h"
#include "fakes/fakes.h"
#include "fakes/sim_transcript.h"
#include "fakes/temp_folder.h"
#include "fakes/unused_port.h"
#include "fakes/wait.h"
#include "support/program_env.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::e2e {

using namespace std::chrono_literals;
using Clock = testing::SteadyClock;
using testing::MillisSince;
using testing::UnusedPort;
using testing::WaitUntil;

constexpr const char* kAppName = "Quorvin Simulator";
// The stream type names, in stream order.
constexpr const char* kStreamTypes[] = {"SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt",
                                        "CscAcqEnt",  "VTAcqEnt",   "EventAcqEnt"};

inline int32_t Le32(const std::string& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return static_cast<int32_t>(v);
}

inline uint64_t Le64(const std::string& bytes, size_t offset) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return v;
}

// One line of the transcript.
using Line = testing::TranscriptLine;

// The records one stream delivered to its callback, copied whole.
class RecordSink {
 public:
  struct Record {
    std::string name;
    int count = 0;
    std::string bytes;
  };

  explicit RecordSink(size_t recordSize) : size_(recordSize) {}

  static void Callback(void* context, const unsigned char* records, int count,
                       std::string objectName) {
    auto* self = static_cast<RecordSink*>(context);
    Record r{std::move(objectName), count,
             std::string(reinterpret_cast<const char*>(records), self->size_)};
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->records_.push_back(std::move(r));
  }

  std::vector<Record> Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
  }
  std::vector<Record> Named(const std::string& name) const {
    std::vector<Record> out;
    for (const Record& r : Records())
      if (r.name == name) out.push_back(r);
    return out;
  }

 private:
  const size_t size_;
  mutable std::mutex mutex_;
  std::vector<Record> records_;
};

// The stream sinks, a base of their own so that they outlive the client,
// whose stream threads call into them.
struct E2eSinks {
  RecordSink se{112}, csc{1044}, vt{1828}, ev{184};
};

// The shared fixture's client (no application log; the client writes its
// own) against the simulator with its negotiation port.
class E2eTest : public ::testing::Test, public E2eSinks, public testing::ProgramEnv {
 protected:
  E2eTest()
      : ProgramEnv(
            Options{.logFile = false, .recordWindow = false, .folderPrefix = "orvanta-e2e-"}) {
    simOptions.negotiation_enabled = true;
    simOptions.record_rate_hz = 50;
    KeepClientLog();
  }

  // Every transcript line so far, once the lines of all commands received
  // are written.
  std::vector<Line> Lines() const {
    Commands(0);  // waits for them
    return testing::TranscriptLines(transcript);
  }
  std::vector<Line> Lines(const std::string& kind) const {
    std::vector<Line> out;
    for (Line& l : Lines())
      if (l.kind == kind) out.push_back(std::move(l));
    return out;
  }

  bool AnyStreamSetUp() {
    for (int i = 0; i < NetworkNodeClient::kStreamCount; ++i)
      if (client.GetNetworkNodeClient().Stream(i).IsSetUp()) return true;
    return false;
  }

  // The fixed commands of a connect on the message connection: the server's
  // name, six stream set-ups with the ports the client listens on, and the
  // computer's name.
  std::vector<std::string> ExpectedMessageSequence() {
    std::vector<std::string> out = {"-GetApplicationName"};
    for (int i = 0; i < NetworkNodeClient::kStreamCount; ++i) {
      out.emplace_back("-GetNextAvailablePortNumber");
      out.push_back("-CreateStream 127.0.0.1 " +
                    std::to_string(client.GetNetworkNodeClient().Stream(i).GetPortNumber()) + " " +
                    kStreamTypes[i]);
    }
    out.push_back("-SetComputerName " + VintraClient::GetComputerName());
    return out;
  }
};

}  // namespace orvanta::e2e
