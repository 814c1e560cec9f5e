#include "tools/quorvin-sim/acquisition_model.h"

#include <cstdio>
#include <fstream>

#include "tools/quorvin-sim/command_text.h"

namespace orvanta::sim {

namespace {

constexpr int kRingBufferRecordsReturned = 4;

const char* kSpikeFeatures[] = {"Peak",  "Valley",    "Energy",      "Height",
                                "Width", "Peak Time", "Valley Time", "Area"};

int32_t RingCapacity(StreamKind kind) {
  switch (kind) {
    case StreamKind::kCSC:
      return 512;
    case StreamKind::kVT:
      return 256;
    case StreamKind::kEV:
      return 512;
    default:
      return 1024;
  }
}

// The board part of "\"Sub\" 0 ..." commands: a name (quoted or one word)
// followed by the given number of trailing words.
bool SplitBoardCommand(std::string_view rest, size_t trailing, std::string* subsystem,
                       std::vector<std::string>* tail) {
  std::string_view head;
  if (!SplitTrailing(rest, trailing, &head, tail) || head.empty()) return false;
  *subsystem = Unquote(head);
  return true;
}

std::string PortValueText(uint16_t v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "0x%04X (%d)", v, static_cast<int>(static_cast<int16_t>(v)));
  return buf;
}

bool FileReadable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

}  // namespace

std::string BoardLabel(const std::string& subsystem, int32_t board) {
  return "\"" + subsystem + "\" " + std::to_string(board);
}

AcquisitionModel::AcquisitionModel(const SimOptions& options)
    : application_name_(options.application_name),
      objects_(options.objects),
      check_wav_files_(options.check_wav_files),
      ring_records_(options.seed ^ 0x9E3779B9u) {}

const AcqObject* AcquisitionModel::FindObject(std::string_view name) const {
  for (const AcqObject& o : objects_) {
    if (o.name == name) return &o;
  }
  return nullptr;
}

int32_t AcquisitionModel::RecordIndex(std::string_view name) const {
  const AcqObject* target = FindObject(name);
  if (target == nullptr) return -1;
  const auto kind = StreamKindForType(target->type);
  if (!kind || *kind == StreamKind::kEV) return -1;
  int32_t index = 0;
  for (const AcqObject& o : objects_) {
    if (&o == target) return index;
    const auto k = StreamKindForType(o.type);
    if (!k) continue;
    const bool same_list = IsSpikeKind(*kind) ? IsSpikeKind(*k) : *k == *kind;
    if (same_list) ++index;
  }
  return -1;
}

std::optional<Reply> AcquisitionModel::Handle(std::string_view word, std::string_view rest,
                                              uint64_t now_us) {
  auto is = [word](const char* name) { return EqualsNoCase(word, name); };

  if (is("-GetApplicationName")) return Reply::Text("0 " + application_name_);
  if (is("-SetApplicationName")) {
    return Reply::Text("0", "client application: " + Unquote(rest));
  }
  if (is("-LogMessage")) {
    std::string_view message;
    std::vector<std::string> tail;
    if (!SplitTrailing(rest, 1, &message, &tail) || !ParseInt32(tail[0])) {
      return Reply::Error("Usage: -LogMessage MESSAGE LEVEL");
    }
    return Reply::Text("0", "logged \"" + std::string(message) + "\" level " + tail[0]);
  }
  if (is("-RequestQuorvinObjects")) return ObjectList(false);
  if (is("-RequestQuorvinTypes")) return ObjectList(true);
  if (is("-RequestRingBufferSize") || is("-RequestSamplingFrequency") || is("-RequestADRange")) {
    return ObjectRequest(word, rest);
  }
  if (is("-RequestFeature")) return RequestFeature(rest);
  if (is("-RequestRingBuffer")) return RequestRingBuffer(rest, now_us);
  if (is("-PostEvent")) return PostEvent(rest, now_us);
  if (is("-SetDigitalIOPortDirection")) return SetPortDirection(rest);
  if (is("-SetDIOPortOutput")) return SetPortOutput(rest, now_us);
  if (is("-SetDAOutputMode")) return SetOutputMode(rest);
  if (is("-SetDAWavFile")) return SetWavFile(rest);
  if (is("-SelectDAWavBuffer")) return SelectWavBuffer(rest);
  if (is("-PlayDAWavFile")) return PlayWavFile(rest, now_us);
  return std::nullopt;
}

Reply AcquisitionModel::ObjectList(bool types) const {
  std::string text = "0";
  for (const AcqObject& o : objects_) text += " " + QuoteToken(types ? o.type : o.name);
  return Reply::Text(text);
}

Reply AcquisitionModel::ObjectRequest(std::string_view word, std::string_view rest) {
  const std::string name = Unquote(rest);
  const AcqObject* object = FindObject(name);
  if (object == nullptr) return Reply::Error("Unknown object: " + name);
  const auto kind = StreamKindForType(object->type);
  if (EqualsNoCase(word, "-RequestRingBufferSize")) {
    if (!kind) return Reply::Error("Object has no ring buffer: " + name);
    return Reply::Text("0 " + std::to_string(RingCapacity(*kind)) + " " +
                       std::to_string(RecordSize(*kind)));
  }
  if (EqualsNoCase(word, "-RequestSamplingFrequency")) {
    if (!kind || *kind == StreamKind::kEV)
      return Reply::Error("Object has no sampling frequency: " + name);
    return Reply::Text(*kind == StreamKind::kVT ? "0 30" : "0 " + std::to_string(kCscSamplingHz));
  }
  // -RequestADRange: the input range in microvolts.
  if (!kind || *kind == StreamKind::kEV || *kind == StreamKind::kVT) {
    return Reply::Error("Object has no A/D range: " + name);
  }
  return Reply::Text(*kind == StreamKind::kCSC ? "0 -1000 1000" : "0 -500 500");
}

Reply AcquisitionModel::RequestFeature(std::string_view rest) const {
  std::string_view head;
  std::vector<std::string> tail;
  if (!SplitTrailing(rest, 1, &head, &tail))
    return Reply::Error("Usage: -RequestFeature OBJECT INDEX");
  const auto index = ParseInt32(tail[0]);
  if (!index) return Reply::Error("Usage: -RequestFeature OBJECT INDEX");
  const std::string name = Unquote(head);
  const AcqObject* object = FindObject(name);
  if (object == nullptr) return Reply::Error("Unknown object: " + name);
  const auto kind = StreamKindForType(object->type);
  if (!kind || !IsSpikeKind(*kind)) return Reply::Error("Object has no features: " + name);
  if (*index < 0 || *index >= 8) return Reply::Error("Feature index out of range: " + tail[0]);
  return Reply::Text("0 " + std::string(kSpikeFeatures[*index]));
}

Reply AcquisitionModel::RequestRingBuffer(std::string_view rest, uint64_t now_us) {
  const std::string name = Unquote(rest);
  const AcqObject* object = FindObject(name);
  if (object == nullptr) return Reply::Error("Unknown object: " + name);
  const auto kind = StreamKindForType(object->type);
  if (!kind) return Reply::Error("Object has no ring buffer: " + name);

  Reply reply;
  reply.binary = true;
  MutexLock lock(&mutex_);
  if (*kind == StreamKind::kEV) {
    const size_t first = events_.size() > kRingBufferRecordsReturned
                             ? events_.size() - kRingBufferRecordsReturned
                             : 0;
    for (size_t i = first; i < events_.size(); ++i) {
      const PostedEvent& e = events_[i];
      ring_records_.AppendEvent(e.time_us, static_cast<int32_t>(e.number), e.ttl, 1, e.text,
                                &reply.bytes);
    }
    if (reply.bytes.empty()) return Reply::Error("Ring buffer is empty: " + name);
  } else {
    const int32_t index = RecordIndex(name);
    for (int i = kRingBufferRecordsReturned - 1; i >= 0; --i) {
      const uint64_t t = now_us > static_cast<uint64_t>(i) * 16000 ? now_us - i * 16000 : 0;
      if (*kind == StreamKind::kCSC) {
        ring_records_.AppendCsc(index, t, &reply.bytes);
      } else if (*kind == StreamKind::kVT) {
        ring_records_.AppendVideo(static_cast<uint16_t>(index), t, &reply.bytes);
      } else {
        ring_records_.AppendSpike(*kind, index, t, &reply.bytes);
      }
    }
  }
  reply.note = std::to_string(reply.bytes.size() / RecordSize(*kind)) + " records of " + name;
  return reply;
}

Reply AcquisitionModel::PostEvent(std::string_view rest, uint64_t now_us) {
  std::string_view head;
  std::vector<std::string> tail;
  if (!SplitTrailing(rest, 2, &head, &tail) || !ParseInt32(tail[0]) || !ParseInt32(tail[1])) {
    return Reply::Error("Usage: -PostEvent \"EVENT STRING\" TTL 0");
  }
  PostedEvent event;
  event.time_us = now_us;
  event.text = Unquote(head);
  event.ttl = *ParseInt32(tail[0]);
  {
    MutexLock lock(&mutex_);
    event.number = static_cast<int64_t>(events_.size()) + 1;
    events_.push_back(event);
  }
  if (event_listener_) event_listener_(event);
  return Reply::Text("0", "event " + std::to_string(event.number) + " \"" + event.text + "\" ttl " +
                              std::to_string(event.ttl));
}

Reply AcquisitionModel::SetPortDirection(std::string_view rest) {
  std::string subsystem;
  std::vector<std::string> tail;
  if (!SplitBoardCommand(rest, 2, &subsystem, &tail) || !ParseInt32(tail[0])) {
    return Reply::Error("Usage: -SetDigitalIOPortDirection \"SUBSYSTEM\" BOARD Output|Input");
  }
  const int32_t board = *ParseInt32(tail[0]);
  if (board < 0) return Reply::Error("Invalid board number: " + tail[0]);
  bool output;
  if (EqualsNoCase(tail[1], "Output")) {
    output = true;
  } else if (EqualsNoCase(tail[1], "Input")) {
    output = false;
  } else {
    return Reply::Error("Invalid port direction: " + tail[1]);
  }
  MutexLock lock(&mutex_);
  DioPortState& port = dio_[{subsystem, board}];
  port.output = output;
  return Reply::Text("0", "dio " + BoardLabel(subsystem, board) + " direction " +
                              (output ? "Output" : "Input") + " value " +
                              PortValueText(port.value));
}

Reply AcquisitionModel::SetPortOutput(std::string_view rest, uint64_t now_us) {
  std::string subsystem;
  std::vector<std::string> tail;
  if (!SplitBoardCommand(rest, 2, &subsystem, &tail) || !ParseInt32(tail[0]) ||
      !ParseInt32(tail[1])) {
    return Reply::Error("Usage: -SetDIOPortOutput \"SUBSYSTEM\" BOARD VALUE");
  }
  const int32_t board = *ParseInt32(tail[0]);
  const int32_t value = *ParseInt32(tail[1]);
  if (board < 0) return Reply::Error("Invalid board number: " + tail[0]);
  // The port is 16 bits wide; the value may come signed (bit 15 as -32768).
  if (value < -32768 || value > 65535) return Reply::Error("Port value out of range: " + tail[1]);
  MutexLock lock(&mutex_);
  DioPortState& port = dio_[{subsystem, board}];
  port.value = static_cast<uint16_t>(value);
  port.changes += 1;
  port.changed_us = now_us;
  std::string note = "dio " + BoardLabel(subsystem, board) + " value " + PortValueText(port.value) +
                     " direction " + (port.output ? "Output" : "Input");
  if (!port.output) note += " (warning: the port is not set to Output)";
  return Reply::Text("0", note);
}

Reply AcquisitionModel::SetOutputMode(std::string_view rest) {
  std::string subsystem;
  std::vector<std::string> tail;
  if (!SplitBoardCommand(rest, 2, &subsystem, &tail) || !ParseInt32(tail[0])) {
    return Reply::Error("Usage: -SetDAOutputMode \"SUBSYSTEM\" BOARD MODE");
  }
  const int32_t board = *ParseInt32(tail[0]);
  if (board < 0) return Reply::Error("Invalid board number: " + tail[0]);
  MutexLock lock(&mutex_);
  da_[{subsystem, board}].output_mode = tail[1];
  return Reply::Text("0", "da " + BoardLabel(subsystem, board) + " mode " + tail[1]);
}

Reply AcquisitionModel::SetWavFile(std::string_view rest) {
  static const char* kUsage = "Usage: -SetDAWavFile \"SUBSYSTEM\" BOARD \"FILE\" BUFFER";
  std::string subsystem;
  std::string_view after;
  if (!TakeQuoted(rest, &subsystem, &after)) {
    // An unquoted subsystem name is one word.
    std::string_view word;
    SplitCommandWord(rest, &word, &after);
    subsystem = std::string(word);
  }
  std::string_view board_text, file_part;
  SplitCommandWord(after, &board_text, &file_part);
  std::string_view file_head;
  std::vector<std::string> tail;
  const auto board = ParseInt32(board_text);
  if (subsystem.empty() || !board || !SplitTrailing(file_part, 1, &file_head, &tail) ||
      !ParseInt32(tail[0])) {
    return Reply::Error(kUsage);
  }
  const std::string file = Unquote(file_head);
  const int32_t buffer = *ParseInt32(tail[0]);
  if (*board < 0) return Reply::Error("Invalid board number: " + std::string(board_text));
  if (buffer < 0) return Reply::Error("Invalid buffer number: " + tail[0]);
  if (file.empty()) return Reply::Error("No wav file name given");
  const bool readable = FileReadable(file);
  if (check_wav_files_ && !readable) return Reply::Error("Unable to open wav file: " + file);
  MutexLock lock(&mutex_);
  da_[{subsystem, *board}].buffers[buffer] = file;
  return Reply::Text("0", "da " + BoardLabel(subsystem, *board) + " buffer " +
                              std::to_string(buffer) + " loaded \"" + file + "\"" +
                              (readable ? "" : " (not found on this computer)"));
}

Reply AcquisitionModel::SelectWavBuffer(std::string_view rest) {
  std::string subsystem;
  std::vector<std::string> tail;
  if (!SplitBoardCommand(rest, 2, &subsystem, &tail) || !ParseInt32(tail[0]) ||
      !ParseInt32(tail[1])) {
    return Reply::Error("Usage: -SelectDAWavBuffer \"SUBSYSTEM\" BOARD BUFFER");
  }
  const int32_t board = *ParseInt32(tail[0]);
  const int32_t buffer = *ParseInt32(tail[1]);
  MutexLock lock(&mutex_);
  auto it = da_.find({subsystem, board});
  if (it == da_.end() || it->second.buffers.count(buffer) == 0) {
    return Reply::Error("No wav file loaded in buffer " + tail[1] + " of " +
                        BoardLabel(subsystem, board));
  }
  it->second.selected_buffer = buffer;
  return Reply::Text("0", "da " + BoardLabel(subsystem, board) + " selected buffer " + tail[1] +
                              " \"" + it->second.buffers[buffer] + "\"");
}

Reply AcquisitionModel::PlayWavFile(std::string_view rest, uint64_t now_us) {
  std::string subsystem;
  std::vector<std::string> tail;
  if (!SplitBoardCommand(rest, 1, &subsystem, &tail) || !ParseInt32(tail[0])) {
    return Reply::Error("Usage: -PlayDAWavFile \"SUBSYSTEM\" BOARD");
  }
  const int32_t board = *ParseInt32(tail[0]);
  MutexLock lock(&mutex_);
  auto it = da_.find({subsystem, board});
  if (it == da_.end() || it->second.selected_buffer < 0) {
    return Reply::Error("No wav buffer selected on " + BoardLabel(subsystem, board));
  }
  DaBoardState& da = it->second;
  if (!EqualsNoCase(da.output_mode, "BufferedOutput")) {
    return Reply::Error("Output mode of " + BoardLabel(subsystem, board) +
                        " is not BufferedOutput");
  }
  da.plays += 1;
  da.last_played = da.buffers[da.selected_buffer];
  da.last_played_us = now_us;
  return Reply::Text("0", "da " + BoardLabel(subsystem, board) + " playing buffer " +
                              std::to_string(da.selected_buffer) + " \"" + da.last_played +
                              "\" (play " + std::to_string(da.plays) + ")");
}

std::optional<DioPortState> AcquisitionModel::DioPort(const std::string& subsystem,
                                                      int32_t board) const {
  MutexLock lock(&mutex_);
  auto it = dio_.find({subsystem, board});
  if (it == dio_.end()) return std::nullopt;
  return it->second;
}

std::optional<DaBoardState> AcquisitionModel::DaBoard(const std::string& subsystem,
                                                      int32_t board) const {
  MutexLock lock(&mutex_);
  auto it = da_.find({subsystem, board});
  if (it == da_.end()) return std::nullopt;
  return it->second;
}

std::vector<PostedEvent> AcquisitionModel::Events() const {
  MutexLock lock(&mutex_);
  return events_;
}

}  // namespace orvanta::sim
