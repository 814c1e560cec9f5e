// Shared pieces of the setup-script tests: the shared fixture with the
// helpers these tests read it through, and a temporary folder with real files.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "support/program_env.h"
#include "trials/trial.h"

namespace orvanta::testing {

// A folder of its own under the system's temporary folder, removed with
// everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvanta-script-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes `content` byte for byte and returns the file's path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::string file = File(name);
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
  }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Length of "<14-character tag><space>HH:MM:SS.mmm - " before an entry's text.
inline constexpr size_t kEntryPrefix = 14 + 13 + 3;

// The shared fixture's program-wide objects, with no log file (every entry
// is inspected through the recording window).
struct ScriptModel : ProgramEnv {
  ScriptModel()
      : ProgramEnv(Options{.now = LocalTime{2024, 3, 7, 9, 5, 3, 45},
                           .logFile = false,
                           .folderPrefix = "orvanta-script-"}) {}

  // Every entry as "LEVEL|text" with LEVEL one of ERROR, NOTICE, ...
  std::vector<std::string> Entries() const {
    std::vector<std::string> out;
    for (const std::string& line : window.log_lines()) {
      std::string tag = line.substr(0, 14);
      std::string level;
      for (char c : tag)
        if (c >= 'A' && c <= 'Z') level += c;
      out.push_back(level + "|" + line.substr(kEntryPrefix));
    }
    return out;
  }
  // The texts of the ERROR entries.
  std::vector<std::string> Errors() const {
    std::vector<std::string> out;
    for (const std::string& entry : Entries())
      if (entry.rfind("ERROR|", 0) == 0) out.push_back(entry.substr(6));
    return out;
  }
  void ClearLog() { window.Clear(); }

  Trial* TrialNamed(const std::string& name) {
    Trial* trial = nullptr;
    EXPECT_EQ(trials.GetTrial(name, trial), 0) << name;
    return trial;
  }
  int32_t CountOf(const std::string& name) {
    int32_t suit = 0, count = -1;
    EXPECT_EQ(trials.GetSuitID(name, suit), 0);
    EXPECT_EQ(deck.GetNumCardsInSuit(suit, count), 0);
    return count;
  }
  // The deck's order as trial type names.
  std::vector<std::string> OrderNames() {
    std::vector<std::string> names;
    for (int32_t suit : deck.GetOrder()) {
      Trial* trial = nullptr;
      names.push_back(trials.GetTrial(suit, trial) == 0 ? trial->GetName() : "?");
    }
    return names;
  }
};

}  // namespace orvanta::testing
