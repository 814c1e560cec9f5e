// A trial type's two edges and the field table over them: every row reaches
// the member of its own side that its command names.
#include <gtest/gtest.h>

#include <set>

#include "trials/trial.h"
#include "trials/trial_fields.h"

namespace orvanta::testing {
namespace {

TEST(TrialEdge, AWholeEdgeIsSetOnItsSideOnly) {
  Trial trial;
  TrialEdge edge;
  edge.generateTTLPulse = true;
  edge.pulseBitNumber = 7;
  edge.pulseSubSystemName = "B";
  trial.SetEdge(EdgeSide::kEnd, edge);
  EXPECT_EQ(trial.GetEdge(EdgeSide::kEnd), edge);
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseSubSystemName(), "B");
  EXPECT_EQ(trial.GetEdge(EdgeSide::kStart), TrialEdge{});
  EXPECT_EQ(trial.GetStartOfTrialTTLPulseSubSystemName(), "VRXBD");
}

TEST(TrialFieldTable, RowsAreUniqueAndFoundIgnoringCase) {
  const auto fields = TrialFields();
  ASSERT_EQ(fields.size(), 24u);
  std::set<std::string> keys;
  for (const TrialField& field : fields) {
    keys.insert(field.key);
    EXPECT_EQ(FindTrialField(field.command), &field);
    EXPECT_EQ(FindTrialFieldByKey(field.key), &field);
  }
  EXPECT_EQ(keys.size(), fields.size());
  EXPECT_EQ(FindTrialField("-setendoftrialttlpulseduration")->key, "end.pulseDuration");
  EXPECT_EQ(FindTrialField("-AddTrial"), nullptr);
  EXPECT_TRUE(FindTrialFieldByKey("count")->InDeck());
}

TEST(TrialFieldTable, EachRowReachesTheMemberItsCommandNames) {
  Trial trial;
  FindTrialFieldByKey("duration")->SetInt(trial, 123);
  FindTrialFieldByKey("wavBoardNumber")->SetInt(trial, 4);
  FindTrialFieldByKey("wavBufferNumber")->SetInt(trial, 5);
  FindTrialFieldByKey("start.pulseBoardNumber")->SetInt(trial, 6);
  FindTrialFieldByKey("end.pulseBitNumber")->SetInt(trial, 9);
  FindTrialFieldByKey("end.eventString")->SetText(trial, "e");
  EXPECT_EQ(trial.GetTrialDuration(), 123);
  EXPECT_EQ(trial.GetWavFileBoardNumber(), 4);
  EXPECT_EQ(trial.GetWavFileBufferNumber(), 5);
  EXPECT_EQ(trial.GetStartOfTrialTTLPulseBoardNumber(), 6);
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseBoardNumber(), 0);
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseBitNumber(), 9);
  EXPECT_EQ(trial.GetEndOfTrialEventString(), "e");
  EXPECT_EQ(trial.GetStartOfTrialEventString(), "");
  trial.SetStartOfTrialEventTTLValue(77);
  EXPECT_EQ(FindTrialFieldByKey("start.eventTTLValue")->GetInt(trial), 77);
  EXPECT_EQ(FindTrialFieldByKey("end.eventTTLValue")->GetInt(trial), 0);
  // A getter of another kind gives the empty value.
  EXPECT_EQ(FindTrialFieldByKey("duration")->GetText(trial), "");
}

}  // namespace
}  // namespace orvanta::testing
