// One connection's command frames: reading them (with the checks of a
// broken or oversized frame), answering each with the faults the options
// ask for, and sending the reply frames.
#include <cstdio>
#include <optional>
#include <string>

#include "client/frame_codec.h"
#include "tools/quorvin-sim/command_text.h"
#include "tools/quorvin-sim/sim_connection.h"
#include "tools/quorvin-sim/sim_server.h"

namespace orvanta::sim {

namespace {

constexpr uint32_t kBadValidationCode = 0x5A5A5A5Au;

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

}  // namespace

void SimServer::Serve(const std::shared_ptr<Connection>& conn) {
  std::string why;
  std::string payload;
  while (ReadCommand(*conn, payload, why)) {
    // The frame has fully arrived: this is the time the transcript reports.
    // The last scheduled record is taken first, so that it was sent before
    // this time.
    const std::optional<EmittedRecord> last = conn->last_emitted.Get();
    const uint64_t recv_us = clock_.NowUs();
    commands_received_.fetch_add(1);
    const std::string text = frame::PayloadText(payload);
    // A large frame's buffer is not kept for the connection's whole life.
    if (payload.capacity() > 65536) std::string().swap(payload);
    if (!Answer(*conn, text, recv_us, last, why)) break;
  }
  EndConnection(*conn, why);
}

bool SimServer::ReadCommand(Connection& conn, std::string& payload, std::string& why) {
  unsigned char header[frame::kHeaderSize];
  size_t got = 0;
  net::IoResult r = net::ReadExact(conn.socket, header, sizeof header, wakeup_, &got);
  if (r != net::IoResult::kOk) {
    why = r == net::IoResult::kWoken   ? "simulator stopping"
          : r == net::IoResult::kError ? "receive failed: " + net::LastErrorText()
          : got == 0                   ? "closed by client"
                                       : "closed by client in the middle of a frame header";
    return false;
  }
  const frame::Header h = frame::DecodeHeader(header);
  std::string bad;
  if (h.version != frame::kVersion) {
    bad = "version " + std::to_string(h.version);
  } else if (h.validation != frame::kValidationCode) {
    bad = "validation code " + Hex32(h.validation);
  } else if (h.payload_size < 1 || h.payload_size > kMaxCommandPayload) {
    bad = "payload size " + std::to_string(h.payload_size);
  }
  if (!bad.empty()) {
    transcript_.Write(clock_.NowUs(), std::nullopt, conn.label, "error",
                      "bad frame from client: " + bad, "", "connection closed");
    why = "closed after a bad frame";
    return false;
  }
  // Command-sized frames always get in; large ones share one budget.
  const int64_t reserved = h.payload_size > kSmallFrameBytes ? h.payload_size : 0;
  if (reserved > 0 && pending_frame_bytes_.fetch_add(reserved) + reserved > kMaxPendingFrameBytes) {
    pending_frame_bytes_.fetch_sub(reserved);
    transcript_.Write(clock_.NowUs(), std::nullopt, conn.label, "error",
                      "frame of " + std::to_string(reserved) +
                          " bytes refused: frames being read "
                          "over all connections would take more than " +
                          std::to_string(kMaxPendingFrameBytes) + " bytes",
                      "", "connection closed");
    why = "closed: too much frame data pending";
    return false;
  }
  payload.assign(static_cast<size_t>(h.payload_size), '\0');
  r = net::ReadExact(conn.socket, payload.data(), payload.size(), wakeup_, &got);
  pending_frame_bytes_.fetch_sub(reserved);
  if (r != net::IoResult::kOk) {
    why = r == net::IoResult::kWoken   ? "simulator stopping"
          : r == net::IoResult::kError ? "receive failed: " + net::LastErrorText()
                                       : "closed by client in the middle of a frame";
    return false;
  }
  return true;
}

bool SimServer::Answer(Connection& conn, const std::string& text, uint64_t recv_us,
                       const std::optional<EmittedRecord>& last, std::string& why) {
  std::string_view word, rest;
  SplitCommandWord(text, &word, &rest);
  int64_t count = 0;
  if (options_.fault_command.empty() || EqualsNoCase(word, options_.fault_command)) {
    MutexLock lock(&fault_mutex_);
    count = ++counted_commands_;
  }

  const bool replaced = options_.replace_reply_nth > 0 && count == options_.replace_reply_nth;
  Reply reply = replaced ? Reply::Text(options_.replace_reply_text,
                                       "fault: reply replaced, command not carried out "
                                       "(command " +
                                           std::to_string(count) + ")")
                         : Dispatch(conn, text, recv_us);
  if (options_.echo && count > 0 && !reply.binary) {
    reply.text += " <- #" + std::to_string(count) + " " + text;
  }
  std::string note = reply.note;
  const std::string shown =
      reply.binary ? "<" + std::to_string(reply.bytes.size()) + " bytes>" : reply.text;
  const bool close_after = options_.close_after_n > 0 && count == options_.close_after_n;
  // The command's line; a command after a scheduled record ends its note
  // with the time since that record's send.
  auto write_line = [&](std::optional<uint64_t> reply_us, std::string_view reply_text) {
    if (last) AddNote(&note, AfterRecordNote(*last, recv_us));
    transcript_.Write(recv_us, reply_us, conn.label, "cmd", text, reply_text, note);
  };

  if (options_.no_reply_nth > 0 && count == options_.no_reply_nth) {
    AddNote(&note, "fault: no reply (command " + std::to_string(count) + ")");
    write_line(std::nullopt, "");
  } else {
    const bool late = options_.late_reply.nth > 0 && count == options_.late_reply.nth;
    const int delay_ms =
        options_.reply_delay_ms + (late ? static_cast<int>(options_.late_reply.value) : 0);
    if (late) AddNote(&note, "fault: reply late (command " + std::to_string(count) + ")");
    if (delay_ms > 0 && !net::SleepFor(wakeup_, delay_ms)) {
      AddNote(&note, "reply abandoned: simulator stopping");
      write_line(std::nullopt, "");
      why = "simulator stopping";
      return false;
    }
    const bool sent = SendReply(conn, reply, count, &note);
    const uint64_t reply_us = clock_.NowUs();
    if (!sent) AddNote(&note, "reply could not be sent");
    write_line(sent ? std::optional<uint64_t>(reply_us) : std::nullopt, sent ? shown : "");
    if (!sent) {
      why = wakeup_.IsRaised() ? "simulator stopping" : "closed by client";
      return false;
    }
    if (options_.extra_frame_nth > 0 && count == options_.extra_frame_nth) {
      std::string extra_note =
          "fault: frame sent unasked (after command " + std::to_string(count) + ")";
      const bool extra_sent =
          SendReply(conn, Reply::Text(options_.extra_frame_text, ""), 0, &extra_note);
      transcript_.Write(clock_.NowUs(), std::nullopt, conn.label, "extra",
                        options_.extra_frame_text, "", extra_note);
      if (!extra_sent) {
        why = wakeup_.IsRaised() ? "simulator stopping" : "closed by client";
        return false;
      }
    }
  }
  if (close_after) {
    why = "closed by simulator after command " + std::to_string(count) + " (--close-after)";
    return false;
  }
  return true;
}

bool SimServer::SendReply(Connection& conn, const Reply& reply, int64_t count, std::string* note) {
  const std::string payload = reply.Payload();
  frame::Header h{frame::kVersion, frame::kValidationCode, static_cast<int32_t>(payload.size())};
  if (count > 0 && count == options_.bad_version.nth) {
    h.version = static_cast<int32_t>(options_.bad_version.value);
    AddNote(note, "fault: version " + std::to_string(h.version) + " in the reply header");
  }
  if (count > 0 && count == options_.bad_validation_nth) {
    h.validation = kBadValidationCode;
    AddNote(note, "fault: validation code " + Hex32(h.validation) + " in the reply header");
  }
  if (count > 0 && count == options_.absurd_size.nth) {
    h.payload_size = static_cast<int32_t>(options_.absurd_size.value);
    AddNote(note, "fault: payload size " + std::to_string(h.payload_size) + " in the reply header");
  }
  std::string bytes(frame::kHeaderSize, '\0');
  frame::EncodeHeader(h, reinterpret_cast<unsigned char*>(bytes.data()));
  bytes += payload;
  return net::WriteAll(conn.socket, bytes.data(), bytes.size(), wakeup_) == net::IoResult::kOk;
}

}  // namespace orvanta::sim
