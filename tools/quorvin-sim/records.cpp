#include "tools/quorvin-sim/records.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvanta::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;

void Put16(uint16_t v, char* p) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}
void Put32(uint32_t v, char* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put64(uint64_t v, char* p) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

int16_t Clamp16(double v) {
  return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

int SpikeChannels(StreamKind kind) {
  switch (kind) {
    case StreamKind::kSE:
      return 1;
    case StreamKind::kST:
      return 2;
    default:
      return 4;
  }
}

// Appends `size` zero bytes and returns a pointer to them.
char* Grow(std::string* out, size_t size) {
  const size_t at = out->size();
  out->resize(at + size, '\0');
  return out->data() + at;
}

}  // namespace

const char* StreamTypeName(StreamKind kind) {
  switch (kind) {
    case StreamKind::kSE:
      return "SEScAcqEnt";
    case StreamKind::kST:
      return "STScAcqEnt";
    case StreamKind::kTT:
      return "TTScAcqEnt";
    case StreamKind::kCSC:
      return "CscAcqEnt";
    case StreamKind::kVT:
      return "VTAcqEnt";
    case StreamKind::kEV:
      return "EventAcqEnt";
  }
  return "";
}

size_t RecordSize(StreamKind kind) {
  switch (kind) {
    case StreamKind::kSE:
      return 112;
    case StreamKind::kST:
      return 176;
    case StreamKind::kTT:
      return 304;
    case StreamKind::kCSC:
      return 1044;
    case StreamKind::kVT:
      return 1828;
    case StreamKind::kEV:
      return 184;
  }
  return 0;
}

std::optional<StreamKind> StreamKindForType(std::string_view type) {
  for (int k = 0; k < kStreamKindCount; ++k) {
    const auto kind = static_cast<StreamKind>(k);
    if (type == StreamTypeName(kind)) return kind;
  }
  return std::nullopt;
}

bool IsSpikeKind(StreamKind kind) {
  return kind == StreamKind::kSE || kind == StreamKind::kST || kind == StreamKind::kTT;
}

RecordFactory::RecordFactory(uint32_t seed) : rng_(seed), noise_(kNoiseTableSize) {
  std::normal_distribution<float> normal(0.0f, 1.0f);
  for (float& v : noise_) v = normal(rng_);
  for (int s = 0; s < 32; ++s) {
    spike_trough_[s] = std::exp(-std::pow((s - 8) / 1.6, 2));
    spike_peak_[s] = 0.35 * std::exp(-std::pow((s - 15) / 4.0, 2));
  }
}

void RecordFactory::AppendSpike(StreamKind kind, int32_t channel, uint64_t time_us,
                                std::string* out) {
  const int channels = SpikeChannels(kind);
  char* p = Grow(out, RecordSize(kind));
  Put64(time_us, p);
  Put32(static_cast<uint32_t>(channel), p + 8);
  Put32(0, p + 12);

  // A biphasic spike: a sharp trough followed by a slow, smaller peak, with an
  // amplitude that differs from channel to channel.
  ShuffleNoise();
  double peak = -1e9, valley = 1e9, energy = 0, area = 0;
  int peak_at = 0, valley_at = 0;
  const double base = 900.0 + 150.0 * (channel % 5);
  for (int s = 0; s < 32; ++s) {
    for (int c = 0; c < channels; ++c) {
      const double amp = base * (1.0 - 0.18 * c);
      const double v = amp * (spike_peak_[s] - spike_trough_[s]) + Noise(40.0);
      const int16_t sample = Clamp16(v);
      Put16(static_cast<uint16_t>(sample), p + 48 + 2 * (s * channels + c));
      if (c == 0) {
        if (sample > peak) {
          peak = sample;
          peak_at = s;
        }
        if (sample < valley) {
          valley = sample;
          valley_at = s;
        }
        energy += static_cast<double>(sample) * sample;
        area += std::abs(static_cast<double>(sample));
      }
    }
  }
  const int32_t features[8] = {static_cast<int32_t>(peak),
                               static_cast<int32_t>(valley),
                               static_cast<int32_t>(std::sqrt(energy / 32)),
                               static_cast<int32_t>(peak - valley),
                               static_cast<int32_t>(std::abs(peak_at - valley_at)),
                               peak_at,
                               valley_at,
                               static_cast<int32_t>(area)};
  for (int f = 0; f < 8; ++f) Put32(static_cast<uint32_t>(features[f]), p + 16 + 4 * f);
}

void RecordFactory::AppendCsc(int32_t channel, uint64_t time_us, std::string* out) {
  char* p = Grow(out, RecordSize(StreamKind::kCSC));
  Put64(time_us, p);
  Put32(static_cast<uint32_t>(channel), p + 8);
  Put32(kCscSamplingHz, p + 12);
  Put32(kCscSamplesPerRecord, p + 16);
  // A theta-like sine of 6 Hz plus one per channel, with noise. The sine is
  // stepped by rotation, one sin/cos pair per record.
  ShuffleNoise();
  const double freq = 6.0 + (channel % 8);
  const double phase = 2 * kPi * std::fmod(freq * static_cast<double>(time_us) * 1e-6, 1.0);
  const double step = 2 * kPi * freq / kCscSamplingHz;
  const double cos_step = std::cos(step), sin_step = std::sin(step);
  double sin_v = std::sin(phase), cos_v = std::cos(phase);
  for (int s = 0; s < kCscSamplesPerRecord; ++s) {
    const double v = 2000.0 * sin_v + Noise(150.0);
    Put16(static_cast<uint16_t>(Clamp16(v)), p + 20 + 2 * s);
    const double next_sin = sin_v * cos_step + cos_v * sin_step;
    cos_v = cos_v * cos_step - sin_v * sin_step;
    sin_v = next_sin;
  }
}

void RecordFactory::AppendVideo(uint16_t tracker_id, uint64_t time_us, std::string* out) {
  char* p = Grow(out, RecordSize(StreamKind::kVT));
  Put16(kVideoMarker, p);
  Put16(tracker_id, p + 2);
  Put64(time_us, p + 8);
  // The animal walks round a circle in 20 s.
  ShuffleNoise();
  const double angle = 2 * kPi * std::fmod(static_cast<double>(time_us) * 1e-6 / 20.0, 1.0);
  const int x = static_cast<int>(std::lround(360 + 200 * std::cos(angle) + Noise(1.0)));
  const int y = static_cast<int>(std::lround(240 + 150 * std::sin(angle) + Noise(1.0)));
  const int heading = static_cast<int>(std::lround(std::fmod(angle * 180 / kPi + 90, 360.0)));
  Put32(static_cast<uint32_t>(x), p + 16);
  Put32(static_cast<uint32_t>(y), p + 20);
  Put32(static_cast<uint32_t>(heading), p + 24);
  const uint32_t points = 12;
  Put32(points, p + 28);
  for (uint32_t i = 0; i < points; ++i) {
    const double a = 2 * kPi * i / points;
    const uint32_t px =
        static_cast<uint32_t>(std::clamp(x + static_cast<int>(6 * std::cos(a)), 0, 4095));
    const uint32_t py =
        static_cast<uint32_t>(std::clamp(y + static_cast<int>(6 * std::sin(a)), 0, 4095));
    Put32(px | (py << 16), p + 32 + 4 * i);
  }
}

void RecordFactory::AppendEvent(uint64_t time_us, int32_t event_number, int32_t ttl, uint32_t flags,
                                std::string_view text, std::string* out) {
  char* p = Grow(out, RecordSize(StreamKind::kEV));
  Put64(time_us, p);
  Put32(static_cast<uint32_t>(event_number), p + 8);
  Put32(static_cast<uint32_t>(ttl), p + 12);
  Put32(flags, p + 16);
  const size_t n = std::min(text.size(), kEventStringSize - 1);
  std::memcpy(p + 56, text.data(), n);
}

}  // namespace orvanta::sim
