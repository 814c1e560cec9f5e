// Setup files as untrusted input, and outputs shared by two programs: the
// built orvanta-run against folders of files that must come out
// byte-identical.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fakes/temp_folder.h"
#include "fakes/unused_port.h"
#include "log/log_file.h"
#include "platform/output_file.h"

namespace orvanta::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Every entry of a folder: file contents, link targets, "<folder>".
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_symlink()) {
      entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[name] = "<folder>";
    } else {
      entries[name] = ReadFile(entry.path().string());
    }
  }
  return entries;
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs orvanta-run in `cwd` and waits for it (bounded: the runs here never
// reach a server).
Outcome RunRunner(const std::vector<std::string>& args, const std::string& cwd,
                  const std::string& scratch) {
  const std::string outPath = scratch + "/stdout", errPath = scratch + "/stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<std::string> copies = args;
    std::string program = ORVANTA_RUN_PATH;
    std::vector<char*> argv{program.data()};
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::alarm(60);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outPath), ReadFile(errPath)};
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Every -SetLogFile abuse, the macro bomb, under --check, --dry-run and a real
// setup run (which then fails to connect): no file of the folder changes.
TEST(SetupFileAbuse, NoSetupFileLineChangesAFileThatIsThere) {
  TempFolder work, logs, scratch;
  const std::string dir = work.path();
  WriteFile(dir + "/data.csv", "trial,value\n1,42\n");
  fs::create_symlink("data.csv", dir + "/link.txt");
  WriteFile(dir + "/x.txt", "notes of the morning\n");
  WriteFile(dir + "/same.txt", "same name, current folder\n");
  fs::create_directory(dir + "/sub");
  WriteFile(dir + "/abuse.cfg",
            "-AddTrial \"A\"\n-SetTrialCount \"A\" 2\n"
            "-SetLogFile \"" + dir + "/x.md\"\n"             // another extension: x.txt
            "-SetLogFile \"" + dir + "/link.txt\"\n"         // a link to data
            "-SetLogFile \"../same.txt\"\n"                  // ".." is dropped
            "-SetLogFile \"" + dir + "/no/such/folder.txt\"\n"
            "-SetLogFile \"" + dir + "/" + std::string(300, 'n') + "\"\n"
            "-SetLogFile \"" + dir + "/sub\"\n");           // sub.txt: a name that is free
  WriteFile(dir + "/self.txt", "-SetLogFile \"self.txt\"\n");
  std::string bomb = "%a = x\n";
  for (int i = 0; i < 40; ++i) bomb += "%a := %a\n";
  WriteFile(dir + "/bomb.cfg", bomb + "-AddTrial \"B\"\n");
  const auto before = Snapshot(dir);
  const std::vector<std::string> setups = {"abuse.cfg", "self.txt", "bomb.cfg"};

  auto args = [&](std::vector<std::string> options) {
    options.insert(options.begin(), {"--quiet", "--log", logs.path() + "/run"});
    options.insert(options.end(), setups.begin(), setups.end());
    return options;
  };
  const Outcome check = RunRunner(args({"--check"}), dir, scratch.path());
  EXPECT_EQ(check.status, 4) << check.err;
  EXPECT_EQ(Count(check.out, "problem: "), 7) << check.out;
  EXPECT_NE(check.out.find("problem: self.txt: -SetLogFile \"self.txt\" was not carried out (a "
                           "check opens no file); a run would write its log to self.txt."),
            std::string::npos)
      << check.out;
  EXPECT_EQ(Snapshot(dir), before) << "--check touched the folder";

  const Outcome dry = RunRunner(args({"--dry-run"}), dir, scratch.path());
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(Count(dry.err, "was not carried out (a dry run writes no log but its own)"), 7);
  EXPECT_EQ(Snapshot(dir), before) << "--dry-run touched the folder";

  const Outcome run = RunRunner(
      args({"--no-negotiate", "--server", "127.0.0.1", "--message-port",
            std::to_string(UnusedPort())}),
      dir, scratch.path());
  EXPECT_EQ(run.status, 2) << run.err;  // the setup half ran whole, then no server
  auto after = Snapshot(dir);
  // The one name that was free became a log; everything else is as it was.
  ASSERT_EQ(after.count("sub.txt"), 1u);
  EXPECT_EQ(after["sub.txt"].rfind(kLogFileHeader, 0), 0u);
  after.erase("sub.txt");
  EXPECT_EQ(after, before);

  EXPECT_NE(run.err.find("warning: abuse.cfg: the log file " + dir +
                         "/link.txt could not be opened: it is a symbolic link, which is not "
                         "followed; the log stays in " + logs.path() + "/run.txt"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("warning: abuse.cfg: the log file " + dir + "/no/such/folder.txt could "
                         "not be opened: its folder does not exist"),
            std::string::npos);
  EXPECT_NE(run.err.find("warning: self.txt: the log file self.txt could not be opened: it exists "
                         "and was not written by this program"),
            std::string::npos);
  EXPECT_NE(run.err.find("warning: bomb.cfg: reading stopped at line 11"), std::string::npos);
  EXPECT_EQ(Count(run.err, "Error openning filename: "), 6) << run.err;

  // The runner's own log took every failed switch as an ERROR and went on.
  const std::string log = ReadFile(logs.path() + "/run.txt");
  EXPECT_EQ(Count(log, "LogFile::OpenLogFile() - Error, unable to open the log file "), 5);
  EXPECT_NE(log.find("unable to open the log file same.txt, it exists and was not written by "
                     "this program (its first line differs); it was left untouched.  Logging "
                     "goes on in " + logs.path() + "/run.txt."),
            std::string::npos);
  const std::string sub = ReadFile(dir + "/sub.txt");
  EXPECT_NE(sub.find("FormatCmdLine::ProcessMacroLine() - Error, the value of macro %a would be "
                     "longer than 999 characters, the longest line a setup file may hold."),
            std::string::npos);
}

// Two programs naming one output: the second is refused and says which file;
// a program started again keeps the earlier log, moved aside.
TEST(TwoWriters, ASecondProgramIsRefusedAndAnEarlierLogIsMovedAside) {
  TempFolder work, scratch;
  const std::string dir = work.path();
  WriteFile(dir + "/s.cfg", "-AddTrial \"A\"\n-SetTrialCount \"A\" 1\n");

  const Outcome first = RunRunner({"--quiet", "--dry-run", "s.cfg"}, dir, scratch.path());
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string morning = ReadFile(dir + "/OrvantaLogFile.txt");
  const Outcome second = RunRunner({"--quiet", "--dry-run", "s.cfg"}, dir, scratch.path());
  ASSERT_EQ(second.status, 0) << second.err;
  std::vector<std::string> aside;
  for (const auto& [name, content] : Snapshot(dir)) {
    if (name.rfind("OrvantaLogFile.", 0) == 0 && name != "OrvantaLogFile.txt") {
      aside.push_back(name);
      EXPECT_EQ(content, morning);
    }
  }
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside[0].size(), std::string("OrvantaLogFile.yyyymmdd-hhmmss.txt").size()) << aside[0];
  EXPECT_NE(ReadFile(dir + "/OrvantaLogFile.txt")
                .find("LogFile::OpenLogFile() - The earlier log file of this name was moved "
                      "aside to " + dir + "/" + aside[0] + "."),
            std::string::npos);

  // Another program holds the log, then the timeline.
  OutputFileFailure failure;
  auto held = OpenOutputFile(dir + "/shared.txt", kLogFileHeader, failure);
  ASSERT_NE(held, nullptr) << failure.reason;
  std::fputs(kLogFileHeader, held->stream());
  std::fflush(held->stream());
  const auto before = Snapshot(dir);
  const Outcome log = RunRunner({"--quiet", "--dry-run", "--log", "shared", "s.cfg"}, dir,
                                scratch.path());
  EXPECT_EQ(log.status, 1);
  EXPECT_NE(log.err.find("orvanta-run: cannot open the log file " + dir + "/shared.txt: it is in "
                         "use by another program (it is locked)"),
            std::string::npos)
      << log.err;
  const Outcome timeline = RunRunner(
      {"--quiet", "--no-negotiate", "--server", "127.0.0.1", "--message-port",
       std::to_string(UnusedPort()), "--log", "own", "--timeline", "shared.txt", "s.cfg"},
      dir, scratch.path());
  EXPECT_EQ(timeline.status, 1);
  EXPECT_NE(timeline.err.find("cannot write the timeline file shared.txt: it is in use by another "
                              "program"),
            std::string::npos)
      << timeline.err;
  auto after = Snapshot(dir);
  after.erase("own.txt");
  EXPECT_EQ(after, before);

  // One program naming one file twice.
  const Outcome twice = RunRunner({"--log", "same", "--timeline", "same.txt", "s.cfg"}, dir,
                                  scratch.path());
  EXPECT_EQ(twice.status, 64);
  EXPECT_NE(twice.err.find("options --log and --timeline name the same file same.txt"),
            std::string::npos)
      << twice.err;
  EXPECT_FALSE(fs::exists(dir + "/same.txt"));
}

}  // namespace
}  // namespace orvanta::testing
