// The one operation the trial model needs of the server client: send one
// command text and wait for its one reply. The client facade implements it.
#pragma once

#include <string>

#include "platform/exchange_status.h"

namespace orvanta {

class StopSignal;

class CommandChannel {
 public:
  virtual ~CommandChannel() = default;

  // Sends `command` as one message and waits for one reply message. Returns
  // true when a reply arrived; `reply` is written only then. The send and the
  // receive form one atomic exchange: concurrent callers never interleave.
  //
  // When `stop` is given and gets requested while the reply is awaited, the
  // call returns false promptly and the channel stays in step: the reply it
  // still owes is discarded before the next exchange.
  virtual bool SendCommand(const std::string& command, std::string& reply,
                           const StopSignal* stop) = 0;

  // The same exchange, telling what became of it. The default asks
  // SendCommand and reports a failure as "no reply"; the server client
  // reports the real reason.
  virtual ExchangeStatus Exchange(const std::string& command, std::string& reply,
                                  const StopSignal* stop) {
    if (SendCommand(command, reply, stop)) return ExchangeStatus::Replied();
    return ExchangeStatus::Failed(ExchangeResult::kNoReply, ExchangeReason::kNoReply);
  }

  bool SendCommand(const std::string& command, std::string& reply) {
    return SendCommand(command, reply, nullptr);
  }
};

}  // namespace orvanta
