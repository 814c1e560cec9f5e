// orvanta-run's setup half, run as the built executable in a temporary
// folder: options, exit statuses, the echo, the run order and saving.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "platform/version.h"
#include "tests/script/script_test_support.h"
#include "tests/support/help_options.h"
#include "tools/orvanta-run/runner_options.h"
#include "tools/orvanta-run/runner_run.h"
#include "tools/orvanta-run/runner_setup.h"

namespace orvanta::testing {
namespace {

using Args = std::vector<std::string>;

struct Result {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs orvanta-run with `args` in folder `cwd`; killed after 30 s.
Result RunRunner(const Args& args, const std::string& cwd) {
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv;
    std::string program = ORVANTA_RUN_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  Result result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      ADD_FAILURE() << "orvanta-run did not finish in time";
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

Args Lines(const std::string& text, const char* end = "\n") {
  Args lines;
  size_t start = 0;
  const size_t step = std::strlen(end);
  while (start < text.size()) {
    size_t stop = text.find(end, start);
    if (stop == std::string::npos) stop = text.size();
    lines.push_back(text.substr(start, stop - start));
    start = stop + step;
  }
  return lines;
}

const char kSetup[] =
    "# three types\r\n"
    "%n = 3\r\n"
    "-AddTrial \"Tone\"\r\n"
    "-SetTrialCount \"Tone\" %n\r\n"
    "-AddTrial \"Light Flash\"\r\n"
    "-SetTrialCount \"Light Flash\" 2\r\n"
    "-AddTrial \"Catch\"\r\n"
    "-SetShuffleMaxConsecutiveTypeCount 2\r\n";

class RunnerTest : public ::testing::Test {
 protected:
  std::string WriteSetup() { return dir.Write("setup.cfg", kSetup); }
  Result Run(const Args& args) { return RunRunner(args, dir.path()); }
  TempDir dir;
};

TEST_F(RunnerTest, HelpAndUsageErrors) {
  Result r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: orvanta-run [options] SETUP.cfg...\n", 0), 0u) << r.out;
  EXPECT_EQ(r.err, "");
  // --version needs no setup file and prints the project's version.
  r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "orvanta-run " ORVANTA_VERSION "\n");
  EXPECT_EQ(r.err, "");

  const std::pair<Args, std::string> cases[] = {
      {{}, "orvanta-run: no setup file given (see orvanta-run --help)\n"},
      {{"--bogus", "a.cfg"}, "orvanta-run: unknown option '--bogus' (see orvanta-run --help)\n"},
      {{"a.cfg", "--seed"}, "orvanta-run: option --seed needs a value (see orvanta-run --help)\n"},
      {{"--seed", "abc", "a.cfg"},
       "orvanta-run: option --seed needs a whole number from 0 to 4294967295, not 'abc' (see "
       "orvanta-run --help)\n"},
      {{"--seed=4294967296", "a.cfg"},
       "orvanta-run: option --seed needs a whole number from 0 to 4294967295, not '4294967296' "
       "(see orvanta-run --help)\n"},
      {{"--seed", "-1", "a.cfg"},
       "orvanta-run: option --seed needs a whole number from 0 to 4294967295, not '-1' (see "
       "orvanta-run --help)\n"},
      {{"--log=", "a.cfg"},
       "orvanta-run: option --log needs a file name (see orvanta-run --help)\n"},
      {{"--quiet=yes", "a.cfg"},
       "orvanta-run: option --quiet takes no value (see orvanta-run --help)\n"},
  };
  for (const auto& [args, error] : cases) {
    r = Run(args);
    EXPECT_EQ(r.status, 64) << error;
    EXPECT_EQ(r.err, error);
    EXPECT_EQ(r.out, "");
  }
  // A usage error touches nothing, not even the log.
  EXPECT_TRUE(dir.Names().empty());
}

TEST(RunnerOptions, ParsesEveryOption) {
  runner::RunnerOptions o;
  std::string error;
  ASSERT_EQ(runner::ParseRunnerOptions(
                {"a.cfg", "--log", "x.txt", "--seed=7", "--shuffle", "--print-order", "--save",
                 "s.cfg", "--dry-run", "--quiet", "--", "--b.cfg"},
                o, error),
            runner::ParseOutcome::kRun);
  EXPECT_EQ(o.setupFiles, (Args{"a.cfg", "--b.cfg"}));
  EXPECT_EQ(o.logPath, "x.txt");
  EXPECT_TRUE(o.hasSeed);
  EXPECT_EQ(o.seed, 7u);
  EXPECT_TRUE(o.shuffle && o.printOrder && o.dryRun && o.quiet);
  EXPECT_EQ(o.savePath, "s.cfg");
  EXPECT_EQ(runner::ParseRunnerOptions({"--seed", "4294967295", "-"}, o, error),
            runner::ParseOutcome::kRun);
  EXPECT_EQ(o.seed, 4294967295u);
  EXPECT_EQ(o.setupFiles, (Args{"-"}));
  EXPECT_EQ(runner::ParseRunnerOptions({"-h", "--bogus"}, o, error),
            runner::ParseOutcome::kUsageError);
  EXPECT_EQ(runner::ParseRunnerOptions({"a.cfg", "-h"}, o, error), runner::ParseOutcome::kHelp);
  ASSERT_EQ(runner::ParseRunnerOptions({"--schedule=Fixed", "a.cfg"}, o, error),
            runner::ParseOutcome::kRun);
  EXPECT_TRUE(o.hasSchedule);
  EXPECT_EQ(o.schedule, TimingMode::kFixed);
  EXPECT_EQ(runner::ParseRunnerOptions({"--schedule", "drifting", "a.cfg"}, o, error),
            runner::ParseOutcome::kUsageError);
  EXPECT_EQ(error, "option --schedule needs fixed or relative, not 'drifting'");
  EXPECT_EQ(runner::ParseRunnerOptions({"--version", "-h"}, o, error), runner::ParseOutcome::kHelp);
  EXPECT_EQ(runner::ParseRunnerOptions({"--version=1"}, o, error),
            runner::ParseOutcome::kUsageError);
  EXPECT_EQ(error, "option --version takes no value");
}

// The options are one table that makes both the help and the parser: every
// option the help lists is parsed, takes a value exactly when the help names
// one (which is what the bash completion goes by), and refuses what it does
// not take.
TEST(RunnerOptions, EveryOptionOfTheHelpIsParsedAsTheHelpShowsIt) {
  const std::vector<HelpOption> listed = HelpOptions(runner::RunnerUsage());
  ASSERT_EQ(listed.size(), 28u);
  runner::RunnerOptions o;
  std::string error;
  for (const HelpOption& option : listed) {
    SCOPED_TRACE(option.name);
    if (option.takesValue) {
      EXPECT_EQ(runner::ParseRunnerOptions({"a.cfg", option.name}, o, error),
                runner::ParseOutcome::kUsageError);
      EXPECT_EQ(error, "option " + option.name + " needs a value");
      continue;
    }
    EXPECT_EQ(runner::ParseRunnerOptions({option.name + "=1", "a.cfg"}, o, error),
              runner::ParseOutcome::kUsageError);
    EXPECT_EQ(error, "option " + option.name + " takes no value");
    error.clear();
    const runner::ParseOutcome outcome =
        runner::ParseRunnerOptions({option.name, "a.cfg"}, o, error);
    EXPECT_NE(outcome, runner::ParseOutcome::kUsageError) << error;
    if (!option.alias.empty()) {
      EXPECT_EQ(runner::ParseRunnerOptions({option.alias, "a.cfg"}, o, error), outcome);
    }
  }
}

// The log calls the echo with its entry lock held, so the echo must return
// at once even when nobody reads its stream; the lines arrive in order later.
TEST(StreamLogEcho, NeverBlocksTheLogOnAStalledStream) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::FILE* out = ::fdopen(fds[1], "w");
  ASSERT_NE(out, nullptr);
  const int kLines = 3000;  // ~300 KB, several times a pipe's buffer
  const std::string pad(90, '.');
  std::string received;
  {
    runner::StreamLogEcho echo(out);
    auto added = std::async(std::launch::async, [&] {
      for (int i = 0; i < kLines; ++i) echo.AddLogMessage(std::to_string(i) + pad);
    });
    const bool returned = added.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_TRUE(returned) << "AddLogMessage waited for the stream";
    std::thread reader([&] {
      char buffer[65536];
      ssize_t n;
      while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        received.append(buffer, static_cast<size_t>(n));
    });
    added.wait();
    echo.Flush();
    std::fclose(out);  // the writer is idle after Flush; ends the reader
    reader.join();
  }
  ::close(fds[0]);
  const Args lines = Lines(received);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kLines));
  for (int i = 0; i < kLines; i += 997)
    EXPECT_EQ(lines[static_cast<size_t>(i)], std::to_string(i) + pad);
  EXPECT_EQ(lines.back(), std::to_string(kLines - 1) + pad);
}

TEST_F(RunnerTest, DryRunEchoesEveryLogEntry) {
  const std::string setup = WriteSetup();
  const Result r = Run({"--dry-run", setup});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // The default log, as the window names it, holds the same entries.
  const Args logLines = Lines(ReadFile(dir.File("OrvantaLogFile.txt")), "\r\n");
  ASSERT_GE(logLines.size(), 3u);
  EXPECT_EQ(logLines[0],
            "Veltrix Base Log File Opened - File Name:  " + dir.File("OrvantaLogFile.txt"));
  EXPECT_EQ(Lines(r.out), Args(logLines.begin() + 2, logLines.end()));
  EXPECT_EQ(Lines(r.out).front().substr(kEntryPrefix),
            "ConfigFileProcessor::ProcessScript() - Started Processing Filename: " + setup);
  EXPECT_EQ(Lines(r.out).back().substr(kEntryPrefix),
            "ConfigFileProcessor::ProcessScript() - Finished Processing Filename: " + setup);

  const Result quiet = Run({"--quiet", "--dry-run", setup});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
}

TEST_F(RunnerTest, PrintsTheOrderSeededAndShuffledAsTheModelDoes) {
  const std::string setup = WriteSetup();
  Result r = Run({"--quiet", "--print-order", "--dry-run", setup});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1.  Tone\n2.  Tone\n3.  Tone\n4.  Light Flash\n5.  Light Flash\n6.  Catch\n");

  for (const uint32_t seed : {1u, 42u, 4000000000u}) {
    r = Run({"--quiet", "--seed", std::to_string(seed), "--shuffle", "--print-order", "--dry-run",
             "--save", "saved.cfg", setup});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ScriptModel m;
    ASSERT_EQ(m.config.ProcessScript(setup), 0);
    m.deck.Seed(seed);
    ASSERT_EQ(m.deck.Shuffle(), 0);
    std::string expected;
    const Args names = m.OrderNames();
    for (size_t i = 0; i < names.size(); ++i)
      expected += std::to_string(i + 1) + ".  " + names[i] + "\n";
    EXPECT_EQ(r.out, expected) << "seed " << seed;

    // The saved file restores that order in a fresh program.
    ScriptModel loaded;
    ASSERT_EQ(loaded.config.ProcessScript(dir.File("saved.cfg")), 0);
    EXPECT_EQ(loaded.OrderNames(), names);
    EXPECT_EQ(loaded.deck.GetMaxConsectutiveSameSuitCards(), 2);
    EXPECT_EQ(loaded.log.GetFilePath(), dir.File("OrvantaLogFile.txt"));
  }
  // Without --seed the generator starts from its initial state, as the window's.
  r = Run({"--quiet", "--shuffle", "--print-order", "--dry-run", setup});
  ScriptModel m;
  ASSERT_EQ(m.config.ProcessScript(setup), 0);
  ASSERT_EQ(m.deck.Shuffle(), 0);
  EXPECT_EQ(Lines(r.out).front(), "1.  " + m.OrderNames().front());
  EXPECT_EQ(Lines(r.out).size(), 6u);
}

TEST_F(RunnerTest, FilesRunInOrderEachWithItsOwnMacros) {
  const std::string first = dir.Write("1.cfg", "%t = Tone\n-AddTrial %t\n");
  const std::string second = dir.Write("2.cfg", "-SetTrialCount \"Tone\" 2\n-AddTrial %t\n");
  const Result r = Run({"--quiet", "--print-order", "--dry-run", first, second});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1.  Tone\n2.  Tone\n3.  %t\n");
}

TEST_F(RunnerTest, AMissingFileIsOneLineAndStatus1) {
  const std::string setup = WriteSetup();
  Result r = Run({"--quiet", "--dry-run", "missing.cfg", setup});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "orvanta-run: cannot open setup file missing.cfg: No such file or directory\n");
  // Nothing after it ran.
  EXPECT_EQ(ReadFile(dir.File("OrvantaLogFile.txt")).find("setup.cfg"), std::string::npos);

  r = Run({"--quiet", "--dry-run", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "orvanta-run: cannot open setup file " + dir.path() + ": it is a folder\n");
}

TEST_F(RunnerTest, AFailingCommandPrintsTheConfigurationFileError) {
  const std::string bad = dir.Write("bad.cfg", "-AddTrial \"A\"\n-SetTrialCount \"A\" many\n");
  const std::string next = WriteSetup();
  const Result r = Run({"--quiet", "--print-order", "--dry-run", bad, next});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Configuration File Error: There was an error processing your configuration file.  See "
            "the logfile for details.\r\n\r\nFile: " +
                bad +
                "\r\nLine Number: 2\r\nCommand: -SetTrialCount \"A\" many\r\nReason: "
                "CommandProcessor::SetTrialCount() - Error, invalid argument received. Argument 2 "
                "must be a numeric value.  Argument 2: many\r\n\r\nThe lines before line 2 were "
                "loaded and stay in the setup (1 trial type is now loaded); line 2 and the lines "
                "after it were not run.\r\n\n");
  EXPECT_EQ(r.out, "");  // stopped before printing the order
  const std::string log = ReadFile(dir.File("OrvantaLogFile.txt"));
  EXPECT_NE(log.find("CommandProcessor::SetTrialCount() - Error, invalid argument received. "
                     "Argument 2 must be a numeric value.  Argument 2: many"),
            std::string::npos);
  EXPECT_EQ(log.find(next), std::string::npos);
}

TEST_F(RunnerTest, AFileThatStopsEarlyFailsWithItsBox) {
  const std::string setup =
      dir.Write("s.cfg", "-AddTrial \"A\"\nAddTrial \"B\"\n-AddTrial \"C\"\n");
  const Result r = Run({"--quiet", "--print-order", "--dry-run", setup});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(
      r.err,
      "Configuration File Error: Your configuration file could not be read to its end.  See "
      "the logfile for details.\r\n\r\nFile: " +
          setup +
          "\r\nLine Number: 2\r\nLine: AddTrial \"B\"\r\nReason: FormatCmdLine::ProcessLine() "
          "- Error, Invalid Syntax, unable to determine what type of line to process.\r\n\r\n"
          "The lines before line 2 were loaded and stay in the setup (1 trial type is now "
          "loaded); line 2 and the lines after it were not run.\r\n\n");
}

TEST_F(RunnerTest, LogOptionAndSaving) {
  const std::string setup = WriteSetup();
  ASSERT_EQ(::mkdir(dir.File("logs").c_str(), 0755), 0);
  Result r = Run({"--quiet", "--dry-run", "--log", "logs/session.log", "--save", "out.cfg", setup});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string logPath = dir.File("logs/session.txt");
  EXPECT_NE(ReadFile(logPath).find("Started Processing Filename: " + setup), std::string::npos);
  EXPECT_NE(ReadFile(dir.File("out.cfg")).find("\r\n-SetLogFile \"" + logPath + "\"\r\n"),
            std::string::npos);
  EXPECT_EQ(::access(dir.File("OrvantaLogFile.txt").c_str(), F_OK), -1);

  // A save that fails is an error; the old file stays.
  const std::string old = dir.Write("keep.cfg", "old\r\n");
  r = Run({"--quiet", "--dry-run", "--save", "no/such/folder/x.cfg", setup});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "orvanta-run: cannot save the setup file no/such/folder/x.cfg: cannot create a file in "
            "the folder no/such/folder: No such file or directory\n");
  EXPECT_EQ(ReadFile(old), "old\r\n");

  // Values that read back save quietly; the others are saved with a warning.
  const std::string fine = dir.Write("fine.cfg", "-AddTrial A%B\n-SetWavFileName A%B \"x y\"\n");
  r = Run({"--quiet", "--dry-run", "--save", "f.cfg", fine});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string quote = dir.Write("q.cfg", "-AddTrial A\n-SetStartOfTrialEventString A x\"y\n");
  r = Run({"--quiet", "--dry-run", "--save", "q-out.cfg", quote});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.err,
      "orvanta-run: warning: Trial type \"A\": the start of trial event string \"x\"y\" holds "
      "a double quote and will not read back from the setup file.\n");
}

TEST_F(RunnerTest, TriggerOptionsSetTheSavedLineOrAreRefused) {
  const std::string setup = WriteSetup();
  Result r =
      Run({"--quiet", "--dry-run", "--trigger", "Light Flash=SE 1:3:50:10000:Skip",
           "--trigger=Tone=CSC1:1:0:500:play", "--no-trigger", "Tone", "--save", "out.cfg", setup});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string saved = ReadFile(dir.File("out.cfg"));
  const std::string line = "-SetStartOfTrialTrigger \"Light Flash\" \"SE 1\" 3 50 10000 Skip\r\n";
  EXPECT_NE(saved.find("\r\n" + line), std::string::npos) << saved;
  // Tone's trigger was removed again.
  EXPECT_EQ(saved.find("-SetStartOfTrialTrigger"), saved.rfind("-SetStartOfTrialTrigger"));

  const std::pair<Args, std::string> refused[] = {
      {{"--trigger", "Tone"}, "needs TYPE=OBJECT:COUNT:WINDOW:TIMEOUT:ACTION, not 'Tone'"},
      {{"--trigger", "Tone=SE1:0:50:1000:Play"}, "needs a count from 1 to 2147483647, not '0'"},
      {{"--trigger", "Tone=SE1:1:-5:1000:Play"},
       "needs a window from 0 to 2147483647 ms, not '-5'"},
      {{"--trigger", "Tone=SE1:1:5:-1:Play"}, "needs a timeout from 0 to 2147483647 ms, not '-1'"},
      {{"--trigger", "Tone=SE1:1:5:1000:Later"},
       "needs Play or Skip after the timeout, not 'Later'"},
      {{"--trigger", "Tone=:1:5:1000:Play"},
       "needs an object name without quotes or line breaks, not ''"},
      {{"--check", "--objects", "SE1,,SE2"},
       "needs object names separated by commas, not 'SE1,,SE2'"},
  };
  for (const auto& [args, error] : refused) {
    Args all = args;
    all.push_back(setup);
    r = Run(all);
    EXPECT_EQ(r.status, 64) << error;
    EXPECT_EQ(r.err, "orvanta-run: option " + all[all[0] == "--check" ? 1 : 0] + " " + error +
                         " (see orvanta-run --help)\n");
  }
  r = Run({"--objects", "SE1", setup});
  EXPECT_EQ(r.err,
            "orvanta-run: --objects lists the server's objects for --check; it needs --check (see "
            "orvanta-run --help)\n");
  // A type the setup does not have is known once the setup is loaded.
  for (const char* option : {"--trigger", "--no-trigger"}) {
    r = Run({"--quiet", "--dry-run", option,
             std::string(option) == "--trigger" ? "Nope=SE1:1:0:100:Play" : "Nope", setup});
    EXPECT_EQ(r.status, 64);
    EXPECT_EQ(r.err, std::string("orvanta-run: option ") + option +
                         " names no trial type of the setup: 'Nope' (see orvanta-run --help)\n");
  }
}

TEST_F(RunnerTest, CheckReportsEachTriggerProblemWithAndWithoutObjects) {
  const std::string setup =
      dir.Write("t.cfg", std::string(kSetup) +
                             "-SetStartOfTrialTrigger \"Tone\" \"SE 9\" 4 2 0 Play\r\n"
                             "-SetStartOfTrialTrigger \"Catch\" ab\"c 1 0 100 Skip\r\n");
  const std::string tone = "problem: Trial type \"Tone\": the start trigger";
  const Args problems = {
      tone +
          "'s window (2 ms) is too short for 4 records at any rate (they need at least 3 ms), "
          "so every wait would time out.",
      tone + "'s timeout is 0 ms; the trial would never wait for its records.",
      "problem: Trial type \"Catch\": the start trigger's object \"ab\"c\" holds a quote or a line "
      "break; no server object can be named so.",
  };
  Result r = Run({"--quiet", "--check", setup});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(Lines(r.out), problems);
  EXPECT_EQ(r.err, "orvanta-run: check: 3 problems found\n");
  r = Run({"--quiet", "--check", "--objects", "SE1,SE 2", setup});
  EXPECT_EQ(Lines(r.out), (Args{tone + "'s object \"SE 9\" is not one of the server's objects.",
                                problems[0], problems[1], problems[2]}));
  // --trigger comes before the check; a known object is no problem.
  r = Run({"--quiet", "--check", "--objects=SE 9", "--trigger", "Tone=SE 9:4:3:1:Play", setup});
  EXPECT_EQ(Lines(r.out), (Args{problems[2]}));
}

TEST(RunnerOutput, TriggerFiguresOnlyForRunsWithWaits) {
  RunSummary end;
  EXPECT_EQ(runner::TriggerFigures(end), "");
  end.triggerWaits = 1;
  EXPECT_EQ(runner::TriggerFigures(end), "start triggers: 1 wait, 0 timed out (0 skipped)");
  end.triggerWaits = 12;
  end.triggerTimeouts = 3;
  end.triggerSkipped = 2;
  EXPECT_EQ(runner::TriggerFigures(end), "start triggers: 12 waits, 3 timed out (2 skipped)");
}

TEST_F(RunnerTest, TheShippedExamplesLoad) {
  const std::string examples = ORVANTA_EXAMPLES_DIR;
  Result r =
      Run({"--quiet", "--shuffle", "--print-order", "--dry-run", examples + "/protocol.cfg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Lines(r.out).size(), 9u);

  r = Run({"--quiet", "--dry-run", "--save", "macros-out.cfg", examples + "/macros.cfg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ScriptModel m;
  ASSERT_EQ(m.config.ProcessScript(dir.File("macros-out.cfg")), 0);
  EXPECT_EQ(m.trials.GetTrialNames(), (Args{"ToneLow", "ToneHigh"}));
  EXPECT_EQ(m.CountOf("ToneLow"), 3);
  EXPECT_EQ(m.CountOf("ToneHigh"), 4);
  Trial* high = m.TrialNamed("ToneHigh");
  EXPECT_EQ(high->GetTrialDuration(), 300);
  EXPECT_EQ(high->GetInterTrialInterval(), 800);
  EXPECT_EQ(high->GetStartOfTrialTTLPulseDuration(), 25);
  EXPECT_EQ(high->GetWavFileName(), "high tone.wav");
  EXPECT_EQ(m.deck.GetShuffleType(), Group);
}

}  // namespace
}  // namespace orvanta::testing
