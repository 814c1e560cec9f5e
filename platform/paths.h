// File-system helpers shared by the window program and the headless runner.
#pragma once

#include <string>

namespace orvanta {

// The platform's path separator ('/' here, '\\' on Windows).
char PathSeparator();

// The current working directory followed by the platform separator, as
// gApplicationDirectory holds it. Empty when it cannot be read.
std::string CurrentDirectoryWithSeparator();

}  // namespace orvanta
