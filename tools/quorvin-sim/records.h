// The six kinds of data stream records the simulator sends, their sizes and
// the simulator's layout of each. Only the size and the object field are
// fixed by the client; the rest is the simulator's own, chosen to look like
// real acquisition data. All fields are little-endian.
//
// Spike records (single electrode 112, stereotrode 176, tetrode 304 bytes):
//   0   uint64  time stamp, microseconds
//   8   int32   spike channel number: index into the combined list of all
//               spike objects (every SEScAcqEnt, STScAcqEnt and TTScAcqEnt
//               object, in the server's order)
//   12  int32   cell number (0: unsorted)
//   16  int32[8] features: peak, valley, energy, height, width, peak time,
//               valley time, area
//   48  int16[32][channels] waveform, 32 samples of 1, 2 or 4 channels,
//               interleaved by sample
// CSC records (1044 bytes):
//   0   uint64  time stamp of the first sample, microseconds
//   8   int32   channel number: index into the list of CscAcqEnt objects
//   12  uint32  sampling frequency, Hz
//   16  uint32  number of valid samples (512)
//   20  int16[512] samples: a sine (a few Hz, per channel) plus noise
// Event records (184 bytes):
//   0   uint64  time stamp, microseconds
//   8   int32   event number, counting from 1 per stream
//   12  int32   TTL value
//   16  uint32  flags: 1 = posted with -PostEvent, 0 = simulated TTL input
//   20  36 bytes reserved (0)
//   56  char[128] event string, NUL-padded (at most 127 bytes kept)
// Video records (1828 bytes):
//   0   uint16  record marker 0x5654
//   2   uint16  video tracker ID: index into the list of VTAcqEnt objects
//   4   uint32  reserved (0)
//   8   uint64  time stamp, microseconds
//   16  int32   x, pixels
//   20  int32   y, pixels
//   24  int32   heading, degrees
//   28  uint32  number of valid points
//   32  uint32[449] points: x in bits 0-11, y in bits 16-27
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta::sim {

enum class StreamKind { kSE = 0, kST, kTT, kCSC, kVT, kEV };
inline constexpr int kStreamKindCount = 6;

// The data type name of a stream ("SEScAcqEnt", ..., "EventAcqEnt"), which
// names it in "-CreateStream" and is the type of its objects.
const char* StreamTypeName(StreamKind kind);
size_t RecordSize(StreamKind kind);
std::optional<StreamKind> StreamKindForType(std::string_view type);
bool IsSpikeKind(StreamKind kind);

inline constexpr uint32_t kCscSamplingHz = 32000;
inline constexpr int kCscSamplesPerRecord = 512;
inline constexpr uint16_t kVideoMarker = 0x5654;
inline constexpr size_t kEventStringSize = 128;

// Builds records. Not thread-safe: each stream owns one.
class RecordFactory {
 public:
  explicit RecordFactory(uint32_t seed);

  // Each appends exactly one record of the kind's size to `out`.
  void AppendSpike(StreamKind kind, int32_t channel, uint64_t time_us, std::string* out);
  void AppendCsc(int32_t channel, uint64_t time_us, std::string* out);
  void AppendVideo(uint16_t tracker_id, uint64_t time_us, std::string* out);
  void AppendEvent(uint64_t time_us, int32_t event_number, int32_t ttl, uint32_t flags,
                   std::string_view text, std::string* out);

 private:
  // Gaussian noise of the given deviation, from a table filled once: records
  // are made at up to tens of thousands a second, and per-sample random
  // numbers would cost more than sending them.
  double Noise(double sigma) { return sigma * noise_[noise_at_++ & (kNoiseTableSize - 1)]; }
  // Starts the next record at a random place of the noise table.
  void ShuffleNoise() { noise_at_ = rng_(); }

  static constexpr size_t kNoiseTableSize = 8192;  // a power of two
  std::mt19937 rng_;
  std::vector<float> noise_;
  uint32_t noise_at_ = 0;
  // The spike's shape, sample by sample: trough and following peak.
  double spike_trough_[32];
  double spike_peak_[32];
};

}  // namespace orvanta::sim
