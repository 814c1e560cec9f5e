// The message frame of the acquisition-server connection, shared by the
// client and the simulator.
//
//   offset 0  int32  version (always 1 when sent)
//   offset 4  uint32 validation code 0xA5A5A5A5
//   offset 8  int32  payload size N (>= 1)
//   offset 12 N bytes payload: the text followed by exactly one NUL
//
// All three integers are little-endian, whatever the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvanta::frame {

inline constexpr int32_t kVersion = 1;
inline constexpr uint32_t kValidationCode = 0xA5A5A5A5u;
inline constexpr size_t kHeaderSize = 12;

struct Header {
  int32_t version = 0;
  uint32_t validation = 0;
  int32_t payload_size = 0;
};

inline void PutLe32(uint32_t v, unsigned char* out) {
  out[0] = static_cast<unsigned char>(v & 0xFF);
  out[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
  out[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
  out[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

inline uint32_t GetLe32(const unsigned char* in) {
  return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
         (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

inline void EncodeHeader(const Header& h, unsigned char out[kHeaderSize]) {
  PutLe32(static_cast<uint32_t>(h.version), out);
  PutLe32(h.validation, out + 4);
  PutLe32(static_cast<uint32_t>(h.payload_size), out + 8);
}

inline Header DecodeHeader(const unsigned char in[kHeaderSize]) {
  Header h;
  h.version = static_cast<int32_t>(GetLe32(in));
  h.validation = GetLe32(in + 4);
  h.payload_size = static_cast<int32_t>(GetLe32(in + 8));
  return h;
}

// One whole frame carrying `payload` as it stands (no NUL is added).
inline std::string EncodeFrame(std::string_view payload) {
  std::string out(kHeaderSize + payload.size(), '\0');
  Header h{kVersion, kValidationCode, static_cast<int32_t>(payload.size())};
  EncodeHeader(h, reinterpret_cast<unsigned char*>(out.data()));
  out.replace(kHeaderSize, payload.size(), payload.data(), payload.size());
  return out;
}

// One whole frame carrying a text and its terminating NUL, as commands and
// replies travel.
inline std::string EncodeTextFrame(std::string_view text) {
  std::string payload(text);
  payload.push_back('\0');
  return EncodeFrame(payload);
}

// The text of a payload: its bytes up to the first NUL, or all of them.
inline std::string PayloadText(std::string_view payload) {
  const size_t nul = payload.find('\0');
  return std::string(nul == std::string_view::npos ? payload : payload.substr(0, nul));
}

}  // namespace orvanta::frame
