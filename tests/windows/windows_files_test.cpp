// The Windows file seams under wine: output files, the run lock, row files,
// the record's time stamps and the setup file's save refusals.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "fakes/temp_folder.h"
#include "platform/output_file.h"
#include "record/record_io.h"
#include "script/setup_file_save.h"
#include "trials/worker_priority.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WindowsOutputFileTest, RefusesWhatIsNotItsOwnAndKnowsOneFileByAnySpelling) {
  testing::TempFolder folder;
  const std::string log = folder.path() + "\\Run.txt";
  OutputFileFailure failure;
  EXPECT_EQ(nullptr, OpenOutputFile(folder.path(), "Log", failure));
  EXPECT_EQ(OutputFileFailure::kRefused, failure.kind);
  EXPECT_EQ("it is a folder", failure.reason);
  EXPECT_EQ(nullptr, OpenOutputFile(folder.path() + "\\missing\\a.txt", "Log", failure));
  EXPECT_EQ("its folder does not exist", failure.reason);

  std::ofstream(log, std::ios::binary) << "someone else's notes";
  EXPECT_EQ(nullptr, OpenOutputFile(log, "Log", failure));
  EXPECT_EQ(OutputFileFailure::kRefused, failure.kind);
  EXPECT_EQ("someone else's notes", ReadFile(log));  // left untouched

  // Names ignore case here, and '/' separates as '\\' does.
  std::string other = folder.path() + "/run.TXT";
  EXPECT_TRUE(SameOutputFile(log, other));
  EXPECT_TRUE(SameOutputFile(folder.path() + "\\new.txt", folder.path() + "/NEW.txt"));
  EXPECT_FALSE(SameOutputFile(log, folder.path() + "\\Run2.txt"));
}

TEST(WindowsRecordIoTest, RunLockRowFilesAndTimeStamps) {
  testing::TempFolder folder;
  const std::string lock = folder.path() + "\\run.lock";
  std::string error;
  EXPECT_FALSE(record::IsRunLockHeld(lock));
  {
    record::RunLock held;
    ASSERT_TRUE(held.Acquire(lock, error)) << error;
    EXPECT_TRUE(record::IsRunLockHeld(lock));
    record::RunLock second;
    EXPECT_FALSE(second.Acquire(lock, error));
    EXPECT_EQ(0u, error.rfind("cannot lock " + lock + ": ", 0)) << error;
  }
  EXPECT_FALSE(record::IsRunLockHeld(lock));

  const std::string rows = folder.path() + "\\trials.tsv";
  record::RowFile file;
  ASSERT_TRUE(file.Create(rows, false, error)) << error;
  file.Append("a\tb\n");
  EXPECT_EQ("a\tb\n", ReadFile(rows));  // handed to the system at once
  file.Close();
  EXPECT_FALSE(file.Create(rows, false, error));  // new files only
  EXPECT_TRUE(file.Create(rows, true, error)) << error;

  const std::string when = record::LocalIsoTime(std::chrono::system_clock::now());
  EXPECT_TRUE(
      std::regex_match(when, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << when;
  EXPECT_EQ(static_cast<long>(::GetCurrentProcessId()), record::ThisProcessId());
  EXPECT_FALSE(record::ThisHostName().empty());
}

TEST(WindowsSetupSaveTest, FoldersAndReadOnlyFilesAreRefusedUntouched) {
  testing::TempFolder folder;
  auto write = [](std::FILE* f) { std::fputs("-AddTrial \"T\"\r\n", f); };
  EXPECT_EQ("the name is that of a folder", ReplaceSetupFile(folder.path(), write));
  const std::string path = folder.path() + "\\setup.cfg";
  std::ofstream(path, std::ios::binary) << "kept";
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ("cannot write to it: the file is read-only", ReplaceSetupFile(path, write));
  EXPECT_EQ("kept", ReadFile(path));
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ("", ReplaceSetupFile(path, write));
  EXPECT_EQ("-AddTrial \"T\"\r\n", ReadFile(path));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()));
}

TEST(WindowsWorkerPriorityTest, TimeCriticalWithAFineTimer) {
  const WorkerPriority priority = RaiseWorkerPriority();
  EXPECT_TRUE(priority.realtime);
  EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, priority.priority);
  EXPECT_TRUE(priority.fineTimerSlack);
}

}  // namespace
}  // namespace orvanta
