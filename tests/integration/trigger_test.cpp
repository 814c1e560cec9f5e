// Start triggers on the trial worker: a trial waits for records of its
// trigger object, fed here by the test into the real matcher behind a
// scripted trigger source; time-outs that play or skip, Stop and Pause
// during a wait, and a trigger object that cannot be opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "tests/integration/run_env.h"
#include "trigger/trigger_gate.h"

namespace orvanta::testing {
namespace {

// The real gate, with the streams' side scripted: objects in `listed` open,
// others fail as the server's missing object does.
class ScriptedTriggers : public TriggerSource {
 public:
  std::vector<std::string> listed{"SE1", "SE2"};

  bool OpenObjects(const std::vector<std::string>& objects, const StopSignal*,
                   std::string& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& object : objects) {
      if (std::find(listed.begin(), listed.end(), object) == listed.end()) {
        error = "the acquisition server does not list the object \"" + object + "\".";
        return false;
      }
      if (std::find(open_.begin(), open_.end(), object) == open_.end()) open_.push_back(object);
    }
    return true;
  }
  void CloseObjects(std::chrono::milliseconds) override {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = open_;
    open_.clear();
  }
  void Arm(const std::string& object, int32_t count, int32_t windowMs) override {
    gate.Arm(object, count, windowMs);
    ++arms;
  }
  TriggerWaitEnd WaitUntil(TimePoint deadline, TimePoint& arrivedAt) override {
    return gate.WaitUntil(deadline, arrivedAt);
  }
  void Disarm() override { gate.Disarm(); }
  void Interrupt() override { gate.Interrupt(); }

  std::vector<std::string> closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }

  TriggerGate gate;
  std::atomic<int> arms{0};

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> open_;
  std::vector<std::string> closed_;
};

class TriggerTest : public ::testing::Test, public ModelEnv {
 protected:
  TriggerTest() { trials.SetTriggerSource(&triggers); }
  ~TriggerTest() override { core.StopRun(); }

  // A type whose start posts an event, waiting for `trigger`.
  Trial* AddTriggered(const std::string& name, int32_t count, TrialTrigger trigger) {
    Trial* t = AddType(name, count, 0, 0);
    t->SetStartOfTrialGenerateEvent(true);
    t->SetStartOfTrialEventString("go");
    trigger.enabled = true;
    t->SetStartTrigger(trigger);
    return t;
  }
  bool ArmedTimes(int n) {
    return WaitUntil([&] { return triggers.arms.load() >= n; });
  }

  ScriptedTriggers triggers;
};

TEST_F(TriggerTest, TheStartWaitsForTheCountOfItsObjectsRecordsWithinTheWindow) {
  AddTriggered("A", 1, {.object = "SE1", .count = 2, .windowMs = 5000});
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(ArmedTimes(1));
  triggers.gate.OnRecord("SE2");  // another object does not count
  triggers.gate.OnRecord("SE1");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(scripted.count(), 0u);  // one of two
  triggers.gate.OnRecord("SE1");
  ASSERT_TRUE(WaitForEnd());

  EXPECT_EQ(scripted.commands(), (std::vector<std::string>{"-PostEvent \"go\" 0 0"}));
  EXPECT_EQ(observer.events(),
            (std::vector<std::string>{"run 1/1", "trial 1 A", "trigger 1 fired", "completed"}));
  const auto fired = observer.triggers();
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].object, "SE1");
  ASSERT_TRUE(fired[0].hasLatency);
  EXPECT_EQ(fired[0].latency, observer.commands()[0].sentAt - fired[0].arrivedAt);
  EXPECT_GE(fired[0].latency.count(), 0);
  const auto texts = LogTexts();
  EXPECT_EQ(texts[1],
            "TrialContainer::ProcessTrials() - Trial #1 waits for its start trigger: 2 records of "
            "SE1 within 5000 ms, timeout 10000 ms.");
  EXPECT_EQ(texts[3].rfind("TrialContainer::ProcessTrials() - Trial #1 started on its trigger, "
                           "the deciding record of SE1 arrived ",
                           0),
            0u)
      << texts[3];
  EXPECT_EQ(boxes.boxes().at(0).text, "Trials Completed Successfully");
  EXPECT_EQ(triggers.closed(), (std::vector<std::string>{"SE1"}));
  EXPECT_EQ(observer.end().triggerWaits, 1);
}

struct TimeoutCase {
  TriggerTimeout onTimeout;
  std::vector<std::string> commands;
  const char* box;
};

class TriggerTimeoutTest : public TriggerTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(TriggerTimeoutTest, ATimedOutWaitPlaysOrSkipsItsTrialAndQualifiesTheRun) {
  AddTriggered("A", 2, {.object = "SE1", .timeoutMs = 20, .onTimeout = GetParam().onTimeout});
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(scripted.commands(), GetParam().commands);
  const bool skip = GetParam().onTimeout == TriggerTimeout::kSkip;
  const std::string warning =
      std::string(
          "TrialContainer::ProcessTrials() - Warning, the start trigger of trial #2 timed "
          "out after 20 ms without 1 record of SE1; the trial is ") +
      (skip ? "skipped." : "played anyway.");
  const auto entries = LogEntries();
  EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const LogEntry& e) {
    return e.text == warning && e.tag.find("WARNING") != std::string::npos;
  }));
  const auto texts = LogTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "End Trial #1"), skip ? 0 : 1);
  EXPECT_EQ(boxes.boxes().at(0).text, GetParam().box);
  EXPECT_EQ(observer.triggers().at(1).outcome,
            skip ? TriggerOutcome::kTimedOutSkipped : TriggerOutcome::kTimedOutPlayed);
}

INSTANTIATE_TEST_SUITE_P(
    PlayOrSkip, TriggerTimeoutTest,
    ::testing::Values(
        TimeoutCase{TriggerTimeout::kPlay,
                    {"-PostEvent \"go\" 0 0", "-PostEvent \"go\" 0 0"},
                    "Trials completed with start triggers that timed out.\r\n\r\nStart triggers "
                    "timed out: 2 of 2, 0 trials skipped."},
        TimeoutCase{TriggerTimeout::kSkip,
                    {},
                    "Trials completed with start triggers that timed out.\r\n\r\nStart triggers "
                    "timed out: 2 of 2, 2 trials skipped."}));

TEST_F(TriggerTest, StopEndsAWaitAtOnceAndPauseWaitsAnewOnceResumed) {
  AddTriggered("A", 2, {.object = "SE1"});
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(ArmedTimes(1));
  // Pause: the wait ends, a record while paused starts nothing, and the
  // resumed run waits anew.
  trials.TogglePauseProcessingTrials();
  ASSERT_TRUE(WaitUntil([&] {
    const auto t = LogTexts();
    return std::find(t.begin(), t.end(),
                     "TrialContainer::ProcessTrials() - Trial processing is paused before trial "
                     "#1, waiting for Resume or Stop.") != t.end();
  }));
  triggers.gate.OnRecord("SE1");
  const int armsWhilePaused = triggers.arms.load();
  trials.TogglePauseProcessingTrials();
  ASSERT_TRUE(ArmedTimes(armsWhilePaused + 1));
  EXPECT_EQ(scripted.count(), 0u);
  triggers.gate.OnRecord("SE1");
  ASSERT_TRUE(WaitUntil([&] { return scripted.count() == 1; }));
  ASSERT_TRUE(ArmedTimes(armsWhilePaused + 2));  // trial 2 waits

  const auto start = SteadyClock::now();
  EXPECT_EQ(trials.StopProcessingTrials(), 0);
  EXPECT_LT(MillisSince(start), 500);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(scripted.count(), 1u);
  EXPECT_EQ(observer.end().outcome, RunOutcome::kStopped);
  EXPECT_EQ(triggers.closed(), (std::vector<std::string>{"SE1"}));
}

TEST_F(TriggerTest, AnObjectThatCannotBeOpenedFailsTheRunBeforeItsFirstTrial) {
  AddTriggered("A", 1, {.object = "SE9"});
  AddType("B", 1, 0, 0);
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  const std::string failure =
      "The start triggers could not be set up: the acquisition server does not list the object "
      "\"SE9\".";
  EXPECT_EQ(boxes.boxes().at(0).text, failure);
  EXPECT_EQ(boxes.boxes().at(0).icon, BoxIcon::kError);
  EXPECT_EQ(observer.events(), (std::vector<std::string>{"run 1/2", "failed"}));
  EXPECT_EQ(LogTexts().at(0), "TrialContainer::ProcessTrials() - Error, " + failure);
  EXPECT_EQ(scripted.count(), 0u);
}

}  // namespace
}  // namespace orvanta::testing

namespace orvanta::testing {
namespace {

// The whole loop against the simulator: the run opens SE1's stream, the
// simulator sends a burst of three SE1 records, and the start commands come
// back after the third.
class TriggerSimTest : public ::testing::Test, public ModelEnv {
 protected:
  void SetUp() override {
    sim::ScheduledRecords burst;
    burst.object = "SE1";
    burst.atMs = {300, 310, 320};
    simOptions.schedules.push_back(burst);
    ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  }
  std::vector<TranscriptLine> Lines(const std::string& kind) const {
    std::vector<TranscriptLine> out;
    for (TranscriptLine& l : TranscriptLines(transcript))
      if (l.kind == kind) out.push_back(std::move(l));
    return out;
  }
};

TEST_F(TriggerSimTest, TheStartCommandsComeBackAfterTheDecidingRecord) {
  Trial* t = AddType("A", 1, 0, 0);
  t->SetStartOfTrialGenerateEvent(true);
  t->SetStartOfTrialEventString("go");
  t->SetStartOfTrialGenerateTTLPulse(true);
  t->SetStartOfTrialTTLPulseDuration(5);
  t->SetStartTrigger({.enabled = true, .object = "SE1", .count = 3, .windowMs = 50});
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());

  EXPECT_EQ(CommandTexts(),
            (std::vector<std::string>{
                "-RequestQuorvinObjects", "-RequestQuorvinTypes", "-OpenStream SE1 SEScAcqEnt",
                "-PostEvent \"go\" 0 0", "-SetDigitalIOPortDirection \"VRXBD\" 0 Output",
                "-SetDIOPortOutput \"VRXBD\" 0 1", "-SetDIOPortOutput \"VRXBD\" 0 0",
                "-CloseStream SE1 SEScAcqEnt"}));
  const auto records = Lines("record");
  ASSERT_EQ(records.size(), 3u);
  const auto post = CommandsStartingWith("-PostEvent");
  ASSERT_EQ(post.size(), 1u);
  EXPECT_GE(post[0].timeUs, records[2].timeUs);
  EXPECT_NE(post[0].note.find("seq=3 object=SE1"), std::string::npos) << post[0].note;
  const auto fired = observer.triggers();
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0].outcome, TriggerOutcome::kFired);
  EXPECT_TRUE(fired[0].hasLatency);
  EXPECT_EQ(boxes.boxes().at(0).text, "Trials Completed Successfully");
}

TEST_F(TriggerSimTest, AnObjectTheServerDoesNotListFailsTheRunsStart) {
  AddType("A", 1, 0, 0)->SetStartTrigger({.enabled = true, .object = "SE9"});
  ASSERT_EQ(trials.StartProcessingTrials(), 0);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(boxes.boxes().at(0).text,
            "The start triggers could not be set up: the acquisition server does not list the "
            "object \"SE9\".  Its objects: SE1, SE2, ST1, TT1, CSC1, CSC2, CSC Reference, VT1, "
            "Digital Events.");
  EXPECT_EQ(CommandTexts(),
            (std::vector<std::string>{"-RequestQuorvinObjects", "-RequestQuorvinTypes"}));
  EXPECT_EQ(observer.end().outcome, RunOutcome::kFailed);
}

}  // namespace
}  // namespace orvanta::testing
