// How a server's reply is shown in the application log and the timeline:
// control characters escaped, long replies cut. The reply itself (on the
// wire and as the client returns it) is never changed.
#pragma once

#include <cstddef>
#include <string>

namespace orvanta {

// The longest part of a reply that is shown.
inline constexpr std::size_t kMaxShownReplyLength = 1000;

// `reply` with CR as "\r", LF as "\n" and every other control character
// (below 0x20, and 0x7F) as "\xHH" (two lower-case hex digits). A reply
// longer than kMaxShownReplyLength characters is cut to that many before
// escaping, followed by " ... (cut, N characters in all)".
std::string ShownReply(const std::string& reply);

}  // namespace orvanta
