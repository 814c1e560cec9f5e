#include "trials/reply_text.h"

namespace orvanta {

std::string ShownReply(const std::string& reply) {
  static const char kHex[] = "0123456789abcdef";
  const bool cut = reply.size() > kMaxShownReplyLength;
  const std::size_t shown = cut ? kMaxShownReplyLength : reply.size();
  std::string out;
  out.reserve(shown + 16);
  for (std::size_t i = 0; i < shown; ++i) {
    const unsigned char c = static_cast<unsigned char>(reply[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (cut) out += " ... (cut, " + std::to_string(reply.size()) + " characters in all)";
  return out;
}

}  // namespace orvanta
