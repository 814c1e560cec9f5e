// The libFuzzer entry point of one target; ORVANTA_FUZZ_TARGET names the
// target's function (fuzz_targets.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return orvanta::fuzz::ORVANTA_FUZZ_TARGET(data, size);
}
