// ProgramCore on its own: the objects it builds use the seams handed in,
// trial commands go to the server through its client, and tearing it down in
// the middle of a run stops and joins the run before anything goes.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/program_core.h"
#include "fakes/fakes.h"
#include "fakes/sim_transcript.h"
#include "fakes/temp_folder.h"
#include "fakes/wait.h"
#include "trials/trial.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

class ProgramCoreTest : public ::testing::Test {
 protected:
  ProgramCoreTest() : clock(LocalTime{2015, 2, 3, 4, 5, 6, 7}) { windowRef.Register(&window); }

  // Adds a type of `count` trials of `duration` ms with a start event.
  static Trial* AddEventType(ProgramCore& core, const std::string& name, int32_t count,
                             int32_t duration) {
    Trial* trial = nullptr;
    int32_t suit = -1;
    EXPECT_EQ(core.trials().AddTrial(name), 0);
    EXPECT_EQ(core.trials().GetTrial(name, trial), 0);
    EXPECT_EQ(core.trials().GetSuitID(name, suit), 0);
    EXPECT_EQ(core.deck().SetNumCardsInSuit(suit, count), 0);
    trial->SetTrialDuration(duration);
    trial->SetInterTrialInterval(0);
    trial->SetStartOfTrialGenerateEvent(true);
    trial->SetStartOfTrialEventString(name + " on");
    trial->SetStartOfTrialEventTTLValue(1);
    return trial;
  }

  TempFolder folder{"orvanta-core-"};
  FixedClock clock;
  RecordingMessageBoxes boxes;
  RecordingWindow window;  // outlives every core below
  MainWindowRef windowRef;
  FakeShellOpener shell;
};

TEST_F(ProgramCoreTest, TheObjectsUseTheSeamsHandedIn) {
  ProgramCore core({clock, boxes, windowRef, shell}, "/lab/");
  EXPECT_EQ(&core.seams().clock, &clock);
  EXPECT_EQ(&core.seams().boxes, &boxes);
  EXPECT_EQ(&core.seams().mainWindow, &windowRef);
  EXPECT_EQ(&core.seams().shell, &shell);
  EXPECT_EQ(core.applicationDirectory(), "/lab/");

  // The log stamps with the clock and echoes to the window in the slot; View
  // Log File goes to the opener.
  ASSERT_EQ(core.log().SetLogFilename(folder.path() + "/log.txt"), 0);
  core.log().WriteLogEntry(kLogNotice, "through the seams");
  ASSERT_FALSE(window.log_lines().empty());
  EXPECT_EQ(window.log_lines().back(), "-* NOTICE  *-  04:05:06.007 - through the seams");
  core.log().ViewLogFile();
  EXPECT_EQ(shell.opened(), std::vector<std::string>{core.log().GetFilePath()});

  // The setup runner, the interpreter and the trial list are one model: a
  // failing setup file shows its box through the boxes handed in, and the
  // type its first line added is in the list the window was told of.
  const std::string setup = folder.path() + "/setup.txt";
  {
    std::FILE* file = std::fopen(setup.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("-AddTrial \"Tone\"\r\n-SetTrialCount \"Nothing\" 3\r\n", file);
    std::fclose(file);
  }
  EXPECT_NE(core.config().ProcessScript(setup), 0);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].caption, "Configuration File Error");
  EXPECT_EQ(core.trials().GetTrialNames(), std::vector<std::string>{"Tone"});
  EXPECT_EQ(window.model_calls().front(), "AddTrialTypeToList:Tone");
}

TEST_F(ProgramCoreTest, TrialCommandsGoToTheServerThroughTheClient) {
  sim::SimOptions options;
  options.negotiation_enabled = false;
  options.negotiation_port = 0;
  options.message_port = 0;
  options.quiet = true;
  sim::Transcript transcript;
  std::unique_ptr<sim::SimServer> server;
  ASSERT_NO_FATAL_FAILURE(StartSimServer(options, transcript, server));
  {
    ProgramCore core({clock, boxes, windowRef, shell});
    ASSERT_TRUE(core.client().ConnectToServer("127.0.0.1", false, 0, server->message_port()));
    AddEventType(core, "Tone", 2, 1);
    ASSERT_EQ(core.trials().StartProcessingTrials(), 0);
    ASSERT_TRUE(core.trials().WaitForRunEnd(10000ms));
  }
  ASSERT_TRUE(WaitUntil([&] {
    return static_cast<int64_t>(TranscriptCommands(transcript).size()) >=
           server->commands_received();
  }));
  size_t events = 0;
  for (const TranscriptLine& line : TranscriptCommands(transcript))
    if (line.text == "-PostEvent \"Tone on\" 1 0") ++events;
  EXPECT_EQ(events, 2u);
  server->Stop();
}

TEST_F(ProgramCoreTest, TeardownMidRunStopsAndJoinsTheRunFirst) {
  const std::string logPath = folder.path() + "/log.txt";
  const auto started = std::chrono::steady_clock::now();
  {
    ProgramCore core({clock, boxes, windowRef, shell});
    ASSERT_EQ(core.log().SetLogFilename(logPath), 0);
    Trial* trial = AddEventType(core, "Long", 3, 60000);
    trial->SetStartOfTrialGenerateEvent(false);
    core.trials().SetCommandChannel(nullptr);
    ASSERT_EQ(core.trials().StartProcessingTrials(), 0);
    ASSERT_TRUE(WaitUntil([&] {
      const std::vector<std::string> calls = window.model_calls();
      return !calls.empty() && calls.back() == "SetCurrentTrialNumber:1";
    }));
  }
  // The run did not wait out its minute: it was stopped.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
  // The worker had ended before the core went: it got no further than the
  // first trial, and nothing reaches the window afterwards.
  const std::vector<std::string> calls = window.model_calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "SetCurrentTrialNumber:1");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(window.model_calls(), calls);
  // The stop lines are the log's last entries: the log outlived the run.
  const std::vector<std::string> lines = window.log_lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.end()[-2].substr(30),
            "TrialContainer::StopProcessingTrials() - mTrialProcessingThread thread has been "
            "terminated successfully.");
  EXPECT_EQ(lines.end()[-1].substr(30),
            "TrialContainer::StopProcessingTrials() - WaitForSingleObject for "
            "mTrialProcessingThread thread completed successfully.");
  EXPECT_TRUE(boxes.boxes().empty()) << "no completion box after a stop";
}

}  // namespace
}  // namespace orvanta::testing
