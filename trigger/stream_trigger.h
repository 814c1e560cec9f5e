// The start triggers of a run, on the server client's data streams: opens
// the trigger objects' streams (each on the stream of its data type, as the
// server lists it), taps every record the streams deliver, and matches them
// in a TriggerGate for the worker.
//
// Threads: the TriggerSource calls come on the trial worker (Interrupt from
// any thread); OnStreamRecord comes on the stream receive threads. The tap
// is added at construction and removed by the destructor, which returns
// once no receive thread is inside it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "client/record_tap.h"
#include "trials/trigger_source.h"
#include "trigger/trigger_gate.h"

namespace orvanta {

class VintraClient;

class StreamTrigger : public TriggerSource, public RecordTap {
 public:
  // `client` is not owned and must outlive this object.
  explicit StreamTrigger(VintraClient& client);
  ~StreamTrigger() override;
  StreamTrigger(const StreamTrigger&) = delete;
  StreamTrigger& operator=(const StreamTrigger&) = delete;

  // Asks the server for its object lists, then opens each object not open
  // yet. Errors: "the server is not connected", "the acquisition server
  // does not list the object \"X\"" (with the objects it does list), "the
  // server's object list could not be read", "the stream of \"X\" (TYPE)
  // could not be opened".
  bool OpenObjects(const std::vector<std::string>& objects, const StopSignal* stop,
                   std::string& error) override;
  void CloseObjects(std::chrono::milliseconds bound) override;
  void Arm(const std::string& object, int32_t count, int32_t windowMs) override;
  TriggerWaitEnd WaitUntil(TimePoint deadline, TimePoint& arrivedAt) override;
  void Disarm() override;
  void Interrupt() override;

  void OnStreamRecord(const std::string& objectName) override;

  // The objects open now (object, data type), in the order opened.
  const std::vector<std::pair<std::string, std::string>>& opened() const { return opened_; }

 private:
  VintraClient& client_;
  TriggerGate gate_;
  std::vector<std::pair<std::string, std::string>> opened_;  // worker only
};

}  // namespace orvanta
