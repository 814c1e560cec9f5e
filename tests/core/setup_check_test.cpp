// The setup check over the field table: every checked value outside its
// range gives its sentence, in the order of the checks, and only while the
// action it belongs to is switched on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/program_core.h"
#include "core/setup_check.h"
#include "fakes/fakes.h"
#include "fakes/temp_folder.h"
#include "trials/trial.h"

namespace orvanta::testing {
namespace {

class SetupCheckTest : public ::testing::Test {
 protected:
  SetupCheckTest() : clock(LocalTime{2015, 2, 3, 4, 5, 6, 7}) { windowRef.Register(&window); }

  Trial* AddType(const std::string& name) {
    Trial* trial = nullptr;
    int32_t suit = -1;
    EXPECT_EQ(core.trials().AddTrial(name), 0);
    EXPECT_EQ(core.trials().GetTrial(name, trial), 0);
    EXPECT_EQ(core.trials().GetSuitID(name, suit), 0);
    EXPECT_EQ(core.deck().SetNumCardsInSuit(suit, 1), 0);
    return trial;
  }

  TempFolder folder{"orvanta-check-"};
  FixedClock clock;
  RecordingMessageBoxes boxes;
  RecordingWindow window;
  MainWindowRef windowRef;
  FakeShellOpener shell;
  ProgramCore core{{clock, boxes, windowRef, shell}, "/lab/"};
};

TEST_F(SetupCheckTest, EveryValueOutsideItsRangeInTheOrderOfTheChecks) {
  Trial* t = AddType("P");
  ASSERT_EQ(core.log().SetLogFilename(folder.path() + "/log.txt"), 0);
  t->SetTrialDuration(-1);
  t->SetInterTrialInterval(-2);
  for (const EdgeSide side : {EdgeSide::kEnd, EdgeSide::kStart}) {
    TrialEdge edge;
    edge.generateTTLPulse = true;
    edge.pulseBitNumber = side == EdgeSide::kStart ? 16 : -1;
    edge.pulseDuration = -3;
    edge.pulseBoardNumber = -4;
    t->SetEdge(side, edge);
  }
  t->SetPlayWavFile(true);
  t->SetWavFileBufferNumber(-5);
  t->SetWavFileBoardNumber(-6);
  const std::string p = "Trial type \"P\": ";
  EXPECT_EQ(FindSetupProblems(core, 1),
            (std::vector<std::string>{
                p + "the trial duration is negative (-1 ms); it would be run as 0.",
                p + "the inter-trial interval is negative (-2 ms); it would be run as 0.",
                p + "the start pulse's bit number is 16, outside 0..15: the pulse would set no "
                    "bit.",
                p + "the start pulse's duration is negative (-3 ms); it would be run as 0.",
                p + "the start pulse's board number is negative (-4).",
                p + "the end pulse's bit number is -1, outside 0..15: the pulse would set no bit.",
                p + "the end pulse's duration is negative (-3 ms); it would be run as 0.",
                p + "the end pulse's board number is negative (-4).",
                p + "wav playback is switched on, but no wav file is set.",
                p + "the wav playback's board number is negative (-6).",
                p + "the wav playback's buffer number is negative (-5).",
            }));

  // Switched off, the pulses and the wav have nothing to report; the edges
  // of the range are inside it.
  t->SetStartOfTrialGenerateTTLPulse(false);
  t->SetEndOfTrialGenerateTTLPulse(false);
  t->SetPlayWavFile(false);
  t->SetTrialDuration(0);
  t->SetInterTrialInterval(0);
  EXPECT_EQ(FindSetupProblems(core, 1), std::vector<std::string>{});
  t->SetEndOfTrialGenerateTTLPulse(true);
  t->SetEndOfTrialTTLPulseBitNumber(15);
  t->SetEndOfTrialTTLPulseDuration(0);
  t->SetEndOfTrialTTLPulseBoardNumber(0);
  EXPECT_EQ(FindSetupProblems(core, 1), std::vector<std::string>{});
}

// A type's trigger problems follow its field problems, before the next
// type's; the object is compared with the server's objects only when they
// are given.
TEST_F(SetupCheckTest, TriggerProblemsFollowTheirTypesFields) {
  ASSERT_EQ(core.log().SetLogFilename(folder.path() + "/log.txt"), 0);
  Trial* a = AddType("A");
  AddType("B")->SetTrialDuration(-1);
  a->SetTrialDuration(-1);
  a->SetStartTrigger({true, "SE9", 4, 2, 0, TriggerTimeout::kPlay});
  const std::string t = "Trial type \"A\": the start trigger";
  const std::vector<std::string> problems = {
      "Trial type \"A\": the trial duration is negative (-1 ms); it would be run as 0.",
      t + "'s window (2 ms) is too short for 4 records at any rate (they need at least 3 ms), so "
          "every wait would time out.",
      t + "'s timeout is 0 ms; the trial would never wait for its records.",
      "Trial type \"B\": the trial duration is negative (-1 ms); it would be run as 0."};
  EXPECT_EQ(FindSetupProblems(core, 1), problems);
  std::vector<std::string> unknown = problems;
  unknown.insert(unknown.begin() + 1, t + "'s object \"SE9\" is not one of the server's objects.");
  EXPECT_EQ(FindSetupProblems(core, 1, {"SE1", "CSC1"}), unknown);
  EXPECT_EQ(FindSetupProblems(core, 1, {"SE9"}), problems);

  // Switched off, the trigger has nothing to report.
  a->SetStartTrigger({false, "", 0, -1, 0, TriggerTimeout::kSkip});
  EXPECT_EQ(FindSetupProblems(core, 1).size(), 2u);
}

}  // namespace
}  // namespace orvanta::testing
