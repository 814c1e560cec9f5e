// A trial type's two edges and the field table over them: the named
// accessors reach the edge of their side only, and every row reaches the
// member its command names.
#include <gtest/gtest.h>

#include <set>

#include "trials/trial.h"
#include "trials/trial_fields.h"

namespace orvanta::testing {
namespace {

TEST(TrialEdge, NamedAccessorsReachTheEdgeOfTheirSideOnly) {
  Trial trial;
  EXPECT_EQ(trial.GetEdge(EdgeSide::kStart), TrialEdge{});
  EXPECT_EQ(trial.GetEdge(EdgeSide::kEnd).pulseSubSystemName, "VRXBD");
  trial.SetStartOfTrialTTLPulseDuration(40);
  trial.SetEndOfTrialEventString("off");
  EXPECT_EQ(trial.GetEdge(EdgeSide::kStart).pulseDuration, 40);
  EXPECT_EQ(trial.GetEdge(EdgeSide::kEnd).pulseDuration, 0);
  EXPECT_EQ(trial.GetEdge(EdgeSide::kEnd).eventString, "off");
  EXPECT_EQ(trial.GetEdge(EdgeSide::kStart).eventString, "");

  TrialEdge edge;
  edge.generateTTLPulse = true;
  edge.pulseBitNumber = 7;
  edge.pulseSubSystemName = "B";
  trial.SetEdge(EdgeSide::kEnd, edge);
  EXPECT_TRUE(trial.GetEndOfTrialGenerateTTLPulse());
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseBitNumber(), 7);
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseSubSystemName(), "B");
  EXPECT_EQ(trial.GetEndOfTrialEventString(), "");
  EXPECT_EQ(trial.GetStartOfTrialTTLPulseDuration(), 40);
}

TEST(TrialFieldTable, RowsAreUniqueAndFoundIgnoringCase) {
  const auto fields = TrialFields();
  ASSERT_EQ(fields.size(), 24u);
  std::set<std::string> keys;
  std::set<std::string> commands;
  for (const TrialField& field : fields) {
    keys.insert(field.key);
    commands.insert(field.command);
    EXPECT_EQ(FindTrialField(field.command), &field);
    EXPECT_EQ(FindTrialFieldByKey(field.key), &field);
  }
  EXPECT_EQ(keys.size(), fields.size());
  EXPECT_EQ(commands.size(), fields.size());
  EXPECT_EQ(FindTrialField("-setendoftrialttlpulseduration")->key, "end.pulseDuration");
  EXPECT_EQ(FindTrialField("-AddTrial"), nullptr);
  EXPECT_TRUE(FindTrialFieldByKey("count")->InDeck());
}

TEST(TrialFieldTable, EachRowSetsTheMemberItsCommandNames) {
  // Through the row, read back through the named accessor (and the other
  // way round for the edges).
  Trial trial;
  FindTrialFieldByKey("duration")->SetInt(trial, 123);
  FindTrialFieldByKey("wavBoardNumber")->SetInt(trial, 4);
  FindTrialFieldByKey("wavBufferNumber")->SetInt(trial, 5);
  FindTrialFieldByKey("playWav")->SetBool(trial, true);
  FindTrialFieldByKey("start.pulseBoardNumber")->SetInt(trial, 6);
  FindTrialFieldByKey("end.pulseBitNumber")->SetInt(trial, 9);
  FindTrialFieldByKey("end.eventString")->SetText(trial, "e");
  EXPECT_EQ(trial.GetTrialDuration(), 123);
  EXPECT_EQ(trial.GetWavFileBoardNumber(), 4);
  EXPECT_EQ(trial.GetWavFileBufferNumber(), 5);
  EXPECT_TRUE(trial.GetPlayWavFile());
  EXPECT_EQ(trial.GetStartOfTrialTTLPulseBoardNumber(), 6);
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseBitNumber(), 9);
  EXPECT_EQ(trial.GetEndOfTrialEventString(), "e");
  trial.SetStartOfTrialEventTTLValue(77);
  EXPECT_EQ(FindTrialFieldByKey("start.eventTTLValue")->GetInt(trial), 77);
  EXPECT_EQ(FindTrialFieldByKey("end.eventTTLValue")->GetInt(trial), 0);
  // A getter of another kind gives the empty value.
  EXPECT_EQ(FindTrialFieldByKey("duration")->GetText(trial), "");
}

}  // namespace
}  // namespace orvanta::testing
