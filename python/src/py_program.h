// The program-wide objects behind one orvanta.Setup: a ProgramCore on seams
// that suit a Python process. No window; boxes are kept and turned into
// exceptions or summaries; nothing is opened in a desktop shell.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/program_core.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell_open.h"
#include "platform/window_listener.h"
#include "python/src/py_common.h"

namespace orvanta::python {

class NoShell : public ShellOpener {
 public:
  int Open(const std::string&) override { return kShellFileNotFound; }
};

struct PyProgram {
  SystemClock clock;
  KeptMessageBoxes boxes;
  MainWindowRef window;
  NoShell shell;
  ProgramCore core{ProgramSeams{clock, boxes, window, shell}, CurrentDirectoryWithSeparator()};
};

// The Python Setup object: shares its program with the trial types handed
// out and with a run that plays it.
struct PySetup {
  std::shared_ptr<PyProgram> program = std::make_shared<PyProgram>();
  // A run holds the setup while its worker plays the order.
  bool running = false;
  // The setup files it was read from (absolute), and the last seed given to
  // a shuffle: a session record names both.
  std::vector<std::string> sources;
  bool hasSeed = false;
  uint32_t seed = 0;
};

using SetupClass = py::class_<PySetup, std::shared_ptr<PySetup>>;

// Raises OrvantaError while a run plays the setup.
void RefuseWhileRunning(const PySetup& setup);

void BindSetup(py::module_& m);
// Setup.trigger, set_trigger and clear_trigger (py_trigger.cpp).
void BindSetupTriggers(SetupClass& cls);

}  // namespace orvanta::python
