// The start triggers of a setup's trial types: Setup.trigger, set_trigger
// and clear_trigger. A trigger is saved by Setup.save as the setup file's
// -SetStartOfTrialTrigger line, and reported by Setup.check.
#include <pybind11/stl.h>

#include <cctype>
#include <optional>
#include <string>

#include "python/src/py_program.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta::python {

namespace {

// The type of that name, or KeyError with the list's text.
Trial& TypeNamed(PySetup& setup, const std::string& name) {
  TrialContainer& trials = setup.program->core.trials();
  Trial* trial = nullptr;
  if (trials.IsTrialNameUnused(name) || trials.GetTrial(name, trial) != 0 || trial == nullptr) {
    Raise(PyExc_KeyError, "the setup has no trial type named '" + name + "'");
  }
  return *trial;
}

py::object TriggerOf(PySetup& setup, const std::string& name) {
  const TrialTrigger trigger = TypeNamed(setup, name).GetStartTrigger();
  if (!trigger.enabled) return py::none();
  py::dict values;
  values["object"] = trigger.object;
  values["count"] = trigger.count;
  values["window_ms"] = trigger.windowMs;
  values["timeout_ms"] = trigger.timeoutMs;
  values["on_timeout"] = TriggerTimeoutName(trigger.onTimeout);
  return values;
}

void SetTrigger(PySetup& setup, const std::string& name, const std::string& object, int32_t count,
                int32_t windowMs, int32_t timeoutMs, const std::string& onTimeout) {
  RefuseWhileRunning(setup);
  Trial& trial = TypeNamed(setup, name);
  TrialTrigger trigger;
  trigger.enabled = true;
  trigger.object = object;
  trigger.count = count;
  trigger.windowMs = windowMs;
  trigger.timeoutMs = timeoutMs;
  std::string action;
  for (char c : onTimeout) action += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (action == "skip") {
    trigger.onTimeout = TriggerTimeout::kSkip;
  } else if (action != "play") {
    Raise(PyExc_ValueError, "on_timeout is 'Play' or 'Skip', not '" + onTimeout + "'");
  }
  // What the setup file's command refuses, and negative times; the other
  // problems (an object the server does not have, a window too short, a
  // timeout of 0) are Setup.check's.
  if (count < 1) Raise(PyExc_ValueError, "count must be at least 1, not " + std::to_string(count));
  if (windowMs < 0 || timeoutMs < 0) {
    Raise(PyExc_ValueError, std::string(windowMs < 0 ? "window_ms" : "timeout_ms") +
                                " must not be negative, not " +
                                std::to_string(windowMs < 0 ? windowMs : timeoutMs));
  }
  trial.SetStartTrigger(trigger);
}

}  // namespace

void BindSetupTriggers(SetupClass& cls) {
  cls.def("trigger", &TriggerOf, py::arg("type"),
          "The start trigger of the trial type `type` (KeyError when there is none of that "
          "name): None when its trials start on the clock, else a dict with object (the "
          "acquisition object's name), count, window_ms, timeout_ms and on_timeout ('Play' or "
          "'Skip').")
      .def("set_trigger", &SetTrigger, py::arg("type"), py::arg("object"), py::arg("count") = 1,
           py::arg("window_ms") = 0, py::arg("timeout_ms") = 10000, py::arg("on_timeout") = "Play",
           "Gives the trial type `type` a start trigger, as -SetStartOfTrialTrigger does: each "
           "of its trials starts once `count` records of the acquisition object `object` came "
           "within `window_ms` ms (count 1: the next record); after `timeout_ms` ms without them "
           "the trial is played anyway ('Play') or skipped ('Skip'). Raises KeyError for an "
           "unknown type, ValueError for a count below 1, a negative time or another "
           "on_timeout. Setup.check() reports the rest (an object the server does not have, a "
           "window too short for the count, a timeout of 0).")
      .def(
          "clear_trigger",
          [](PySetup& setup, const std::string& name) {
            RefuseWhileRunning(setup);
            TypeNamed(setup, name).SetStartTrigger(TrialTrigger{});
          },
          py::arg("type"),
          "Removes the start trigger of the trial type `type`: its trials start on the clock "
          "again (KeyError for an unknown type).");
}

}  // namespace orvanta::python
