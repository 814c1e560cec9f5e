// The field table through the interpreter and the save: every row sets its
// value, writes its line and reads back; the refusals of numbers and
// booleans keep their texts, named after each command.
#include <gtest/gtest.h>

#include "script_test_support.h"
#include "trials/trial_fields.h"

namespace orvanta::testing {
namespace {

// A value of the row's kind unlike its default, as a setup line spells it.
std::string Sample(const TrialField& field, size_t i) {
  switch (field.kind) {
    case FieldKind::kBool:
      return "true";
    case FieldKind::kInt:
      return std::to_string(100 + i);
    case FieldKind::kText:
      break;
  }
  return "\"text " + std::to_string(i) + "\"";
}

// The row's value in type `name` of `m`, spelt the same way.
std::string ValueOf(const TrialField& field, ScriptModel& m, const std::string& name) {
  if (field.InDeck()) return std::to_string(m.CountOf(name));
  const Trial& trial = *m.TrialNamed(name);
  switch (field.kind) {
    case FieldKind::kBool:
      return field.GetBool(trial) ? "true" : "false";
    case FieldKind::kInt:
      return std::to_string(field.GetInt(trial));
    case FieldKind::kText:
      break;
  }
  return "\"" + field.GetText(trial) + "\"";
}

TEST(TrialFieldsRoundTrip, EveryRowThroughInterpreterTrialSaveLineAndBack) {
  const auto fields = TrialFields();
  ScriptModel first;
  ASSERT_EQ(first.commands.ProcessCommandString("-AddTrial \"T\""), 0);
  std::string expected = "-AddTrial \"T\"\r\n";
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string line = fields[i].command + " \"T\" " + Sample(fields[i], i);
    ASSERT_EQ(first.commands.ProcessCommandString(line), 0) << line;
    EXPECT_EQ(ValueOf(fields[i], first, "T"), Sample(fields[i], i)) << fields[i].key;
    expected += line + "\r\n";
  }
  // One line per row, in the table's order, after the type's own.
  const std::string saved = first.TrialNamed("T")->GetSetupFileLines(first.trials, first.deck);
  EXPECT_EQ(saved, expected);

  ScriptModel second;
  for (size_t start = 0; start < saved.size();) {
    const size_t end = saved.find("\r\n", start);
    ASSERT_EQ(second.commands.ProcessCommandString(saved.substr(start, end - start)), 0);
    start = end + 2;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(ValueOf(fields[i], second, "T"), Sample(fields[i], i)) << fields[i].key;
  }
  EXPECT_TRUE(first.Errors().empty());
  EXPECT_TRUE(second.Errors().empty());
}

TEST(TrialFieldsRefusals, NumbersAndBooleansRefuseWithTheirCommandsTexts) {
  ScriptModel m;
  ASSERT_EQ(m.commands.ProcessCommandString("-AddTrial \"T\""), 0);
  const std::string before = m.TrialNamed("T")->GetSetupFileLines(m.trials, m.deck);
  for (const TrialField& field : TrialFields()) {
    const std::string handler = "CommandProcessor::" + std::string(field.HandlerName()) + "() - ";
    m.ClearLog();
    EXPECT_EQ(m.commands.ProcessCommandString(field.command + " \"T\""), -1);
    EXPECT_EQ(m.Errors(), std::vector<std::string>{handler + "The " + field.command +
                                                   " command expects 2 arguments.  There were 1 "
                                                   "specifed."});
    if (field.kind == FieldKind::kText) continue;
    m.ClearLog();
    EXPECT_EQ(m.commands.ProcessCommandString(field.command + " \"T\" 1x"), -1);
    const std::string why =
        field.kind == FieldKind::kInt
            ? "Error, invalid argument received. Argument 2 must be a numeric value.  "
            : "Error, invalid argument. Argument 2 must be equal to one of the "
              "following(true,false) ";
    EXPECT_EQ(m.Errors(), std::vector<std::string>{handler + why + "Argument 2: 1x"});
  }
  // No refusal changed a value.
  EXPECT_EQ(m.TrialNamed("T")->GetSetupFileLines(m.trials, m.deck), before);
}

}  // namespace
}  // namespace orvanta::testing
