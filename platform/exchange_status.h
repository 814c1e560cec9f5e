// What became of one command exchange with the acquisition server. The
// client produces it; the trial worker, the window and the runner read it to
// report trouble, so every front end tells the same story.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

// How far the exchange got.
enum class ExchangeResult {
  kReplied,  // the command was sent and its reply received
  kNotSent,  // nothing went out
  kNoReply,  // sent (or possibly sent), but no usable reply came back
  kStopped,  // a stop or cancel request ended the wait; the reply is owed
};

// Why an exchange failed; kNone when it was replied.
enum class ExchangeReason {
  kNone,
  kNotConnected,       // no connection, or a connection left out of step
  kSendFailed,         // the command could not be written to the socket
  kNoReplyInTime,      // the reply bound passed (the reply is still drained)
  kNoReply,            // the reply could not be received (no further detail)
  kBrokenReply,        // the reply frame's header or size was invalid: out of step
  kBrokenReplyInStep,  // the reply frame was refused (an empty payload) but the
                       // next frame starts where it should: the connection holds
  kEarlierReplyOwed,   // not sent: the reply to an earlier command has not come
  kConnectionClosed,   // the server closed or reset the connection
  kStopped,            // ended by a stop or cancel request
};

struct ExchangeStatus {
  ExchangeResult result = ExchangeResult::kReplied;
  ExchangeReason reason = ExchangeReason::kNone;
  // The reply bound in force, for kNoReplyInTime's text.
  int64_t replyTimeoutMs = 0;

  // Short names kept for callers that only look at how far it got.
  static constexpr ExchangeResult kReplied = ExchangeResult::kReplied;
  static constexpr ExchangeResult kNotSent = ExchangeResult::kNotSent;
  static constexpr ExchangeResult kNoReply = ExchangeResult::kNoReply;
  static constexpr ExchangeResult kStopped = ExchangeResult::kStopped;

  static ExchangeStatus Replied() { return {}; }
  static ExchangeStatus Failed(ExchangeResult result, ExchangeReason reason,
                               int64_t replyTimeoutMs = 0) {
    return {result, reason, replyTimeoutMs};
  }

  bool IsReplied() const { return result == ExchangeResult::kReplied; }
  // The connection cannot carry another exchange: a run must end.
  bool ConnectionLost() const {
    return reason == ExchangeReason::kNotConnected || reason == ExchangeReason::kSendFailed ||
           reason == ExchangeReason::kBrokenReply || reason == ExchangeReason::kConnectionClosed;
  }
  // "not connected", "send failed", "no reply within 5000 ms", "no reply",
  // "broken reply", "the server has not answered an earlier command",
  // "connection closed", "stopped"; empty when replied.
  std::string Describe() const {
    switch (reason) {
      case ExchangeReason::kNone:
        return std::string();
      case ExchangeReason::kNotConnected:
        return "not connected";
      case ExchangeReason::kSendFailed:
        return "send failed";
      case ExchangeReason::kNoReplyInTime:
        return "no reply within " + std::to_string(replyTimeoutMs) + " ms";
      case ExchangeReason::kNoReply:
        return "no reply";
      case ExchangeReason::kBrokenReply:
      case ExchangeReason::kBrokenReplyInStep:
        return "broken reply";
      case ExchangeReason::kEarlierReplyOwed:
        return "the server has not answered an earlier command";
      case ExchangeReason::kConnectionClosed:
        return "connection closed";
      case ExchangeReason::kStopped:
        return "stopped";
    }
    return std::string();
  }

  friend bool operator==(const ExchangeStatus& s, ExchangeResult r) { return s.result == r; }
};

}  // namespace orvanta
