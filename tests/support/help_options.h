// The options a program's --help lists, read as the bash completion and the
// man page check read them: the lines "  --name ..." and "  -x, --name ...".
#pragma once

#include <string>
#include <vector>

namespace orvanta::testing {

struct HelpOption {
  std::string alias;  // "-h", or empty
  std::string name;   // "--help"
  // A value follows the name after a single blank, written in capitals or
  // offering choices: "PATH", "N:MS", "fixed|relative", "HZ|max".
  bool takesValue = false;
};

inline std::vector<HelpOption> HelpOptions(const std::string& help) {
  std::vector<HelpOption> options;
  size_t start = 0;
  while (start < help.size()) {
    size_t end = help.find('\n', start);
    if (end == std::string::npos) end = help.size();
    std::string line = help.substr(start, end - start);
    start = end + 1;
    if (line.rfind("  -", 0) != 0) continue;
    HelpOption option;
    line.erase(0, 2);
    if (line.size() > 4 && line[0] == '-' && line[1] != '-' && line.compare(2, 2, ", ") == 0) {
      option.alias = line.substr(0, 2);
      line.erase(0, 4);
    }
    if (line.rfind("--", 0) != 0) continue;
    const size_t blank = line.find(' ');
    option.name = line.substr(0, blank);
    if (blank != std::string::npos && blank + 1 < line.size() && line[blank + 1] != ' ') {
      const std::string word = line.substr(blank + 1, line.find(' ', blank + 1) - blank - 1);
      for (char c : word)
        option.takesValue = option.takesValue || (c >= 'A' && c <= 'Z') || c == '|';
    }
    options.push_back(option);
  }
  return options;
}

}  // namespace orvanta::testing
