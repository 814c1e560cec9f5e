// The broken frame headers, one table for every suite that meets them: the
// frame reader's own tests build the header bytes, the client's tests send
// them from a scripted peer, and the integration tests have the simulator
// send them (SimFault) in the reply to a chosen command.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "client/frame_codec.h"
#include "client/frame_io.h"

namespace orvanta::testing {

struct BrokenHeader {
  const char* name;
  int32_t version;
  uint32_t validation;
  int32_t size;
  FrameFault::Kind kind;  // what the frame reader makes of it
  bool outOfStep;         // the rest of the frame stays on the connection
  bool inBox;             // the fault is shown in a message box
  const char* text;       // the fault's text (the box's, when it has one)
};

inline void PrintTo(const BrokenHeader& header, std::ostream* os) { *os << header.name; }

inline const std::vector<BrokenHeader>& BrokenHeaders() {
  using Kind = FrameFault::Kind;
  constexpr uint32_t kCode = frame::kValidationCode;
  static const std::vector<BrokenHeader> table = {
      {"Version0", 0, kCode, 5, Kind::kVersionTooLow, true, true,
       "Error, invalid version number, data has been corrupted or improperly formatted"},
      {"Version2", 2, kCode, 5, Kind::kVersionTooHigh, true, true,
       "Error, this Version of Veltrix Network Communication is not Supported, please update to "
       "the latest version of the software.  Version #2"},
      {"BadValidation", 1, 0xA5A5A5A4u, 5, Kind::kBadValidation, true, true,
       "Error, invalid validation code, data has been corrupted or improperly formatted"},
      {"SizeZero", 1, kCode, 0, Kind::kBadSize, false, false,
       "NetworkNodeClient::RecieveMessage() - Invalid message size for recieving message, "
       "messageSize: 0"},
      {"SizeNegative", 1, kCode, -8, Kind::kBadSize, true, false,
       "NetworkNodeClient::RecieveMessage() - Invalid message size for recieving message, "
       "messageSize: -8"},
      {"OverTheBound", 1, kCode, FrameReader::kMaxPayloadSize + 1, Kind::kTooLarge, true, false,
       "NetworkNodeClient::RecieveMessage() - Error allocating memory for recieving a message, "
       "point returned a NULL"},
      {"SizeHuge", 1, kCode, 0x7FFFFFFF, Kind::kTooLarge, true, false,
       "NetworkNodeClient::RecieveMessage() - Error allocating memory for recieving a message, "
       "point returned a NULL"},
  };
  return table;
}

// The rows for which `keep` holds.
template <typename Keep>
std::vector<BrokenHeader> BrokenHeadersWhere(Keep keep) {
  std::vector<BrokenHeader> out;
  for (const BrokenHeader& h : BrokenHeaders())
    if (keep(h)) out.push_back(h);
  return out;
}

inline std::string BrokenHeaderName(const ::testing::TestParamInfo<BrokenHeader>& info) {
  return info.param.name;
}

}  // namespace orvanta::testing
