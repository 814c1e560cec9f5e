#include "trigger/stream_trigger.h"

#include <algorithm>

#include "client/vintra_client.h"

namespace orvanta {

StreamTrigger::StreamTrigger(VintraClient& client) : client_(client) { client_.SetRecordTap(this); }

StreamTrigger::~StreamTrigger() { client_.SetRecordTap(nullptr); }

bool StreamTrigger::OpenObjects(const std::vector<std::string>& objects, const StopSignal* stop,
                                std::string& error) {
  auto isOpen = [this](const std::string& object) {
    return std::any_of(opened_.begin(), opened_.end(),
                       [&](const auto& open) { return open.first == object; });
  };
  std::vector<std::string> wanted;
  for (const std::string& object : objects) {
    if (!isOpen(object)) wanted.push_back(object);
  }
  if (wanted.empty()) return true;
  if (!client_.HasConnection()) {
    error = "the acquisition server is not connected.";
    return false;
  }
  std::vector<std::string> names;
  std::vector<std::string> types;
  if (!client_.GetObjectsAndTypes(names, types)) {
    error = "the acquisition server's object list could not be read.";
    return false;
  }
  for (const std::string& object : wanted) {
    if (stop != nullptr && stop->IsRequested()) return false;
    const auto at = std::find(names.begin(), names.end(), object);
    const size_t index = static_cast<size_t>(at - names.begin());
    if (at == names.end() || index >= types.size() || types[index].empty()) {
      std::string listed;
      for (const std::string& name : names) listed += (listed.empty() ? "" : ", ") + name;
      error = "the acquisition server does not list the object \"" + object +
              "\".  Its objects: " + (listed.empty() ? "none" : listed) + ".";
      return false;
    }
    if (!client_.OpenStream(object, types[index])) {
      error = "the stream of \"" + object + "\" (" + types[index] + ") could not be opened.";
      return false;
    }
    opened_.emplace_back(object, types[index]);
  }
  return true;
}

void StreamTrigger::CloseObjects(std::chrono::milliseconds bound) {
  gate_.Disarm();
  // Each close is one exchange bounded by the client's reply time-out; the
  // ones left once `bound` has passed are not sent (the server stops them
  // when the connection ends).
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (const auto& [object, type] : opened_) {
    if (std::chrono::steady_clock::now() >= deadline || !client_.HasConnection()) break;
    client_.CloseStream(object, type);
  }
  opened_.clear();
}

void StreamTrigger::Arm(const std::string& object, int32_t count, int32_t windowMs) {
  gate_.Arm(object, count, windowMs);
}

TriggerWaitEnd StreamTrigger::WaitUntil(TimePoint deadline, TimePoint& arrivedAt) {
  return gate_.WaitUntil(deadline, arrivedAt);
}

void StreamTrigger::Disarm() { gate_.Disarm(); }

void StreamTrigger::Interrupt() { gate_.Interrupt(); }

void StreamTrigger::OnStreamRecord(const std::string& objectName) { gate_.OnRecord(objectName); }

}  // namespace orvanta
