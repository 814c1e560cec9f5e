// The trial worker against a scripted channel: the order of a trial's steps
// and log lines, the completion, Start/Pause/Stop in every state, resuming
// at a later trial, and the worker's lifetime. (A stop while a reply is
// withheld: stop_with_reply_owed_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/integration/run_env.h"

namespace orvanta::testing {
namespace {

class WorkerTest : public ::testing::Test, public ModelEnv {
 protected:
  // Index of the first log text equal to `text`, or -1.
  int IndexOf(const std::string& text) const {
    const auto t = LogTexts();
    const auto it = std::find(t.begin(), t.end(), text);
    return it == t.end() ? -1 : static_cast<int>(it - t.begin());
  }
  bool TrialStarted(int n) const {
    const auto e = observer.events();
    return std::any_of(e.begin(), e.end(), [n](const std::string& s) {
      return s.rfind("trial " + std::to_string(n) + " ", 0) == 0;
    });
  }
};

TEST_F(WorkerTest, ThreeTrialsRunInOrderAndComplete) {
  AddType("A", 3, 30, 50);
  const auto start = SteadyClock::now();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  EXPECT_TRUE(trials.IsProcessing());
  ASSERT_TRUE(WaitForEnd());
  EXPECT_GE(MillisSince(start), 3 * (30 + 50));
  EXPECT_FALSE(trials.IsProcessing());

  EXPECT_EQ(LogTexts(),
            (std::vector<std::string>{"Start Trial #1", "End Trial #1", "Start Trial #2",
                                      "End Trial #2", "Start Trial #3", "End Trial #3",
                                      std::string(kRunCompletedLogText) + "1 to 3 of 3"}));
  EXPECT_EQ(
      window.model_calls(),
      (std::vector<std::string>{"AddTrialTypeToList:A", "SetCurrentTrialNumber:1",
                                "SetCurrentTrialNumber:2", "SetCurrentTrialNumber:3", "OnStop"}));
  const auto shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Trials Completed Successfully");
  EXPECT_EQ(shown[0].caption, "Trial Processing");
  EXPECT_EQ(shown[0].icon, BoxIcon::kNone);
  EXPECT_EQ(shown[0].buttons, BoxButtons::kOk);
  EXPECT_EQ(observer.events(), (std::vector<std::string>{"run 1/3", "trial 1 A", "trial 2 A",
                                                         "trial 3 A", "completed"}));
  EXPECT_EQ(scripted.count(), 0u);

  // Stop after a completed run does nothing.
  const size_t lines = LogTexts().size();
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_EQ(LogTexts().size(), lines);
}

TEST_F(WorkerTest, EveryActionOfATrialInItsOrder) {
  Trial* t = AddType("All", 1, 0, 0);
  t->SetStartOfTrialGenerateEvent(true);
  t->SetStartOfTrialEventString("go");
  t->SetStartOfTrialEventTTLValue(1);
  t->SetPlayWavFile(true);
  t->SetWavFileName("x.wav");
  t->SetStartOfTrialGenerateTTLPulse(true);
  t->SetStartOfTrialTTLPulseBitNumber(1);
  t->SetEndOfTrialGenerateTTLPulse(true);
  t->SetEndOfTrialTTLPulseBitNumber(2);
  t->SetEndOfTrialTTLPulseBoardNumber(3);
  t->SetEndOfTrialTTLPulseSubSystemName("B");
  t->SetEndOfTrialGenerateEvent(true);
  t->SetEndOfTrialEventString("stop");
  t->SetEndOfTrialEventTTLValue(2);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());

  EXPECT_EQ(scripted.commands(), (std::vector<std::string>{
                                     "-PostEvent \"go\" 1 0",
                                     "-SetDAOutputMode  \"VRXBD\" 0 BufferedOutput",
                                     "-SetDAWavFile \"VRXBD\" 0 \"x.wav\" 0",
                                     "-SelectDAWavBuffer  \"VRXBD\" 0 0",
                                     "-PlayDAWavFile \"VRXBD\" 0",
                                     "-SetDigitalIOPortDirection \"VRXBD\" 0 Output",
                                     "-SetDIOPortOutput \"VRXBD\" 0 2",
                                     "-SetDIOPortOutput \"VRXBD\" 0 0",
                                     "-SetDigitalIOPortDirection \"B\" 3 Output",
                                     "-SetDIOPortOutput \"B\" 3 4",
                                     "-SetDIOPortOutput \"B\" 3 0",
                                     "-PostEvent \"stop\" 2 0",
                                 }));
  const auto t2 = LogTexts();
  ASSERT_EQ(t2.size(), 15u);
  EXPECT_EQ(t2.front(), "Start Trial #1");
  EXPECT_EQ(t2.end()[-2], "End Trial #1");

  std::vector<std::string> steps;
  for (const auto& r : observer.commands()) {
    steps.emplace_back(RunStepName(r.step));
    EXPECT_EQ(r.trialNumber, 1);
    EXPECT_EQ(r.trialName, "All");
    EXPECT_TRUE(r.replied);
    EXPECT_EQ(r.reply, "ok " + r.command);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"start event", "wav", "wav", "wav", "wav",
                                             "start pulse", "start pulse", "start pulse",
                                             "end pulse", "end pulse", "end pulse", "end event"}));
}

TEST_F(WorkerTest, EmptyDeckCompletesAtOnce) {
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  // The model plays what it is given; the front ends refuse an empty run.
  EXPECT_EQ(LogTexts(), std::vector<std::string>{std::string(kRunCompletedLogText) + "none of 0"});
  EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Trials Completed Successfully"}));
  EXPECT_EQ(window.model_calls(), (std::vector<std::string>{"OnStop"}));
  EXPECT_FALSE(trials.IsProcessing());
}

TEST_F(WorkerTest, StopDuringTheTrialDurationEndsTheRunAtOnce) {
  Trial* t = AddType("Long", 2, 10000, 0);
  t->SetStartOfTrialGenerateEvent(true);
  t->SetEndOfTrialGenerateEvent(true);
  t->SetEndOfTrialGenerateTTLPulse(true);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitUntil([&] { return scripted.count() == 1 && LogTexts().size() == 2; }));

  const auto start = SteadyClock::now();
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_LT(MillisSince(start), 1000);
  EXPECT_FALSE(trials.IsProcessing());
  ASSERT_TRUE(WaitForEnd(1000ms));

  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(scripted.count(), 1u);  // no end pulse, no end event
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            "Start Trial #1",
                            "Sent Quorvin Event.  Event String: , TTL Value: 0, Reply: ok "
                            "-PostEvent \"\" 0 0",
                            kTerminatedLine, kWaitLine}));
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(window.model_calls().back(), "SetCurrentTrialNumber:1");
  EXPECT_EQ(observer.events().back(), "stopped");

  // A second Stop finds nothing to stop.
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_EQ(LogTexts().size(), 4u);
}

TEST_F(WorkerTest, PauseWaitsBeforeTheNextTrialUntilResumed) {
  AddType("A", 3, 40, 40);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitUntil([&] { return TrialStarted(1); }));
  EXPECT_EQ(trials.TogglePauseProcessingTrials(), 0);
  EXPECT_TRUE(trials.IsPaused());
  const std::string waiting =
      "TrialContainer::ProcessTrials() - Trial processing is paused before trial #2, waiting for "
      "Resume or Stop.";
  ASSERT_TRUE(WaitUntil([&] { return LogHas(waiting); }));
  std::this_thread::sleep_for(150ms);
  EXPECT_FALSE(TrialStarted(2));
  EXPECT_FALSE(trials.WaitForRunEnd(1ms));

  EXPECT_EQ(trials.TogglePauseProcessingTrials(), 0);
  EXPECT_FALSE(trials.IsPaused());
  ASSERT_TRUE(WaitForEnd());

  const int paused = IndexOf(
      "TrialContainer::TogglePauseProcessingTrials() - Trial processing paused, the run will wait "
      "before its next trial.");
  const int resumed =
      IndexOf("TrialContainer::TogglePauseProcessingTrials() - Trial processing resumed.");
  ASSERT_GE(paused, 0);
  EXPECT_LT(paused, IndexOf("End Trial #1"));
  EXPECT_LT(IndexOf("End Trial #1"), IndexOf(waiting));
  EXPECT_LT(IndexOf(waiting), resumed);
  EXPECT_LT(resumed, IndexOf("Start Trial #2"));
  EXPECT_EQ(LogCount("Start Trial #"), 3u);
  EXPECT_EQ(boxes.texts().size(), 1u);
}

TEST_F(WorkerTest, StopWhilePausedEndsTheRun) {
  AddType("A", 3, 10, 10);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitUntil([&] { return TrialStarted(1); }));
  trials.TogglePauseProcessingTrials();
  ASSERT_TRUE(WaitUntil([&] { return LogCount("TrialContainer::ProcessTrials() - Trial") == 1; }));
  const auto start = SteadyClock::now();
  trials.StopProcessingTrials();
  EXPECT_LT(MillisSince(start), 1000);
  EXPECT_FALSE(trials.IsPaused());
  ASSERT_TRUE(WaitForEnd(1000ms));
  EXPECT_EQ(LogCount("Start Trial #"), 1u);
  EXPECT_EQ(LogTexts().back(), kWaitLine);
  EXPECT_TRUE(boxes.boxes().empty());
}

// A pause during the last trial lets the run complete; the flags are clear
// afterwards and the next Start begins a new run.
TEST_F(WorkerTest, PauseDuringTheLastTrialLetsTheRunComplete) {
  AddType("A", 1, 60, 0);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitUntil([&] { return TrialStarted(1); }));
  trials.TogglePauseProcessingTrials();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_FALSE(trials.IsPaused());
  EXPECT_FALSE(trials.IsProcessing());
  EXPECT_EQ(trials.TogglePauseProcessingTrials(), 0);  // idle: no effect
  EXPECT_FALSE(trials.IsPaused());

  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(LogCount("Start Trial #1"), 2u);
  EXPECT_EQ(boxes.texts().size(), 2u);
}

TEST_F(WorkerTest, StartWhileRunningOrPausedDoesNothing) {
  AddType("A", 2, 50, 50);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  EXPECT_EQ(trials.StartProcessingTrials(), 0);
  trials.TogglePauseProcessingTrials();
  EXPECT_EQ(trials.StartProcessingTrials(3), 0);
  trials.TogglePauseProcessingTrials();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(LogCount("Start Trial #"), 2u);
  EXPECT_EQ(observer.events().front(), "run 1/2");
  EXPECT_EQ(boxes.texts().size(), 1u);
}

TEST_F(WorkerTest, StartAtALaterTrialKeepsTheNumbersOfTheWholeOrder) {
  AddType("A", 2, 0, 0);
  AddType("B", 3, 0, 0);
  ASSERT_EQ(trials.StartProcessingTrials(4), 0);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            "TrialContainer::ProcessTrials() - Starting at trial #4 of 5, the "
                            "trials before it are skipped.",
                            "Start Trial #4", "End Trial #4", "Start Trial #5", "End Trial #5",
                            std::string(kRunCompletedLogText) + "4 to 5 of 5"}));
  EXPECT_EQ(observer.events(),
            (std::vector<std::string>{"run 4/5", "trial 4 B", "trial 5 B", "completed"}));
  EXPECT_EQ(window.model_calls().end()[-3], "SetCurrentTrialNumber:4");

  // Beyond the last trial the run completes at once.
  ASSERT_EQ(trials.StartProcessingTrials(9), 0);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(LogCount("Start Trial #"), 2u);
  EXPECT_EQ(boxes.texts().size(), 2u);
}

TEST_F(WorkerTest, CardWithoutATrialTypeIsLoggedAndSkipped) {
  AddType("A", 1, 0, 0);
  deck.AddSuit(99);  // a suit no type belongs to; the deck is rebuilt: A, 99
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  const auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[2].text, "Start Trial #2");
  EXPECT_EQ(entries[3].tag, "-*  ERROR  *- ");
  EXPECT_EQ(entries[3].text,
            "TrialContainer::ProcessTrials() - Error, the suit ID returned from the Card Deck was "
            "not found in our list.  Suit ID: 99");
  EXPECT_EQ(boxes.texts().size(), 1u);
}

TEST_F(WorkerTest, NegativeDurationsAndIntervalsAreNoWaits) {
  AddType("A", 3, -100000, -2147483647 - 1);
  const auto start = SteadyClock::now();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd(5000ms));
  EXPECT_LT(MillisSince(start), 5000);
  EXPECT_EQ(LogCount("End Trial #"), 3u);
}

TEST_F(WorkerTest, WithoutAWindowTheRunStillEndsAndShowsItsBox) {
  windowRef.Unregister();
  AddType("A", 2, 0, 0);
  window.Clear();
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(window.calls().empty());
  EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Trials Completed Successfully"}));
  EXPECT_FALSE(trials.IsProcessing());
}

// A setting changed during the run takes effect at the next step that reads
// it.
TEST_F(WorkerTest, SettingsAreReadWhenTheirStepComes) {
  // The worker is held in the start's exchange while the end's setting
  // changes: the end step reads the new value.
  Trial* t = AddType("A", 1, 80, 0);
  t->SetStartOfTrialGenerateEvent(true);
  t->SetStartOfTrialEventString("start");
  t->SetEndOfTrialGenerateEvent(true);
  t->SetEndOfTrialEventString("before");
  scripted.Hold(true);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitUntil([&] { return scripted.IsWaiting(); }));
  t->SetEndOfTrialEventString("after");
  scripted.Hold(false);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(scripted.commands(),
            (std::vector<std::string>{"-PostEvent \"start\" 0 0", "-PostEvent \"after\" 0 0"}));
}

// The destructor stops a running run and waits for its worker, so nothing
// touches the container afterwards.
TEST_F(WorkerTest, DestroyingTheContainerStopsItsRun) {
  CardDeck ownDeck{log};
  ScriptedChannel channel;
  const auto start = SteadyClock::now();
  {
    TrialContainer own{log, ownDeck, windowRef, boxes};
    own.SetCommandChannel(&channel);
    ASSERT_EQ(own.AddTrial("X"), 0);
    Trial* x = nullptr;
    ASSERT_EQ(own.GetTrial("X", x), 0);
    x->SetTrialDuration(10000);
    channel.Hold(true);
    x->SetStartOfTrialGenerateEvent(true);
    ASSERT_EQ(own.StartProcessingTrials(), 0);
    ASSERT_TRUE(WaitUntil([&] { return channel.IsWaiting(); }));
  }
  EXPECT_LT(MillisSince(start), 3000);
  EXPECT_EQ(LogTexts().back(), kWaitLine);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(WorkerTest, PauseAndStopFromIdleDoNothing) {
  EXPECT_EQ(trials.TogglePauseProcessingTrials(), 0);
  EXPECT_FALSE(trials.IsPaused());
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_TRUE(LogTexts().empty());
  EXPECT_TRUE(trials.WaitForRunEnd(0ms));
}

}  // namespace
}  // namespace orvanta::testing
