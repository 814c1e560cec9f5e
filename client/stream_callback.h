// The function type through which data stream records reach their user.
#pragma once

#include <string>

namespace orvanta {

// Receives records of one data stream: `context` is the value given at
// registration, handed back unchanged; `records` points at `recordCount`
// records (always 1) of the stream's record size; `objectName` names the
// acquisition object the record belongs to.
//
// Called on the stream's receive thread. The record bytes are valid only
// during the call; the next record overwrites them once the call returns.
using StreamCallback = void (*)(void* context, const unsigned char* records, int recordCount,
                                std::string objectName);

}  // namespace orvanta
