#include "trials/trial_fields.h"

#include <vector>

#include "trials/trial.h"

namespace orvanta {

namespace {

// One field of an edge; it gives a row for the start and one for the end.
struct EdgeFieldRow {
  const char* key;     // the TrialEdge member's name
  const char* suffix;  // the command after "-SetStartOfTrial" / "-SetEndOfTrial"
  FieldKind kind;
  FieldMember member;
  bool savedWhenEmpty;
  const char* unreadableLabel;  // after "start of trial " / "end of trial "
  FieldCheck check;
  FieldRange range;
  const char* checkPhrase;  // after "the start " / "the end "
  const char* switchedBy;   // an edge key
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

TrialField Row(const char* key, const char* command, FieldKind kind, FieldMember member) {
  TrialField row;
  row.key = key;
  row.command = command;
  row.kind = kind;
  row.member = member;
  return row;
}

TrialField Text(TrialField row, bool savedWhenEmpty, const std::string& unreadableLabel) {
  row.savedWhenEmpty = savedWhenEmpty;
  row.unreadableLabel = unreadableLabel;
  return row;
}

TrialField Checked(TrialField row, FieldCheck check, FieldRange range, const std::string& phrase,
                   const std::string& switchedBy, int order) {
  row.check = check;
  row.range = range;
  row.checkPhrase = phrase;
  row.switchedBy = switchedBy;
  row.checkOrder = order;
  return row;
}

}  // namespace

// Names Trial's private members for the rows, and reads and writes them
// under the trial's lock.
struct TrialFieldAccess {
  static std::vector<TrialField> Build();

  template <class T>
  static T Read(const TrialField& field, const Trial& trial) {
    if (const auto* own = std::get_if<T Trial::*>(&field.member)) return trial.Read(*own);
    if (const auto* edge = std::get_if<T TrialEdge::*>(&field.member)) {
      return trial.ReadEdge(*field.edge, *edge);
    }
    return T{};
  }
  template <class T>
  static void Write(const TrialField& field, Trial& trial, const T& value) {
    if (const auto* own = std::get_if<T Trial::*>(&field.member)) {
      trial.Write(*own, value);
    } else if (const auto* edge = std::get_if<T TrialEdge::*>(&field.member)) {
      trial.WriteEdge(*field.edge, *edge, value);
    }
  }
};

std::vector<TrialField> TrialFieldAccess::Build() {
  using K = FieldKind;
  using C = FieldCheck;
  constexpr FieldRange kNonNegative{0, INT32_MAX};
  std::vector<TrialField> rows = {
      Row("count", "-SetTrialCount", K::kInt, std::monostate{}),
      Checked(Row("duration", "-SetTrialDuration", K::kInt, &Trial::mTrialDuration), C::kRunsAsZero,
              kNonNegative, "the trial duration", "", 1),
      Checked(Row("interval", "-SetInterTrialInterval", K::kInt, &Trial::mInterTrialInterval),
              C::kRunsAsZero, kNonNegative, "the inter-trial interval", "", 2),
      Row("playWav", "-SetPlayWavFile", K::kBool, &Trial::mPlayWavFile),
      Checked(Text(Row("wavFileName", "-SetWavFileName", K::kText, &Trial::mWavFileName), false,
                   "wav file name"),
              C::kEmpty, {}, "wav playback is switched on, but no wav file is set.", "playWav", 30),
      Checked(
          Row("wavBufferNumber", "-SetWavFileBufferNumber", K::kInt, &Trial::mWavFileBufferNumber),
          C::kNegative, kNonNegative, "the wav playback's buffer number", "playWav", 32),
      Checked(Row("wavBoardNumber", "-SetWavFileBoardNumber", K::kInt, &Trial::mWavFileBoardNumber),
              C::kNegative, kNonNegative, "the wav playback's board number", "playWav", 31),
      Text(Row("wavSubSystemName", "-SetWavFileSubSystemName", K::kText,
               &Trial::mWavFileSubSystemName),
           true, "wav file subsystem name"),
  };

  const EdgeFieldRow kEdgeFields[] = {
      {"generateEvent",
       "GenerateEvent",
       K::kBool,
       &TrialEdge::generateEvent,
       true,
       "",
       C::kNone,
       {},
       "",
       ""},
      {"eventString",
       "EventString",
       K::kText,
       &TrialEdge::eventString,
       false,
       "event string",
       C::kNone,
       {},
       "",
       ""},
      {"eventTTLValue",
       "EventTTLValue",
       K::kInt,
       &TrialEdge::eventTTLValue,
       true,
       "",
       C::kNone,
       {},
       "",
       ""},
      {"generateTTLPulse",
       "GenerateTTLPulse",
       K::kBool,
       &TrialEdge::generateTTLPulse,
       true,
       "",
       C::kNone,
       {},
       "",
       ""},
      {"pulseBitNumber",
       "TTLPulseBitNumber",
       K::kInt,
       &TrialEdge::pulseBitNumber,
       true,
       "",
       C::kOutsideRange,
       {0, 15},
       "pulse's bit number",
       "generateTTLPulse"},
      {"pulseDuration", "TTLPulseDuration", K::kInt, &TrialEdge::pulseDuration, true, "",
       C::kRunsAsZero, kNonNegative, "pulse's duration", "generateTTLPulse"},
      {"pulseBoardNumber", "TTLPulseBoardNumber", K::kInt, &TrialEdge::pulseBoardNumber, true, "",
       C::kNegative, kNonNegative, "pulse's board number", "generateTTLPulse"},
      {"pulseSubSystemName",
       "TTLPulseSubSystemName",
       K::kText,
       &TrialEdge::pulseSubSystemName,
       true,
       "pulse subsystem name",
       C::kNone,
       {},
       "",
       ""},
  };
  for (const EdgeSide side : {EdgeSide::kStart, EdgeSide::kEnd}) {
    const bool start = side == EdgeSide::kStart;
    const std::string prefix = start ? "start." : "end.";
    const std::string which = start ? "start" : "end";
    int order = start ? 10 : 20;
    for (const EdgeFieldRow& edgeField : kEdgeFields) {
      TrialField row = Row(
          (prefix + edgeField.key).c_str(),
          ((start ? "-SetStartOfTrial" : "-SetEndOfTrial") + std::string(edgeField.suffix)).c_str(),
          edgeField.kind, edgeField.member);
      row.edge = side;
      if (edgeField.kind == K::kText) {
        row = Text(row, edgeField.savedWhenEmpty, which + " of trial " + edgeField.unreadableLabel);
      }
      if (edgeField.check != C::kNone) {
        row = Checked(row, edgeField.check, edgeField.range,
                      "the " + which + " " + edgeField.checkPhrase, prefix + edgeField.switchedBy,
                      order++);
      }
      rows.push_back(row);
    }
  }
  return rows;
}

bool TrialField::GetBool(const Trial& trial) const {
  return TrialFieldAccess::Read<bool>(*this, trial);
}
int32_t TrialField::GetInt(const Trial& trial) const {
  return TrialFieldAccess::Read<int32_t>(*this, trial);
}
std::string TrialField::GetText(const Trial& trial) const {
  return TrialFieldAccess::Read<std::string>(*this, trial);
}
void TrialField::SetBool(Trial& trial, bool value) const {
  TrialFieldAccess::Write(*this, trial, value);
}
void TrialField::SetInt(Trial& trial, int32_t value) const {
  TrialFieldAccess::Write(*this, trial, value);
}
void TrialField::SetText(Trial& trial, const std::string& value) const {
  TrialFieldAccess::Write(*this, trial, value);
}

std::span<const TrialField> TrialFields() {
  static const std::vector<TrialField> rows = TrialFieldAccess::Build();
  return rows;
}

const TrialField* FindTrialField(std::string_view command) {
  for (const TrialField& field : TrialFields()) {
    if (SameIgnoringCase(field.command, command)) return &field;
  }
  return nullptr;
}

const TrialField* FindTrialFieldByKey(std::string_view key) {
  for (const TrialField& field : TrialFields()) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

}  // namespace orvanta
