// Pieces every part of the Python module shares: the exception types, the
// waits that release the GIL and end on Ctrl+C, and the seams of a program
// built for a Python process.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/stop_signal.h"

namespace orvanta::python {

namespace py = pybind11;

// The module's exception types, created in the module's init:
//   OrvantaError (RuntimeError)  every failure the program reports
//   SetupFileError               a setup file that could not be run
//   ServerError                  the connection to the acquisition server
//   RecordError                  a session record that cannot be read
struct Exceptions {
  PyObject* orvanta = nullptr;
  PyObject* setupFile = nullptr;
  PyObject* server = nullptr;
  PyObject* record = nullptr;
};
Exceptions& ModuleExceptions();

// Raises `type` with `text` (the program's own words).
[[noreturn]] void Raise(PyObject* type, const std::string& text);

// Message boxes nobody sees: each box is kept, with its caption, so that the
// caller can turn it into an exception or a summary. Answers at once (Yes
// to a question, as the headless runner does). Thread-safe: the trial worker
// shows its end-of-run boxes on its own thread.
class KeptMessageBoxes : public MessageBoxes {
 public:
  struct Box {
    std::string caption;
    std::string text;
  };
  using MessageBoxes::Show;
  BoxResult Show(const std::string& text, const std::string& caption, BoxIcon icon,
                 BoxButtons buttons) override EXCLUDES(mutex_);
  // The most boxes kept; older ones are dropped.
  static constexpr size_t kKeptBoxes = 64;
  // The boxes shown since the last call, oldest first.
  std::vector<Box> Take() EXCLUDES(mutex_);

 private:
  Mutex mutex_;
  std::vector<Box> boxes_ GUARDED_BY(mutex_);
};

// How long a wait holds the GIL released before it looks at Python's
// signals again.
inline constexpr std::chrono::milliseconds kSignalSlice{50};

// Runs Python's signal handlers (with the GIL held). True when one raised
// (Ctrl+C: KeyboardInterrupt); the Python error is then set.
bool SignalRaised();

// Runs `work` on a helper thread while the calling (Python) thread waits
// with the GIL released, in slices between which Python's signal handlers
// run. When a handler raises (Ctrl+C), `cancel` is requested, the helper is
// waited for (the work must end promptly on `cancel`, or within its own
// bound) and the Python error propagates as py::error_already_set. An
// exception thrown by `work` is thrown again on the calling thread. `work`
// must not touch Python objects. Call with the GIL held.
void CallInterruptibly(const std::function<void()>& work, StopSignal& cancel);

}  // namespace orvanta::python
