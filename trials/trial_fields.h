// The fields of a trial type, one row each: the setup-file command that sets
// it, its kind, the edge it belongs to, where its value lives, and what the
// save, its warnings and the setup check do with it. The interpreter, the
// save, the check of unreadable values and the setup check all walk this one
// table; adding a field is one row here plus its member and accessors in
// Trial (or TrialEdge).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "trials/trial_edge.h"

namespace orvanta {

class Trial;

enum class FieldKind { kBool, kInt, kText };

// Where a row's value lives: a member of the type, a member of one of its
// edges, or (std::monostate) outside the type: the trial count, which the
// card deck keeps.
using FieldMember =
    std::variant<std::monostate, bool Trial::*, int32_t Trial::*, std::string Trial::*,
                 bool TrialEdge::*, int32_t TrialEdge::*, std::string TrialEdge::*>;

// What the setup check (orvanta-run --check) reports about a value.
enum class FieldCheck {
  kNone,
  kRunsAsZero,    // below range.min: "<phrase> is negative (N ms); it would be run as 0."
  kNegative,      // below range.min: "<phrase> is negative (N)."
  kOutsideRange,  // "<phrase> is N, outside MIN..MAX: the pulse would set no bit."
  kEmpty,         // an empty text: the phrase is the whole sentence
};

struct FieldRange {
  int32_t min = INT32_MIN;
  int32_t max = INT32_MAX;
};

struct TrialField {
  // Stable identifier: the type's own fields by name ("duration"), an edge's
  // as "start." or "end." and the TrialEdge member ("start.pulseDuration").
  std::string key;
  std::string command;  // with its leading "-", as a setup file spells it
  FieldKind kind = FieldKind::kInt;
  std::optional<EdgeSide> edge;  // none for the type's own fields
  FieldMember member;
  // Texts only: an empty value is left out of a save unless this is set (an
  // empty one is then reported as not reading back).
  bool savedWhenEmpty = true;
  // Texts only: how the save's warnings name the value ("wav file name").
  std::string unreadableLabel;
  // The setup check of the value: what, within which range, in which words,
  // only while the boolean field `switchedBy` (a key) is on, and where among
  // the checks of one type it comes (ascending).
  FieldCheck check = FieldCheck::kNone;
  FieldRange range;
  std::string checkPhrase;
  std::string switchedBy;
  int checkOrder = 0;

  // True for the trial count, which is kept by the card deck: the accessors
  // below do not reach it.
  bool InDeck() const { return std::holds_alternative<std::monostate>(member); }
  // The command without its dash, as the interpreter's messages name it.
  const char* HandlerName() const { return command.c_str() + 1; }
  bool InRange(int32_t value) const { return value >= range.min && value <= range.max; }

  // The value in `trial`, each under the trial's lock. The getter of a
  // different kind (or of the count) returns false, 0 or "" and the setter
  // does nothing.
  bool GetBool(const Trial& trial) const;
  int32_t GetInt(const Trial& trial) const;
  std::string GetText(const Trial& trial) const;
  void SetBool(Trial& trial, bool value) const;
  void SetInt(Trial& trial, int32_t value) const;
  void SetText(Trial& trial, const std::string& value) const;
};

// Every field, in the order of the interpreter's command table and of a save.
std::span<const TrialField> TrialFields();
// The row of `command` (ASCII letters compared without regard to case), or
// null.
const TrialField* FindTrialField(std::string_view command);
// The row with `key`, or null.
const TrialField* FindTrialFieldByKey(std::string_view key);

}  // namespace orvanta
