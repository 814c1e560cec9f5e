#include "trials/trial_container.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "trials_env.h"

namespace orvanta {
namespace {

using Cards = std::vector<int32_t>;
using Names = std::vector<std::string>;

class TrialContainerTest : public ::testing::Test {
 protected:
  TrialContainer& trials() { return env_.trials; }
  CardDeck& deck() { return env_.deck; }
  Trial* Get(const std::string& name) {
    Trial* trial = nullptr;
    EXPECT_EQ(trials().GetTrial(name, trial), 0) << name;
    return trial;
  }
  int32_t SuitOf(const std::string& name) {
    int32_t id = -1;
    EXPECT_EQ(trials().GetSuitID(name, id), 0) << name;
    return id;
  }

  testing::TrialsEnv env_;
};

// The 22 lines of a type with every default, trial count 1.
std::string DefaultLines(const std::string& name) {
  const std::pair<const char*, const char*> lines[] = {
      {"-AddTrial", nullptr},
      {"-SetTrialCount", "1"},
      {"-SetTrialDuration", "2000"},
      {"-SetInterTrialInterval", "5000"},
      {"-SetPlayWavFile", "false"},
      {"-SetWavFileBufferNumber", "0"},
      {"-SetWavFileBoardNumber", "0"},
      {"-SetWavFileSubSystemName", "\"VRXBD\""},
      {"-SetStartOfTrialGenerateEvent", "false"},
      {"-SetStartOfTrialEventTTLValue", "0"},
      {"-SetStartOfTrialGenerateTTLPulse", "false"},
      {"-SetStartOfTrialTTLPulseBitNumber", "0"},
      {"-SetStartOfTrialTTLPulseDuration", "0"},
      {"-SetStartOfTrialTTLPulseBoardNumber", "0"},
      {"-SetStartOfTrialTTLPulseSubSystemName", "\"VRXBD\""},
      {"-SetEndOfTrialGenerateEvent", "false"},
      {"-SetEndOfTrialEventTTLValue", "0"},
      {"-SetEndOfTrialGenerateTTLPulse", "false"},
      {"-SetEndOfTrialTTLPulseBitNumber", "0"},
      {"-SetEndOfTrialTTLPulseDuration", "0"},
      {"-SetEndOfTrialTTLPulseBoardNumber", "0"},
      {"-SetEndOfTrialTTLPulseSubSystemName", "\"VRXBD\""},
  };
  std::string text;
  for (const auto& [command, value] : lines) {
    text += std::string(command) + " \"" + name + "\"" + (value ? std::string(" ") + value : "") +
            "\r\n";
  }
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size());
  return lines;
}

TEST(TrialTest, DefaultsAndSettersStoreValuesUnchanged) {
  Trial trial;
  EXPECT_EQ(trial.GetName(), "");
  EXPECT_EQ(trial.GetTrialDuration(), 2000);
  EXPECT_EQ(trial.GetInterTrialInterval(), 5000);
  EXPECT_EQ(trial.GetStartOfTrialTTLPulseSubSystemName(), "VRXBD");
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseSubSystemName(), "VRXBD");
  EXPECT_EQ(trial.GetWavFileSubSystemName(), "VRXBD");
  EXPECT_FALSE(trial.GetPlayWavFile());
  trial.SetTrialDuration(-3);
  trial.SetEndOfTrialTTLPulseBitNumber(40);
  EXPECT_EQ(trial.GetTrialDuration(), -3);
  EXPECT_EQ(trial.GetEndOfTrialTTLPulseBitNumber(), 40);
}

// The worker reads settings while the editor writes them: every read sees
// one whole value.
TEST(TrialTest, SettingsAreSafeAcrossThreads) {
  Trial trial;
  const std::string a(64, 'a'), b(100, 'b');
  std::atomic<bool> stop{false};
  std::thread editor([&] {
    for (int i = 0; i < 20000; ++i) trial.SetStartOfTrialEventString(i % 2 ? a : b);
    stop = true;
  });
  int reads = 0;
  while (!stop || reads == 0) {
    const std::string seen = trial.GetStartOfTrialEventString();
    ASSERT_TRUE(seen.empty() || seen == a || seen == b) << seen;
    ++reads;
  }
  editor.join();
}

// The nominal lengths by which the window and the runner count the time left,
// and the snapshot of a run as the worker reports it.
TEST_F(TrialContainerTest, RunProgressAndNominalLengths) {
  ASSERT_EQ(trials().AddTrial("A"), 0);
  ASSERT_EQ(trials().AddTrial("B"), 0);
  ASSERT_EQ(deck().SetNumCardsInSuit(SuitOf("A"), 2), 0);
  Get("A")->SetTrialDuration(30);
  Get("A")->SetInterTrialInterval(10);
  Get("A")->SetStartOfTrialGenerateTTLPulse(true);
  Get("A")->SetStartOfTrialTTLPulseDuration(5);
  Get("B")->SetTrialDuration(-7);  // counts 0
  Get("B")->SetInterTrialInterval(0);
  const std::vector<int64_t> lengths = NominalTrialLengths(trials(), deck());
  EXPECT_EQ(lengths, (std::vector<int64_t>{45, 45, 0}));
  EXPECT_EQ(RemainingRunMs(lengths, 1, 0), 90);
  EXPECT_EQ(RemainingRunMs(lengths, 2, 20), 25);
  EXPECT_EQ(RemainingRunMs(lengths, 2, 400), 0);  // at most the trial's own length
  EXPECT_EQ(FormatRunDuration(3905000), "1:05:05");
  EXPECT_EQ(FormatRunDuration(59499), "0:59");

  EXPECT_EQ(trials().GetRunProgress().state, RunProgress::State::kIdle);
  ASSERT_EQ(trials().StartProcessingTrials(2), 0);
  ASSERT_TRUE(trials().WaitForRunEnd(std::chrono::seconds(10)));
  const RunProgress progress = trials().GetRunProgress();
  EXPECT_EQ(progress.state, RunProgress::State::kCompleted);
  EXPECT_EQ(progress.firstTrial, 2);
  EXPECT_EQ(progress.numTrials, 3);
  EXPECT_EQ(progress.trial, 3);
  EXPECT_EQ(progress.trialName, "B");
  EXPECT_GE(progress.ElapsedMs(std::chrono::steady_clock::now()), 40);
}

TEST_F(TrialContainerTest, SuitIDsAreNeverReused) {
  for (const char* name : {"X", "Y", "Z"}) ASSERT_EQ(trials().AddTrial(name), 0);
  EXPECT_EQ(SuitOf("X"), 0);
  EXPECT_EQ(SuitOf("Y"), 1);
  EXPECT_EQ(SuitOf("Z"), 2);
  ASSERT_EQ(trials().RemoveTrial("Y"), 0);
  ASSERT_EQ(trials().AddTrial("W"), 0);
  EXPECT_EQ(SuitOf("W"), 3);
  EXPECT_EQ(trials().GetTrialNames(), (Names{"X", "Z", "W"}));
  EXPECT_EQ(deck().GetOrder(), (Cards{0, 2, 3}));
  EXPECT_EQ(env_.window.model_calls(),
            (Names{"AddTrialTypeToList:X", "AddTrialTypeToList:Y", "AddTrialTypeToList:Z",
                   "RemoveTrialTypeFromList:Y", "AddTrialTypeToList:W"}));
  env_.windowRef.Unregister();  // no window: nothing is told, nothing breaks
  ASSERT_EQ(trials().RemoveTrial("W"), 0);
  ASSERT_EQ(trials().AddTrial("W"), 0);
  EXPECT_EQ(SuitOf("W"), 4);
  EXPECT_EQ(env_.window.model_calls().size(), 5u);

  Trial* trial = nullptr;
  ASSERT_EQ(trials().GetTrial(4, trial), 0);
  EXPECT_EQ(trial, Get("W"));
  EXPECT_EQ(trials().GetTrial(1, trial), -1);
  env_.ExpectLastError(
      "TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the suit id was "
      "not found.  Suit ID: 1");
  EXPECT_EQ(
      trials().GetMessage(),
      "TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the suit id "
      "was not found.  Suit ID: 1");
}

TEST_F(TrialContainerTest, NamesAreCaseSensitiveAndUnique) {
  ASSERT_EQ(trials().AddTrial("a"), 0);
  ASSERT_EQ(trials().AddTrial("A"), 0);
  EXPECT_FALSE(trials().IsTrialNameUnused("a"));
  EXPECT_TRUE(trials().IsTrialNameUnused("a "));
  deck().Shuffle();
  const Cards shuffled = deck().GetOrder();
  EXPECT_EQ(trials().AddTrial("A"), -1);
  env_.ExpectLastError(
      "TrialContainer::AddTrial() - Error, unable to add new trial to list, the trial name is "
      "already in use.  Name: A");
  EXPECT_EQ(trials().GetNumTrials(), 2);
  EXPECT_EQ(deck().GetOrder(), shuffled);
  EXPECT_EQ(env_.window.model_calls().size(), 2u);
}

TEST_F(TrialContainerTest, FailureMessages) {
  ASSERT_EQ(trials().AddTrial("X"), 0);
  Trial* trial = nullptr;
  int32_t id = -1;
  const std::pair<int, std::string> cases[] = {
      {trials().AddTrial(""),
       "TrialContainer::AddTrial() - Error, unable to add new trial to list, the trial name is "
       "blank.  Name: "},
      {trials().RemoveTrial(""),
       "TrialContainer::RemoveTrial() - Error, unable to remove trial from list, the trial name is "
       "blank.  Name: "},
      {trials().RemoveTrial("x"),
       "TrialContainer::RemoveTrial() - Error, unable to remove trial from the list, the trial "
       "name "
       "was not found.  Name: x"},
      {trials().GetTrial("", trial),
       "TrialContainer::GetTrial() - Error, unable to retrieve trial from list, the trial name is "
       "blank.  Name: "},
      {trials().GetTrial("Q", trial),
       "TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the trial name "
       "was not found.  Name: Q"},
      {trials().GetSuitID("", id),
       "TrialContainer::GetSuitID() - Error, unable to suite II, the trial name is blank.  Name: "},
      {trials().GetSuitID("Q", id),
       "TrialContainer::GetSuitID() - Error, unable to get suit ID, the trial name was not found.  "
       "Name: Q"},
  };
  const std::vector<std::string> entries = env_.LogEntries();
  ASSERT_EQ(entries.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].first, -1);
    EXPECT_EQ(entries[i], "-*  ERROR  *-  09:05:03.007 - " + cases[i].second);
  }
  EXPECT_EQ(trial, nullptr);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(trials().GetTrialNames(), Names{"X"});
}

TEST_F(TrialContainerTest, DeckFollowsAdditionsAndRemovals) {
  for (const char* name : {"X", "Y", "Z"}) ASSERT_EQ(trials().AddTrial(name), 0);
  for (const char* name : {"X", "Y", "Z"}) deck().SetNumCardsInSuit(SuitOf(name), 2);
  ASSERT_EQ(deck().Shuffle(), 0);
  Cards expected = deck().GetOrder();
  ASSERT_EQ(trials().RemoveTrial("Y"), 0);
  std::erase(expected, 1);
  EXPECT_EQ(deck().GetOrder(), expected);  // the others keep their shuffled order
  ASSERT_EQ(trials().AddTrial("W"), 0);
  EXPECT_EQ(deck().GetOrder(), (Cards{0, 0, 2, 2, 3}));  // an addition rebuilds unshuffled
}

TEST_F(TrialContainerTest, TypeSetupLines) {
  ASSERT_EQ(trials().AddTrial("Tone"), 0);
  Trial* tone = Get("Tone");
  const std::string defaults = tone->GetSetupFileLines(trials(), deck());
  EXPECT_EQ(defaults, DefaultLines("Tone"));
  EXPECT_EQ(Lines(defaults).size(), 22u);

  tone->SetStartOfTrialEventString("go \"now\"");  // written unescaped
  tone->SetStartOfTrialGenerateEvent(true);
  deck().SetNumCardsInSuit(SuitOf("Tone"), 5);
  const std::vector<std::string> lines = Lines(tone->GetSetupFileLines(trials(), deck()));
  ASSERT_EQ(lines.size(), 23u);
  EXPECT_EQ(lines[1], "-SetTrialCount \"Tone\" 5");
  EXPECT_EQ(lines[8], "-SetStartOfTrialGenerateEvent \"Tone\" true");
  EXPECT_EQ(lines[9], "-SetStartOfTrialEventString \"Tone\" \"go \"now\"\"");
  EXPECT_EQ(lines[10], "-SetStartOfTrialEventTTLValue \"Tone\" 0");

  tone->SetWavFileName("beep.wav");
  tone->SetEndOfTrialEventString("end");
  const std::vector<std::string> all = Lines(tone->GetSetupFileLines(trials(), deck()));
  ASSERT_EQ(all.size(), 25u);
  EXPECT_EQ(all[5], "-SetWavFileName \"Tone\" \"beep.wav\"");
  EXPECT_EQ(all[18], "-SetEndOfTrialEventString \"Tone\" \"end\"");

  // A type outside the list has no count to write; the lookup says why.
  Trial ghost;
  ghost.SetName("Ghost");
  EXPECT_EQ(Lines(ghost.GetSetupFileLines(trials(), deck())).size(), 21u);
  env_.ExpectLastError(
      "TrialContainer::GetSuitID() - Error, unable to get suit ID, the trial name was not found.  "
      "Name: Ghost");
}

TEST_F(TrialContainerTest, ListSetupLinesInListOrder) {
  EXPECT_EQ(trials().GetSetupFileLines(), "");
  for (const char* name : {"X", "Y", "Z"}) ASSERT_EQ(trials().AddTrial(name), 0);
  ASSERT_EQ(trials().RemoveTrial("Y"), 0);
  ASSERT_EQ(trials().AddTrial("W"), 0);
  EXPECT_EQ(trials().GetSetupFileLines(),
            DefaultLines("X") + "\r\n" + DefaultLines("Z") + "\r\n" + DefaultLines("W") + "\r\n");
}

TEST_F(TrialContainerTest, DeckSetupLines) {
  for (const char* name : {"X", "Y", "Z"}) ASSERT_EQ(trials().AddTrial(name), 0);
  deck().SetNumCardsInSuit(0, 3);
  deck().SetNumCardsInSuit(2, 2);
  ASSERT_EQ(deck().Shuffle(), 0);  // X Z X Y Z X
  EXPECT_EQ(deck().GetSetupFileLines(trials()),
            "-SetShuffleType Normal\r\n-SetShuffleMaxConsecutiveTypeCount 1\r\n"
            "-SetTrialOrder \"X\" 0\r\n-SetTrialOrder \"Z\" 1\r\n-SetTrialOrder \"X\" 2\r\n"
            "-SetTrialOrder \"Y\" 3\r\n-SetTrialOrder \"Z\" 4\r\n-SetTrialOrder \"X\" 5\r\n");

  deck().SetShuffleType(Group);
  deck().SetMaxConsectutiveSameSuitCards(3);
  deck().AddSuit(99);  // a suit without a type writes no order line
  const std::vector<std::string> lines = Lines(deck().GetSetupFileLines(trials()));
  ASSERT_EQ(lines.size(), 2u + 6u);
  EXPECT_EQ(lines[0], "-SetShuffleType Group");
  EXPECT_EQ(lines[1], "-SetShuffleMaxConsecutiveTypeCount 3");
  EXPECT_EQ(lines[2], "-SetTrialOrder \"X\" 0");
  env_.ExpectLastError(
      "TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the suit id was "
      "not found.  Suit ID: 99");
}

}  // namespace
}  // namespace orvanta
