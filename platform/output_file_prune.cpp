// The files that opens of an output file moved aside, and the removal of the
// oldest of them. Portable: names and contents only.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/output_file.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// For "<stem>.<yyyymmdd-hhmmss>[-N]<extension>": the sort key
// "yyyymmdd-hhmmss" and N (1 without a suffix). False for any other name.
bool ParseAsideName(const std::string& name, const std::string& stem, const std::string& extension,
                    std::pair<std::string, long>& key) {
  constexpr size_t kStampLength = 15;  // yyyymmdd-hhmmss
  if (name.size() < stem.size() + 1 + kStampLength + extension.size()) return false;
  if (name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '.') return false;
  if (name.compare(name.size() - extension.size(), extension.size(), extension) != 0) return false;
  const std::string middle =
      name.substr(stem.size() + 1, name.size() - stem.size() - 1 - extension.size());
  const std::string stamp = middle.substr(0, kStampLength);
  if (!AllDigits(stamp.substr(0, 8)) || stamp[8] != '-' || !AllDigits(stamp.substr(9))) {
    return false;
  }
  long attempt = 1;
  if (middle.size() > kStampLength) {
    const std::string suffix = middle.substr(kStampLength);
    if (suffix.size() < 2 || suffix.size() > 10 || suffix[0] != '-' ||
        !AllDigits(suffix.substr(1))) {
      return false;
    }
    attempt = std::stol(suffix.substr(1));
  }
  key = {stamp, attempt};
  return true;
}

bool StartsWithHeader(const fs::path& file, const std::string& header) {
  std::ifstream in(file, std::ios::binary);
  std::string start(header.size(), '\0');
  in.read(start.data(), static_cast<std::streamsize>(start.size()));
  return in.gcount() == static_cast<std::streamsize>(header.size()) && start == header;
}

}  // namespace

std::vector<std::string> PruneMovedAside(const std::string& path, const std::string& ownHeader,
                                         size_t keep) {
  std::vector<std::string> removed;
  if (ownHeader.empty()) return removed;
  const fs::path target(path);
  const std::string name = target.filename().string();
  const std::string::size_type dot = name.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  const std::string stem = hasExtension ? name.substr(0, dot) : name;
  const std::string extension = hasExtension ? name.substr(dot) : std::string();
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";

  std::vector<std::pair<std::pair<std::string, long>, fs::path>> ours;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::pair<std::string, long> key;
    if (!ParseAsideName(it->path().filename().string(), stem, extension, key)) continue;
    std::error_code statusError;
    const fs::file_status status = fs::symlink_status(it->path(), statusError);
    if (statusError || !fs::is_regular_file(status)) continue;
    if (!StartsWithHeader(it->path(), ownHeader)) continue;
    ours.emplace_back(key, it->path());
  }
  if (ours.size() <= keep) return removed;
  std::sort(ours.begin(), ours.end());
  for (size_t i = 0; i + keep < ours.size(); ++i) {
    std::error_code removeError;
    if (fs::remove(ours[i].second, removeError)) removed.push_back(ours[i].second.string());
  }
  return removed;
}

}  // namespace orvanta
