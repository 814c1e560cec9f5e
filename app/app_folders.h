// Where the window program keeps its files: the application log, the client
// log and the session records (all in the application directory), and its
// one setting, the session records folder.
#pragma once

#include <QSettings>

#include <memory>
#include <string>

namespace orvanta {

// The application directory for a start in `workingDirectory` (with its
// trailing separator). That is the working directory itself, the folder the
// log goes to. On Windows a double-click starts the program in its own
// folder, which under Program Files a user may not write to: there, when
// `workingDirectory` cannot be written, the folder "Orvanta" in
// `documentsFolder` (created when missing) is used instead, and when that
// fails too, `workingDirectory` as it is (the log then reports why it cannot
// open). Elsewhere `workingDirectory` is returned unchanged.
std::string UsableApplicationDirectory(const std::string& workingDirectory,
                                       const std::string& documentsFolder);

// The same with the user's documents folder.
std::string UsableApplicationDirectory(const std::string& workingDirectory);

// The window's settings. On Windows the INI file "Orvanta.ini" in
// `applicationDirectory`, beside the application log, so that the program
// writes nothing to the registry; elsewhere the desktop's usual place for the
// application's organisation name.
std::unique_ptr<QSettings> OpenWindowSettings(const std::string& applicationDirectory);

}  // namespace orvanta
