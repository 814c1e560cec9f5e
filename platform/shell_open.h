// The desktop's "open" verb, as a seam (View Log File).
#pragma once

#include <string>

namespace orvanta {

// Results follow the shell's convention: above 32 is success; 31 means no
// application is associated with the file; 5 means access was denied; any
// other value is another failure.
inline constexpr int kShellOpenOk = 42;
inline constexpr int kShellNoAssociation = 31;
inline constexpr int kShellAccessDenied = 5;
inline constexpr int kShellFileNotFound = 2;

class ShellOpener {
 public:
  virtual ~ShellOpener() = default;
  virtual int Open(const std::string& path) = 0;
};

// Opens the file with the desktop's default application (xdg-open). Access
// is checked first; a missing opener counts as no association.
class DesktopShellOpener : public ShellOpener {
 public:
  int Open(const std::string& path) override;
};

}  // namespace orvanta
