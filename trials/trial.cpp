#include "trials/trial.h"

#include <string>

#include "trials/card_deck.h"
#include "trials/trial_container.h"
#include "trials/trial_fields.h"

namespace orvanta {

namespace {

// One setup line per value: command, quoted trial name, value; CR LF.
class SetupLines {
 public:
  explicit SetupLines(const std::string& name) : name_(name) {}

  void Command(const char* command) { text_ += std::string(command) + " \"" + name_ + "\"\r\n"; }
  void Int(const char* command, int32_t value) { Line(command, std::to_string(value)); }
  // A number or a boolean, already as text.
  void Value(const char* command, const std::string& value) { Line(command, value); }
  // Strings are written between quotes as they stand, without escaping.
  void String(const char* command, const std::string& value) { Line(command, "\"" + value + "\""); }
  void StringIfSet(const char* command, const std::string& value) {
    if (!value.empty()) String(command, value);
  }

  const std::string& text() const { return text_; }

 private:
  void Line(const char* command, const std::string& value) {
    text_ += std::string(command) + " \"" + name_ + "\" " + value + "\r\n";
  }

  const std::string& name_;
  std::string text_;
};

// One value of `trial` as a save writes it: the text itself (without quotes),
// "true" or "false", or the number. Called with the trial's lock held.
struct SetupValueVisitor {
  const Trial& trial;
  const TrialEdge& edge;
  std::string operator()(std::monostate) const { return std::string(); }
  std::string operator()(bool Trial::*own) const { return Text(trial.*own); }
  std::string operator()(int32_t Trial::*own) const { return Text(trial.*own); }
  std::string operator()(std::string Trial::*own) const { return trial.*own; }
  std::string operator()(bool TrialEdge::*member) const { return Text(edge.*member); }
  std::string operator()(int32_t TrialEdge::*member) const { return Text(edge.*member); }
  std::string operator()(std::string TrialEdge::*member) const { return edge.*member; }
  static std::string Text(bool value) { return value ? "true" : "false"; }
  static std::string Text(int32_t value) { return std::to_string(value); }
};

}  // namespace

std::string Trial::SetupValueText(const TrialField& field) const {
  return std::visit(SetupValueVisitor{*this, EdgeOf(field.edge.value_or(EdgeSide::kStart))},
                    field.member);
}

std::string Trial::GetSetupFileLines(TrialContainer& trials, CardDeck& deck) const {
  // The count lives in the deck, reached through the suit ID. Neither the
  // list nor the deck is asked while this record's lock is held.
  const std::string name = GetName();
  int32_t suitID = 0;
  int32_t count = 0;
  const bool have_count =
      trials.GetSuitID(name, suitID) == 0 && deck.GetNumCardsInSuit(suitID, count) == 0;

  // One consistent snapshot of the settings, in case the editor is changing
  // them meanwhile.
  MutexLock lock(&mMutex);
  SetupLines lines(name);
  lines.Command("-AddTrial");
  for (const TrialField& field : TrialFields()) {
    // A type that is not in the list has no count to write; the lookup has
    // logged why.
    if (field.InDeck()) {
      if (have_count) lines.Int(field.command.c_str(), count);
      continue;
    }
    if (field.kind == FieldKind::kText) {
      const std::string text = SetupValueText(field);
      if (field.savedWhenEmpty) {
        lines.String(field.command.c_str(), text);
      } else {
        lines.StringIfSet(field.command.c_str(), text);
      }
    } else {
      lines.Value(field.command.c_str(), SetupValueText(field));
    }
  }
  // Only a type with a trigger has its line, so that setups without one
  // save as they always did.
  std::string text = lines.text();
  if (mStartTrigger.enabled) text += TriggerSetupLine(name, mStartTrigger);
  return text;
}

}  // namespace orvanta
