#include "python/src/py_common.h"

#include <thread>

namespace orvanta::python {

Exceptions& ModuleExceptions() {
  static Exceptions exceptions;
  return exceptions;
}

void Raise(PyObject* type, const std::string& text) {
  PyErr_SetString(type != nullptr ? type : PyExc_RuntimeError, text.c_str());
  throw py::error_already_set();
}

BoxResult KeptMessageBoxes::Show(const std::string& text, const std::string& caption,
                                 BoxIcon /*icon*/, BoxButtons buttons) {
  {
    MutexLock lock(&mutex_);
    // Nobody may ever take them (a client's boxes): keep the latest only.
    if (boxes_.size() >= kKeptBoxes) boxes_.erase(boxes_.begin());
    boxes_.push_back({caption, text});
  }
  return buttons == BoxButtons::kYesNo ? BoxResult::kYes : BoxResult::kOk;
}

std::vector<KeptMessageBoxes::Box> KeptMessageBoxes::Take() {
  MutexLock lock(&mutex_);
  std::vector<Box> taken;
  taken.swap(boxes_);
  return taken;
}

bool SignalRaised() { return PyErr_CheckSignals() != 0; }

void CallInterruptibly(const std::function<void()>& work, StopSignal& cancel) {
  Mutex mutex;
  CondVar changed(&mutex);
  bool done = false;
  std::exception_ptr failure;
  std::thread helper([&] {
    std::exception_ptr caught;
    try {
      work();
    } catch (...) {
      caught = std::current_exception();
    }
    MutexLock lock(&mutex);
    failure = caught;
    done = true;
    changed.SignalAll();
  });
  auto waitSlice = [&](bool untilDone) {
    py::gil_scoped_release release;
    MutexLock lock(&mutex);
    const auto deadline = std::chrono::steady_clock::now() + kSignalSlice;
    while (!done) {
      if (untilDone) {
        changed.Wait();
      } else if (!changed.WaitUntil(deadline)) {
        break;
      }
    }
    return done;
  };
  bool interrupted = false;
  while (!waitSlice(false)) {
    if (SignalRaised()) {
      interrupted = true;
      cancel.Request();
      break;
    }
  }
  if (interrupted) {
    // The Python error stays set while the helper winds down.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    waitSlice(true);
    helper.join();
    PyErr_Restore(type, value, traceback);
    throw py::error_already_set();
  }
  helper.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace orvanta::python
