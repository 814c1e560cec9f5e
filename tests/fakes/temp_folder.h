// A private folder under the system's temp folder for one test, removed
// with its contents when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace orvanta::testing {

class TempFolder {
 public:
  // The folder's name is `prefix` followed by six random characters. If it
  // cannot be made, path() is empty.
  explicit TempFolder(const std::string& prefix = "orvanta-test-") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace orvanta::testing
