// The window program's folders on Linux: the working directory at start,
// and QSettings in its native format (a file under ~/.config).
#include "app/app_folders.h"

namespace orvanta {

std::string UsableApplicationDirectory(const std::string& workingDirectory,
                                       const std::string& /*documentsFolder*/) {
  return workingDirectory;
}

std::string UsableApplicationDirectory(const std::string& workingDirectory) {
  return workingDirectory;
}

std::unique_ptr<QSettings> OpenWindowSettings(const std::string& /*applicationDirectory*/) {
  return std::make_unique<QSettings>();
}

}  // namespace orvanta
