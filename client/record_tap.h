// A second listener on the data streams, beside the one callback per stream:
// it sees every record's object before the callback does, without taking the
// callback's place. The start triggers of a run listen so.
#pragma once

#include <string>

namespace orvanta {

class RecordTap {
 public:
  virtual ~RecordTap() = default;
  // Called on the stream's receive thread for each record whose object is
  // known, under that stream's callback lock (so a tap being removed is no
  // longer called once the removal returns). `objectName` is valid only
  // during the call. Must return at once: no blocking, no waiting on a lock
  // another thread holds while it waits for data.
  virtual void OnStreamRecord(const std::string& objectName) = 0;
};

}  // namespace orvanta
