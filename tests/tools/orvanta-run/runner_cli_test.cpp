// orvanta-run's run half as the built executable, against the simulator
// in-process on loopback: a completed run with --start-at and --timeline,
// --check, a failed connection, SIGINT during a run, and bad --start-at
// values; setup files as untrusted input and outputs shared by two programs.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/temp_folder.h"
#include "log/log_file.h"
#include "platform/output_file.h"
#include "tests/integration/run_env.h"
#include "tests/tools/orvanta-run/runner_child.h"
#include "tools/orvanta-run/runner_run.h"

namespace orvanta::testing {
namespace {

const char kTwoTypes[] =
    "-AddTrial \"A\"\n"
    "-SetTrialCount \"A\" 2\n"
    "-SetTrialDuration \"A\" 20\n"
    "-SetInterTrialInterval \"A\" 20\n"
    "-SetStartOfTrialGenerateEvent \"A\" true\n"
    "-SetStartOfTrialEventString \"A\" \"a, go\"\n"
    "-AddTrial \"B\"\n"
    "-SetTrialCount \"B\" 3\n"
    "-SetTrialDuration \"B\" 20\n"
    "-SetInterTrialInterval \"B\" 20\n"
    "-SetStartOfTrialGenerateTTLPulse \"B\" true\n"
    "-SetStartOfTrialTTLPulseBitNumber \"B\" 4\n"
    "-SetStartOfTrialTTLPulseDuration \"B\" 15\n";

// A negotiated connect, a run from trial 2 of A A B B B, the log's numbering
// of the whole order, and a timeline that matches what the server saw.
TEST_F(RunnerCliTest, RunFromALaterTrialWithATimeline) {
  StartSim();
  const std::string setup = WriteSetup("two.cfg", kTwoTypes);
  Args args = ServerArgs();
  for (const char* a : {"--quiet", "--start-at", "2", "--timeline", "tl.csv", "--log", "run.log",
                        "--timing-tolerance", "60000"})
    args.push_back(a);
  args.push_back(setup);
  Child child(args, folder());
  ASSERT_EQ(child.Wait(), 0) << child.err();
  EXPECT_NE(child.err().find("Trial Processing: Trials Completed Successfully\n"),
            std::string::npos)
      << child.err();
  EXPECT_EQ(child.out(), "");  // --quiet, and no progress line off a terminal

  const auto log = LogFileTexts(folder() + "/run.txt");
  std::vector<std::string> starts;
  for (const auto& t : log)
    if (t.rfind("Start Trial #", 0) == 0 || t.rfind("End Trial #", 0) == 0) starts.push_back(t);
  EXPECT_EQ(starts, (std::vector<std::string>{"Start Trial #2", "End Trial #2", "Start Trial #3",
                                              "End Trial #3", "Start Trial #4", "End Trial #4",
                                              "Start Trial #5", "End Trial #5"}));
  const std::string skipped =
      "TrialContainer::ProcessTrials() - Starting at trial #2 of 5, the trials before it are "
      "skipped.";
  const auto at = std::find(log.begin(), log.end(), skipped);
  ASSERT_NE(at, log.end());
  EXPECT_EQ(at[1], "Start Trial #2");

  const auto rows = SplitLines(ReadFile(folder() + "/tl.csv"));
  ASSERT_EQ(rows.size(), 1u + 1u + 3u * 3u);
  EXPECT_EQ(rows[0], "trial,type,step,command,reply,sent_us,replied_us,status");
  EXPECT_EQ(rows[1].rfind("2,A,start event,\"-PostEvent \"\"a, go\"\" 0 0\",0,", 0), 0u) << rows[1];
  std::vector<std::string> commands;
  long long last = -1;
  for (size_t i = 1; i < rows.size(); ++i) {
    const auto f = CsvRow(rows[i]);
    ASSERT_EQ(f.size(), 8u) << rows[i];
    commands.push_back(f[3]);
    EXPECT_EQ(f[4], "0");
    EXPECT_EQ(f[7], "replied");
    const long long sent = std::stoll(f[5]), replied = std::stoll(f[6]);
    EXPECT_LE(last, sent);
    EXPECT_LE(sent, replied);
    last = replied;
    if (i >= 2) {
      EXPECT_EQ(f[0], std::to_string(3 + (i - 2) / 3));
      EXPECT_EQ(f[1], "B");
      EXPECT_EQ(f[2], "start pulse");
    }
  }
  EXPECT_EQ(commands, TrialCommands());
  // The pulse's width between its two output commands, in the timeline.
  const auto set = CsvRow(rows[3]), clear = CsvRow(rows[4]);
  EXPECT_GE(std::stoll(clear[5]) - std::stoll(set[6]), 15000);
}

TEST_F(RunnerCliTest, CheckReportsEachProblemAndConnectsNowhere) {
  const std::string setup = WriteSetup("bad.cfg",
                                       "-AddTrial \"P\"\n"
                                       "-SetStartOfTrialGenerateTTLPulse \"P\" true\n"
                                       "-SetStartOfTrialTTLPulseBitNumber \"P\" 16\n"
                                       "-SetEndOfTrialGenerateTTLPulse \"P\" true\n"
                                       "-SetEndOfTrialTTLPulseDuration \"P\" -5\n"
                                       "-SetTrialDuration \"P\" -1\n"
                                       "-AddTrial \"W\"\n"
                                       "-SetTrialCount \"W\" 0\n"
                                       "-SetPlayWavFile \"W\" true\n"
                                       "-SetStartOfTrialTTLPulseBoardNumber \"P\" -2\n");
  Child child({"--quiet", "--check", "--server", "127.0.0.1", "--message-port",
               std::to_string(ClosedPort()), setup},
              folder());
  EXPECT_EQ(child.Wait(), runner::kExitCheckFailed);
  EXPECT_EQ(SplitLines(child.out()),
            (std::vector<std::string>{
                "problem: Trial type \"P\": the trial duration is negative (-1 ms); it would be "
                "run as 0.",
                "problem: Trial type \"P\": the start pulse's bit number is 16, outside 0..15: the "
                "pulse would set no bit.",
                "problem: Trial type \"P\": the start pulse's board number is negative (-2).",
                "problem: Trial type \"P\": the end pulse's duration is negative (-5 ms); it would "
                "be run as 0.",
                "problem: Trial type \"W\": its trial count is 0, so it never runs.",
                "problem: Trial type \"W\": wav playback is switched on, but no wav file is set.",
            }));
  EXPECT_EQ(child.err(), "orvanta-run: check: 6 problems found\n");

  const std::string good = WriteSetup("good.cfg", kTwoTypes);
  Child fine({"--quiet", "--check", good}, folder());
  EXPECT_EQ(fine.Wait(), 0);
  EXPECT_EQ(fine.out(), "");
  EXPECT_EQ(fine.err(), "orvanta-run: check: no problems found\n");

  Child beyond({"--quiet", "--check", "--start-at", "6", good}, folder());
  EXPECT_EQ(beyond.Wait(), runner::kExitCheckFailed);
  EXPECT_EQ(beyond.out(), "problem: --start-at 6 is beyond the last trial of the run order (5).\n");
}

TEST_F(RunnerCliTest, FailedConnectionExitsWith2) {
  const std::string setup = WriteSetup("two.cfg", kTwoTypes);
  Child child({"--quiet", "--server", "127.0.0.1", "--no-negotiate", "--message-port",
               std::to_string(ClosedPort()), setup},
              folder());
  EXPECT_EQ(child.Wait(), runner::kExitConnectFailed);
  EXPECT_NE(child.err().find("orvanta-run: cannot connect to the acquisition server at 127.0.0.1"),
            std::string::npos)
      << child.err();
  EXPECT_EQ(LogFileTexts(folder() + "/OrvantaLogFile.txt").end()[-1].rfind("Start Trial", 0),
            std::string::npos);
}

// SIGINT stops the run as the Stop button does: the two stop lines, nothing
// more sent, a clean disconnect and exit status 3.
TEST_F(RunnerCliTest, SigintStopsTheRunAndDisconnects) {
  StartSim();
  const std::string setup = WriteSetup("long.cfg",
                                       "-AddTrial \"L\"\n"
                                       "-SetTrialCount \"L\" 3\n"
                                       "-SetTrialDuration \"L\" 20000\n"
                                       "-SetStartOfTrialGenerateEvent \"L\" true\n"
                                       "-SetEndOfTrialGenerateEvent \"L\" true\n");
  Args args = ServerArgs();
  args.push_back("--no-negotiate");
  args.push_back(setup);
  Child child(args, folder());
  ASSERT_TRUE(WaitUntil([&] { return TrialCommands().size() == 1; }, 10000ms));
  const auto start = SteadyClock::now();
  child.Signal(SIGINT);
  EXPECT_EQ(child.Wait(), runner::kExitRunStopped);
  EXPECT_LT(MillisSince(start), 5000);
  EXPECT_EQ(TrialCommands(), (std::vector<std::string>{"-PostEvent \"\" 0 0"}));
  const auto log = LogFileTexts(folder() + "/OrvantaLogFile.txt");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.end()[-2], kTerminatedLine);
  EXPECT_EQ(log.end()[-1], kWaitLine);
  EXPECT_NE(child.err().find("orvanta-run: the run was stopped at trial 1 of 3\n"),
            std::string::npos)
      << child.err();
  EXPECT_EQ(child.err().find("Trials Completed Successfully"), std::string::npos);
  // The echo of the log on stdout ends with the same two lines.
  const auto out = SplitLines(child.out());
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.back().substr(30), kWaitLine);
  // The client closed its connection (the simulator saw it go).
  EXPECT_TRUE(transcript
                  .WaitForLine(
                      [](const std::string& l) {
                        const auto f = sim::SplitTranscriptLine(l);
                        return f.size() == 7 && f[3] == "close" &&
                               f[2].find("message") != std::string::npos;
                      },
                      2000ms)
                  .has_value());
}

// --schedule fixed against a server that takes 5 ms per reply: the onsets stay
// on the 260 ms grid (a relative run would add the 8 replies, 40 ms, to every
// trial), and the pulses keep their width. The bounds are loose; the tight
// figures are the timing benchmark's.
TEST_F(RunnerCliTest, FixedScheduleKeepsTheOnsetsOnTheGrid) {
  simOptions.reply_delay_ms = 5;
  StartSim();
  const std::string setup = WriteSetup(
      "grid.cfg",
      "-AddTrial \"G\"\n-SetTrialCount \"G\" 5\n-SetTrialDuration \"G\" 100\n"
      "-SetInterTrialInterval \"G\" 100\n"
      "-SetStartOfTrialGenerateEvent \"G\" true\n-SetStartOfTrialEventString \"G\" \"on\"\n"
      "-SetStartOfTrialGenerateTTLPulse \"G\" true\n-SetStartOfTrialTTLPulseDuration \"G\" 30\n"
      "-SetEndOfTrialGenerateTTLPulse \"G\" true\n-SetEndOfTrialTTLPulseDuration \"G\" 30\n"
      "-SetEndOfTrialGenerateEvent \"G\" true\n");
  Args args = ServerArgs();
  for (const char* a : {"--quiet", "--schedule", "fixed", "--log", "run.log"}) args.push_back(a);
  args.push_back(setup);
  Child child(args, folder());
  ASSERT_EQ(child.Wait(), 0) << child.err();

  std::vector<double> onsets, widths;
  double set = -1;
  for (const auto& line : transcript.Lines()) {
    const auto f = sim::SplitTranscriptLine(line);
    if (f.size() != 7 || f[3] != "cmd") continue;
    const double ms = std::stod(f[0]) / 1000;
    if (f[4] == "-PostEvent \"on\" 0 0") onsets.push_back(ms);
    if (f[4] == "-SetDIOPortOutput \"VRXBD\" 0 1") set = ms;
    if (f[4] == "-SetDIOPortOutput \"VRXBD\" 0 0") widths.push_back(ms - set);
  }
  ASSERT_EQ(onsets.size(), 5u);
  for (size_t k = 1; k < onsets.size(); ++k)
    EXPECT_NEAR(onsets[k] - onsets[0], 260.0 * k, 20.0) << "trial " << k + 1;
  ASSERT_EQ(widths.size(), 10u);
  for (double w : widths) EXPECT_NEAR(w, 30.0, 15.0);
}

// Trouble on the rig, end to end: the runner never reports success for a run
// that lost its server or missed replies, keeps replies paired with their
// commands, and stops a connect that waits for ever on SIGTERM.
const char kEvents[] =
    "-AddTrial \"E\"\n"
    "-SetTrialCount \"E\" 3\n"
    "-SetTrialDuration \"E\" 10\n"
    "-SetInterTrialInterval \"E\" 30\n"
    "-SetStartOfTrialGenerateEvent \"E\" true\n"
    "-SetEndOfTrialGenerateEvent \"E\" true\n";

class RunnerTroubleTest : public RunnerCliTest {
 protected:
  // Runs the event setup against the simulator with `extra` options; the
  // timeline rows (header dropped) land in `rows`.
  int Run(const Args& extra, std::string* err) {
    Args args = ServerArgs();
    for (const char* a :
         {"--quiet", "--no-negotiate", "--timeline", "tl.csv", "--client-log", "client.log"})
      args.push_back(a);
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(WriteSetup("events.cfg", kEvents));
    Child child(args, folder());
    const int status = child.Wait();
    *err = child.err();
    const auto lines = SplitLines(ReadFile(folder() + "/tl.csv"));
    rows.clear();
    for (size_t i = 1; i < lines.size(); ++i) rows.push_back(CsvRow(lines[i]));
    return status;
  }
  std::vector<std::vector<std::string>> rows;
};

TEST_F(RunnerTroubleTest, ServerGoneMidRunExits6WithTheErrorLineAndNoSuccess) {
  simOptions.fault_command = "-PostEvent";
  simOptions.close_after_n = 2;  // after trial 1's end event
  StartSim();
  std::string err;
  EXPECT_EQ(Run({}, &err), runner::kExitRunTrouble);
  EXPECT_EQ(err.find("Trials Completed Successfully"), std::string::npos) << err;
  EXPECT_NE(err.find("orvanta-run: the run failed at trial 2 of 3: the connection was lost ("),
            std::string::npos)
      << err;
  const auto log = LogFileTexts(folder() + "/OrvantaLogFile.txt");
  EXPECT_NE(
      std::find_if(log.begin(), log.end(),
                   [](const std::string& t) {
                     return t.rfind(
                                "TrialContainer::ProcessTrials() - Error, a command of trial #2 "
                                "failed: ",
                                0) == 0;
                   }),
      log.end());
  EXPECT_EQ(std::count(log.begin(), log.end(), std::string("End Trial #2")), 0);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][7], "replied");
  EXPECT_EQ(rows[1][7], "replied");
  const auto& lost = rows[2];
  ASSERT_EQ(lost.size(), 8u);
  EXPECT_EQ(lost[0], "2");
  EXPECT_EQ(lost[6], "");  // no reply time
  if (lost[7] == "not sent") {
    EXPECT_EQ(lost[5], "");  // no send time for a command never sent
  } else {
    EXPECT_EQ(lost[7], "no reply");
  }
}

// A reply that never comes stays owed: the run completes, but nothing after
// it is sent, since any reply read later could be that one.
TEST_F(RunnerTroubleTest, OneMissingReplyTheRunCompletesExits6AndCountsIt) {
  simOptions.fault_command = "-PostEvent";
  simOptions.no_reply_nth = 3;  // trial 2's start event
  StartSim();
  std::string err;
  EXPECT_EQ(Run({"--reply-timeout", "300"}, &err), runner::kExitRunTrouble);
  EXPECT_NE(err.find("orvanta-run: the run ended with trouble: 4 commands failed; the first in "
                     "trial 2: no reply within 300 ms (command -PostEvent \"\" 0 0)"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Trials completed with errors, 4 commands failed."), std::string::npos);
  const auto log = LogFileTexts(folder() + "/OrvantaLogFile.txt");
  EXPECT_EQ(std::count(log.begin(), log.end(), std::string("End Trial #3")), 1);
  ASSERT_EQ(rows.size(), 6u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][7], i < 2 ? "replied" : i == 2 ? "no reply" : "not sent") << i;
    EXPECT_EQ(rows[i][4], i < 2 ? "0" : "") << i;
  }
}

TEST_F(RunnerTroubleTest, AnUnsolicitedFrameIsDiscardedAndLaterRepliesStayPaired) {
  simOptions.fault_command = "-PostEvent";
  simOptions.extra_frame_nth = 1;
  simOptions.extra_frame_text = "0 unasked\r\n\x1b[2J";
  StartSim();
  std::string err;
  EXPECT_EQ(Run({}, &err), runner::kExitOk) << err;
  ASSERT_EQ(rows.size(), 6u);
  for (const auto& row : rows) {
    EXPECT_EQ(row[4], "0");
    EXPECT_EQ(row[7], "replied");
  }
  EXPECT_NE(ReadFile(folder() + "/client.log")
                .find("a message that no command asked for has been "
                      "discarded"),
            std::string::npos);
}

// A server that answers one event late (echoing each command, numbered, in
// its reply): that reply is owed, awaited before the next command and
// dropped; the commands that find it still missing are not sent. In the
// timeline and the log every reply belongs to the very command that caused
// it, and pairing resumes in step once the late reply is in.
struct LateReplyCase {
  int lateMs;
  size_t minNotSent;
};

class LateReplyTest : public RunnerTroubleTest,
                      public ::testing::WithParamInterface<LateReplyCase> {};

TEST_P(LateReplyTest, NoRowOrLogLineCarriesAnotherCommandsReply) {
  simOptions.fault_command = "-PostEvent";
  simOptions.echo = true;
  simOptions.late_reply = {3, GetParam().lateMs};  // trial 2's start event
  StartSim();
  std::string setup = kEvents;
  setup.replace(setup.find("\"E\" 3"), 5, "\"E\" 8");
  std::string err;
  Args args = ServerArgs();
  for (const char* a : {"--quiet", "--no-negotiate", "--reply-timeout", "300", "--timeline",
                        "tl.csv", "--client-log", "client.log"})
    args.push_back(a);
  args.push_back(WriteSetup("late.cfg", setup));
  Child child(args, folder());
  EXPECT_EQ(child.Wait(), runner::kExitRunTrouble) << child.err();
  const auto lines = SplitLines(ReadFile(folder() + "/tl.csv"));
  ASSERT_EQ(lines.size(), 17u);

  size_t notSent = 0;
  int64_t counted = 0;  // the simulator's number of each command it received
  std::vector<std::string> sentLines;
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto row = CsvRow(lines[i]);
    ASSERT_EQ(row.size(), 8u);
    const size_t n = i - 1;
    if (n == 2) {
      EXPECT_EQ(row[7], "no reply");
      EXPECT_EQ(row[4], "");
    } else if (n > 2 && n <= 2 + GetParam().minNotSent) {
      EXPECT_EQ(row[7], "not sent") << n;
    }
    if (row[7] == "not sent") {
      ++notSent;
      EXPECT_EQ(row[5], "") << n;
      continue;
    }
    ++counted;
    if (row[7] == "replied") {
      EXPECT_EQ(row[4], "0 <- #" + std::to_string(counted) + " " + row[3]) << n;
    }
    sentLines.push_back("Sent Quorvin Event.  Event String: , TTL Value: 0, Reply: " + row[4]);
  }
  EXPECT_GE(notSent, GetParam().minNotSent);
  EXPECT_EQ(CsvRow(lines.back())[7], "replied");  // back in step

  // One "Sent" line per command that may have reached the rig, with its own
  // reply (empty for the one that got none), in the order sent.
  std::vector<std::string> logged;
  const auto log = LogFileTexts(folder() + "/OrvantaLogFile.txt");
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].rfind("Sent Quorvin Event.", 0) != 0) continue;
    logged.push_back(log[i]);
    if (logged.size() == 3) {
      ASSERT_LT(i + 1, log.size());
      EXPECT_EQ(log[i + 1],
                "TrialContainer::ProcessTrials() - Error, a command of trial #2 failed: no reply "
                "within 300 ms.  Command: -PostEvent \"\" 0 0");
    }
  }
  EXPECT_EQ(logged, sentLines);
  const std::string clientLog = ReadFile(folder() + "/client.log");
  EXPECT_NE(clientLog.find("Notice, the late reply to an earlier command has been discarded.  "
                           "command: -PostEvent \"\" 0 0, reply: 0 <- #3 -PostEvent \"\" 0 0"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Late, LateReplyTest,
                         ::testing::Values(LateReplyCase{800, 1},     // drained by the next but one
                                           LateReplyCase{1500, 3}));  // late by several bounds

// A previous version's timeline (no status column) of the same name is ours:
// it is moved aside like any other, not refused.
TEST_F(RunnerTroubleTest, AnOlderTimelineOfTheSameNameIsMovedAside) {
  StartSim();
  const std::string old =
      "trial,type,step,command,reply,sent_us,replied_us\n1,E,start event,x,0,1,2\n";
  {
    std::ofstream out(folder() + "/tl.csv", std::ios::binary);
    out << old;
  }
  std::string err;
  EXPECT_EQ(Run({}, &err), runner::kExitOk) << err;
  EXPECT_EQ(rows.size(), 6u);
  size_t aside = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("tl.", 0) == 0 && name != "tl.csv") {
      ++aside;
      EXPECT_EQ(ReadFile(entry.path().string()), old);
    }
  }
  EXPECT_EQ(aside, 1u);
}

TEST_F(RunnerTroubleTest, SigtermDuringAConnectThatGetsNoReplyExits3WithinASecond) {
  simOptions.no_reply_nth = 1;  // the first -GetApplicationName
  StartSim();
  Args args = ServerArgs();
  for (const char* a : {"--quiet", "--no-negotiate", "--reply-timeout", "0"}) args.push_back(a);
  args.push_back(WriteSetup("events.cfg", kEvents));
  Child child(args, folder());
  ASSERT_TRUE(WaitUntil([&] { return Received() >= 1; }, 10000ms));
  std::this_thread::sleep_for(100ms);
  const auto start = SteadyClock::now();
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(), runner::kExitRunStopped);
  EXPECT_LT(MillisSince(start), 1000);
}

TEST_F(RunnerCliTest, StartAtBeyondTheOrderIsAUsageError) {
  const std::string setup = WriteSetup("two.cfg", kTwoTypes);
  Child child({"--quiet", "--start-at", "6", "--server", "127.0.0.1", setup}, folder());
  EXPECT_EQ(child.Wait(), runner::kExitUsage);
  EXPECT_EQ(child.err(),
            "orvanta-run: --start-at 6 is beyond the last trial of the run order (5)\n");
  Child zero({"--start-at", "0", setup}, folder());
  EXPECT_EQ(zero.Wait(), runner::kExitUsage);
  EXPECT_EQ(zero.err(),
            "orvanta-run: option --start-at needs a trial number from 1, not '0' (see "
            "orvanta-run --help)\n");
}

TEST(TimelineFileTest, FieldsAreQuotedOnlyWhenTheyNeedIt) {
  EXPECT_EQ(runner::TimelineFile::CsvField("plain"), "plain");
  EXPECT_EQ(runner::TimelineFile::CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(runner::TimelineFile::CsvField("-PostEvent \"x\" 1 0"), "\"-PostEvent \"\"x\"\" 1 0\"");
  EXPECT_EQ(runner::TimelineFile::CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(runner::TimelineFile::CsvField(""), "");
}

// The trigger header and rows come with a setup that has start triggers
// (the rows are record::FormatTimelineTriggerRow's); without one a trigger
// record writes nothing.
TEST(TimelineFileTest, TriggerHeaderAndRowsOnlyWithTriggers) {
  TempFolder temp("orvanta-timeline-");
  const auto start = std::chrono::steady_clock::now();
  TriggerRecord trigger{2, "A", "CSC 1", 1, 0, 100, TriggerOutcome::kTimedOutPlayed};
  for (const bool triggers : {true, false}) {
    const std::string path = temp.path() + (triggers ? "/with.csv" : "/without.csv");
    {
      runner::TimelineFile file;
      OutputFileFailure failure;
      ASSERT_TRUE(file.Open(path, failure, triggers)) << failure.reason;
      file.SetRunStart(start);
      file.Write(trigger);
    }
    EXPECT_EQ(ReadFile(path), triggers
                                  ? "trial,type,step,command,reply,sent_us,replied_us,status,"
                                    "object,outcome,arrived_us,latency_ms\n"
                                    "2,A,trigger,,,,,,CSC 1,\"timed out, played\",,\n"
                                  : "trial,type,step,command,reply,sent_us,replied_us,status\n");
  }
}

TEST(ProgressTest, LineShowsTrialTypeElapsedAndLeft) {
  EXPECT_EQ(runner::FormatProgress(3, 9, "Tone", 4400, 8600),
            "trial 3 of 9  Tone  elapsed 0:04  left 0:09");
  EXPECT_EQ(runner::FormatProgress(1, 1, "L", 3725000, -5),
            "trial 1 of 1  L  elapsed 1:02:05  left 0:00");
}

// ---- Setup files as untrusted input; outputs shared by two programs ----

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Every entry of a folder: file contents, link targets, "<folder>".
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    entries[fs::relative(entry.path(), folder).string()] =
        entry.is_symlink()     ? "-> " + fs::read_symlink(entry.path()).string()
        : entry.is_directory() ? "<folder>"
                               : ReadFile(entry.path().string());
  }
  return entries;
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome RunRunner(const Args& args, const std::string& cwd) {
  Child child(args, cwd);
  const int status = child.Wait();
  return {status, child.out(), child.err()};
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Every -SetLogFile abuse, the macro bomb, under --check, --dry-run and a real
// setup run (which then fails to connect): no file of the folder changes.
TEST(SetupFileAbuse, NoSetupFileLineChangesAFileThatIsThere) {
  TempFolder work, logs;
  const std::string& dir = work.path();
  WriteFile(dir + "/data.csv", "trial,value\n1,42\n");
  fs::create_symlink("data.csv", dir + "/link.txt");
  WriteFile(dir + "/x.txt", "notes of the morning\n");
  WriteFile(dir + "/same.txt", "same name, current folder\n");
  fs::create_directory(dir + "/sub");
  WriteFile(dir + "/abuse.cfg",
            "-AddTrial \"A\"\n-SetTrialCount \"A\" 2\n"
            "-SetLogFile \"" +
                dir +
                "/x.md\"\n"  // another extension: x.txt
                "-SetLogFile \"" +
                dir +
                "/link.txt\"\n"                  // a link to data
                "-SetLogFile \"../same.txt\"\n"  // ".." is dropped
                "-SetLogFile \"" +
                dir +
                "/no/such/folder.txt\"\n"
                "-SetLogFile \"" +
                dir + "/" + std::string(300, 'n') +
                "\"\n"
                "-SetLogFile \"" +
                dir + "/sub\"\n");  // sub.txt: a name that is free
  WriteFile(dir + "/self.txt", "-SetLogFile \"self.txt\"\n");
  std::string bomb = "%a = x\n";
  for (int i = 0; i < 40; ++i) bomb += "%a := %a\n";
  WriteFile(dir + "/bomb.cfg", bomb + "-AddTrial \"B\"\n");
  const auto before = Snapshot(dir);
  const std::vector<std::string> setups = {"abuse.cfg", "self.txt"};

  auto args = [&](Args options) {
    options.insert(options.begin(), {"--quiet", "--log", logs.path() + "/run"});
    options.insert(options.end(), setups.begin(), setups.end());
    return options;
  };
  const Outcome check = RunRunner(args({"--check"}), dir);
  EXPECT_EQ(check.status, 4) << check.err;
  EXPECT_EQ(Count(check.out, "problem: "), 7) << check.out;
  EXPECT_NE(check.out.find("problem: self.txt: -SetLogFile \"self.txt\" was not carried out (a "
                           "check opens no file); a run would write its log to self.txt."),
            std::string::npos)
      << check.out;
  EXPECT_EQ(RunRunner(args({"--dry-run"}), dir).status, 0);
  EXPECT_EQ(Snapshot(dir), before) << "--check or --dry-run touched the folder";

  const Outcome run = RunRunner(args({"--no-negotiate", "--server", "127.0.0.1", "--message-port",
                                      std::to_string(ClosedPort())}),
                                dir);
  EXPECT_EQ(run.status, 2) << run.err;  // the setup half ran whole, then no server
  auto after = Snapshot(dir);
  // The one name that was free became a log; everything else is as it was.
  ASSERT_EQ(after.count("sub.txt"), 1u);
  EXPECT_EQ(after["sub.txt"].rfind(kLogFileHeader, 0), 0u);
  after.erase("sub.txt");
  EXPECT_EQ(after, before);

  EXPECT_NE(run.err.find("warning: abuse.cfg: the log file " + dir +
                         "/link.txt could not be opened: it is a symbolic link, which is not "
                         "followed; the log stays in " +
                         logs.path() + "/run.txt"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(Count(run.err, "Error openning filename: "), 6) << run.err;

  // The runner's own log took every failed switch as an ERROR and went on.
  const std::string log = ReadFile(logs.path() + "/run.txt");
  EXPECT_EQ(Count(log, "LogFile::OpenLogFile() - Error, unable to open the log file "), 5);

  // The macro bomb stops its load at the line that would pass the limit.
  EXPECT_EQ(
      RunRunner({"--quiet", "--check", "--log", logs.path() + "/bomb", "bomb.cfg"}, dir).status, 1);
  EXPECT_NE(ReadFile(logs.path() + "/bomb.txt")
                .find("FormatCmdLine::ProcessMacroLine() - Error, the value of macro %a would be "
                      "longer than 999 characters, the longest line a setup file may hold."),
            std::string::npos);
  after = Snapshot(dir);
  after.erase("sub.txt");
  EXPECT_EQ(after, before);
}

// Two programs naming one output: the second is refused and says which file;
// a program started again keeps the earlier log, moved aside.
TEST(TwoWriters, ASecondProgramIsRefusedAndAnEarlierLogIsMovedAside) {
  TempFolder work;
  const std::string& dir = work.path();
  WriteFile(dir + "/s.cfg", "-AddTrial \"A\"\n-SetTrialCount \"A\" 1\n");

  const Outcome first = RunRunner({"--quiet", "--dry-run", "s.cfg"}, dir);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string morning = ReadFile(dir + "/OrvantaLogFile.txt");
  const Outcome second = RunRunner({"--quiet", "--dry-run", "s.cfg"}, dir);
  ASSERT_EQ(second.status, 0) << second.err;
  std::vector<std::string> aside;
  for (const auto& [name, content] : Snapshot(dir)) {
    if (name.rfind("OrvantaLogFile.", 0) == 0 && name != "OrvantaLogFile.txt") {
      aside.push_back(name);
      EXPECT_EQ(content, morning);
    }
  }
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_NE(ReadFile(dir + "/OrvantaLogFile.txt")
                .find("LogFile::OpenLogFile() - The earlier log file of this name was moved "
                      "aside to " +
                      dir + "/" + aside[0] + "."),
            std::string::npos);

  // Another program holds the log, then the timeline.
  OutputFileFailure failure;
  auto held = OpenOutputFile(dir + "/shared.txt", kLogFileHeader, failure);
  ASSERT_NE(held, nullptr) << failure.reason;
  std::fputs(kLogFileHeader, held->stream());
  std::fflush(held->stream());
  const auto before = Snapshot(dir);
  const Outcome log = RunRunner({"--quiet", "--dry-run", "--log", "shared", "s.cfg"}, dir);
  EXPECT_EQ(log.status, 1);
  EXPECT_NE(log.err.find("orvanta-run: cannot open the log file " + dir +
                         "/shared.txt: it is in "
                         "use by another program (it is locked)"),
            std::string::npos)
      << log.err;
  const Outcome timeline =
      RunRunner({"--quiet", "--no-negotiate", "--server", "127.0.0.1", "--message-port",
                 std::to_string(ClosedPort()), "--log", "own", "--timeline", "shared.txt", "s.cfg"},
                dir);
  EXPECT_EQ(timeline.status, 1);
  EXPECT_NE(timeline.err.find("cannot write the timeline file shared.txt: it is in use by another "
                              "program"),
            std::string::npos)
      << timeline.err;
  auto after = Snapshot(dir);
  after.erase("own.txt");
  EXPECT_EQ(after, before);

  // One program naming one file twice.
  const Outcome twice = RunRunner({"--log", "same", "--timeline", "same.txt", "s.cfg"}, dir);
  EXPECT_EQ(twice.status, 64);
  EXPECT_NE(twice.err.find("options --log and --timeline name the same file same.txt"),
            std::string::npos)
      << twice.err;
  EXPECT_FALSE(fs::exists(dir + "/same.txt"));
}

}  // namespace
}  // namespace orvanta::testing
