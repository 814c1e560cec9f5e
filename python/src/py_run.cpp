// orvanta.run: plays a setup's order on the trial worker of the window and
// orvanta-run, through a Client's connection, with the same session record.
// The calling Python thread waits with the GIL released; the run's events
// are queued by the worker's observer and handed to the Python callback from
// the waiting thread, so a slow callback never delays a trial.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/version.h"
#include "python/src/py_client.h"
#include "python/src/py_program.h"
#include "record/session_record.h"
#include "trials/run_observer.h"
#include "trials/run_timing.h"

namespace orvanta::python {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A trial as the callback sees it.
struct TrialStarted {
  int32_t number = 0;
  std::string name;
  double time = 0;  // seconds from the run's start, on the steady clock
};

// What orvanta.run returns.
struct RunResult {
  std::string outcome;  // "completed", "stopped", "failed"
  int32_t failedCommands = 0;
  bool connectionLost = false;
  std::optional<py::dict> firstFailure;
  std::string record;   // the record's folder; empty without one
  std::string report;   // its report.html once written
  std::string message;  // the end-of-run box text, as the window shows it
  int32_t firstTrial = 1;
  int32_t numberOfTrials = 0;
};

// Listens to the worker: passes every call on to the session record (when
// there is one) and queues the trial starts for the Python thread.
class QueueingObserver : public RunObserver {
 public:
  explicit QueueingObserver(RunObserver* next) : next_(next) {}

  void OnRunStarted(int32_t firstTrial, int32_t numTrials,
                    SteadyClock::time_point startedAt) override EXCLUDES(mutex_) {
    {
      MutexLock lock(&mutex_);
      start_ = startedAt;
    }
    if (next_ != nullptr) next_->OnRunStarted(firstTrial, numTrials, startedAt);
  }
  void OnTrialStarted(int32_t trialNumber, const std::string& trialName,
                      SteadyClock::time_point startedAt) override EXCLUDES(mutex_) {
    if (next_ != nullptr) next_->OnTrialStarted(trialNumber, trialName, startedAt);
    MutexLock lock(&mutex_);
    queue_.push_back(TrialStarted{trialNumber, trialName,
                                  std::chrono::duration<double>(startedAt - start_).count()});
    changed_.SignalAll();
  }
  void OnCommand(const CommandRecord& record) override {
    if (next_ != nullptr) next_->OnCommand(record);
  }
  void OnTrigger(const TriggerRecord& record) override {
    if (next_ != nullptr) next_->OnTrigger(record);
  }
  void OnRunEnded(const RunSummary& end) override EXCLUDES(mutex_) {
    if (next_ != nullptr) next_->OnRunEnded(end);
    MutexLock lock(&mutex_);
    end_ = end;
    ended_ = true;
    changed_.SignalAll();
  }
  std::string CompletionNote() override {
    return next_ != nullptr ? next_->CompletionNote() : std::string();
  }

  // Waits up to `timeout` for a queued trial or the end; takes the queue.
  std::deque<TrialStarted> Wait(std::chrono::milliseconds timeout) EXCLUDES(mutex_) {
    const auto deadline = SteadyClock::now() + timeout;
    MutexLock lock(&mutex_);
    while (queue_.empty() && !ended_) {
      if (!changed_.WaitUntil(deadline)) break;
    }
    std::deque<TrialStarted> taken;
    taken.swap(queue_);
    return taken;
  }
  bool Ended(RunSummary* end) const EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    if (ended_ && end != nullptr) *end = end_;
    return ended_;
  }

 private:
  RunObserver* const next_;
  mutable Mutex mutex_;
  CondVar changed_{&mutex_};
  SteadyClock::time_point start_ GUARDED_BY(mutex_);
  std::deque<TrialStarted> queue_ GUARDED_BY(mutex_);
  bool ended_ GUARDED_BY(mutex_) = false;
  RunSummary end_ GUARDED_BY(mutex_);
};

// Puts the trial list back as the setup had it, whatever way the run ends.
struct RunWiring {
  PySetup& setup;
  TrialContainer& trials;
  ~RunWiring() {
    trials.SetRunObserver(nullptr);
    trials.SetCommandChannel(&setup.program->core.client());
    setup.running = false;
  }
};

// Stops the run and waits for its worker, with the GIL released.
void StopAndWait(TrialContainer& trials) {
  py::gil_scoped_release release;
  trials.StopProcessingTrials();
  while (!trials.WaitForRunEnd(std::chrono::milliseconds(500))) {
    trials.StopProcessingTrials();
  }
  trials.JoinWorkers();
}

// Checks the arguments and the connection before a run, and sets the
// schedule; the number of trials in the order.
int32_t PrepareRun(PySetup& setup, PyClient& client, const std::optional<std::string>& schedule,
                   int32_t startAt, const py::object& onTrial) {
  PyProgram& program = *setup.program;
  if (setup.running) Raise(ModuleExceptions().orvanta, "the setup is being run already");
  if (!onTrial.is_none() && !PyCallable_Check(onTrial.ptr())) {
    Raise(PyExc_TypeError, "on_trial must be callable or None");
  }
  if (schedule) {
    TimingMode mode;
    if (!ParseTimingMode(*schedule, mode)) {
      Raise(PyExc_ValueError, "schedule is 'fixed' or 'relative', not '" + *schedule + "'");
    }
    program.core.trials().SetTimingMode(mode);
  }
  const int32_t numCards = program.core.deck().GetNumCards();
  if (startAt < 1) Raise(PyExc_ValueError, "start_at counts from 1");
  if (startAt > 1 && startAt > numCards) {
    Raise(PyExc_ValueError, "start_at " + std::to_string(startAt) +
                                " is beyond the last trial of the run order (" +
                                std::to_string(numCards) + ")");
  }
  RequireConnection(client);
  // As the Start button does: the connection must answer before a run.
  StopSignal cancel;
  bool alive = false;
  CallInterruptibly([&] { alive = client.client.IsConnected(&cancel); }, cancel);
  if (!alive) {
    Raise(ModuleExceptions().server,
          "Unable to process trials, a connection to Quorvin has not been established");
  }
  return numCards;
}

// What the session record keeps of the run about to be played.
record::SessionSetup RecordedSetup(PySetup& setup, PyClient& client, int32_t startAt,
                                   int32_t numCards) {
  PyProgram& program = *setup.program;
  TrialContainer& trials = program.core.trials();
  record::SessionSetup info;
  info.frontEnd = "orvanta (Python)";
  info.version = ORVANTA_VERSION;
  info.setupText = program.core.config().GetSetupFileText(program.clock.Now());
  info.setupSources = setup.sources;
  info.hasSeed = setup.hasSeed;
  info.seed = setup.seed;
  info.server = client.server;
  info.negotiate = client.negotiate;
  info.negotiationPort = client.negotiationPort;
  info.messagePort = client.messagePort;
  info.replyTimeoutMs = client.client.GetReplyTimeout().count();
  info.firstTrial = startAt;
  info.numTrials = numCards;
  info.types = record::TrialTypeTimings(trials);
  info.timing = TimingModeName(trials.GetTimingMode());
  return info;
}

// Waits for the run's end, handing each trial start to `onTrial`. Ctrl+C,
// or an exception from the callback, stops the run as the Stop button does
// (a pulse in progress is reset) and goes on once the worker has ended.
void AwaitRun(TrialContainer& trials, QueueingObserver& observer, const py::object& onTrial) {
  try {
    for (;;) {
      std::deque<TrialStarted> started;
      bool ended = false;
      {
        py::gil_scoped_release release;
        started = observer.Wait(kSignalSlice);
        ended = trials.WaitForRunEnd(std::chrono::milliseconds(0));
        // Trials queued just before the end are delivered too.
        if (ended) {
          for (TrialStarted& trial : observer.Wait(std::chrono::milliseconds(0))) {
            started.push_back(std::move(trial));
          }
        }
      }
      if (!onTrial.is_none()) {
        for (const TrialStarted& trial : started) onTrial(trial);
      }
      if (SignalRaised()) throw py::error_already_set();
      if (ended) break;
    }
  } catch (...) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    StopAndWait(trials);
    PyErr_Restore(type, value, traceback);
    throw;
  }
  py::gil_scoped_release release;
  trials.JoinWorkers();
}

// The run's end as orvanta.run returns it; takes the boxes shown meanwhile.
RunResult ResultOf(const QueueingObserver& observer, PyProgram& program) {
  RunResult result;
  RunSummary end;
  observer.Ended(&end);
  result.outcome = RunOutcomeName(end.outcome);
  result.failedCommands = end.failedCommands;
  result.connectionLost = end.connectionLost;
  if (end.failedCommands > 0) {
    const CommandRecord& first = end.connectionLost ? end.lostAt : end.firstFailure;
    py::dict failure;
    failure["trial"] = first.trialNumber;
    failure["type"] = first.trialName;
    failure["step"] = RunStepName(first.step);
    failure["command"] = first.command;
    failure["reason"] = first.status.Describe();
    result.firstFailure = failure;
  }
  for (const KeptMessageBoxes::Box& box : program.boxes.Take()) {
    if (!result.message.empty()) result.message += "\n";
    std::string text;
    for (char c : box.text) {
      if (c != '\r') text += c;
    }
    result.message += text;
  }
  return result;
}

RunResult Run(const std::shared_ptr<PySetup>& setupPtr, const std::shared_ptr<PyClient>& clientPtr,
              const std::optional<std::string>& schedule, int32_t startAt,
              const std::optional<std::filesystem::path>& recordsFolder,
              const py::object& onTrial) {
  const std::optional<std::string> recordDir =
      recordsFolder ? std::optional<std::string>(recordsFolder->string()) : std::nullopt;
  PySetup& setup = *setupPtr;
  PyClient& client = *clientPtr;
  PyProgram& program = *setup.program;
  TrialContainer& trials = program.core.trials();
  const int32_t numCards = PrepareRun(setup, client, schedule, startAt, onTrial);

  // The record begins before the first command: its setup.cfg is the setup
  // this run is about to play.
  record::SessionRecord sessionRecord;
  if (recordDir) {
    std::string error;
    if (!sessionRecord.Begin(*recordDir, RecordedSetup(setup, client, startAt, numCards), error)) {
      Raise(ModuleExceptions().record, "cannot write the session record: " + error);
    }
  }

  QueueingObserver observer(recordDir ? &sessionRecord : nullptr);
  program.boxes.Take();
  {
    RunWiring wiring{setup, trials};
    setup.running = true;
    trials.SetCommandChannel(&client.client);
    trials.SetRunObserver(&observer);
    if (trials.StartProcessingTrials(startAt) != 0) {
      sessionRecord.Abandon();
      Raise(ModuleExceptions().orvanta, "the trial worker could not be started");
    }
    // Every way out waits for the worker first: it uses the observer and the
    // record on this stack.
    AwaitRun(trials, observer, onTrial);
  }

  RunResult result = ResultOf(observer, program);
  if (recordDir) {
    result.record = sessionRecord.folder();
    result.report = sessionRecord.reportPath();
  }
  result.firstTrial = startAt;
  result.numberOfTrials = numCards;
  return result;
}

}  // namespace

void BindRun(py::module_& m) {
  py::class_<TrialStarted>(m, "TrialStarted", "A trial of a run has begun.")
      .def_readonly("number", &TrialStarted::number, "1-based number in the whole order.")
      .def_readonly("name", &TrialStarted::name, "Its trial type.")
      .def_readonly("time", &TrialStarted::time, "Seconds from the run's start.")
      .def("__repr__", [](const TrialStarted& t) {
        return "TrialStarted(number=" + std::to_string(t.number) + ", name='" + t.name + "')";
      });

  py::class_<RunResult>(m, "RunResult", "How a run ended.")
      .def_readonly("outcome", &RunResult::outcome, "'completed', 'stopped' or 'failed'.")
      .def_readonly("failed_commands", &RunResult::failedCommands)
      .def_readonly("connection_lost", &RunResult::connectionLost)
      .def_readonly("first_failure", &RunResult::firstFailure,
                    "The first failed exchange (trial, type, step, command, reason), or None.")
      .def_readonly("record", &RunResult::record, "The session record's folder ('' without one).")
      .def_readonly("report", &RunResult::report, "The record's report.html ('' if not written).")
      .def_readonly("message", &RunResult::message,
                    "The end-of-run box text the window would show.")
      .def_readonly("first_trial", &RunResult::firstTrial)
      .def_readonly("number_of_trials", &RunResult::numberOfTrials)
      .def("__bool__", [](const RunResult& r) { return r.outcome == "completed"; })
      .def("__repr__", [](const RunResult& r) {
        return "RunResult(outcome='" + r.outcome +
               "', failed_commands=" + std::to_string(r.failedCommands) + ", record='" + r.record +
               "')";
      });

  m.def("run", &Run, py::arg("setup"), py::arg("client"), py::arg("schedule") = "fixed",
        py::arg("start_at") = 1, py::arg("record_dir") = "OrvantaSessions",
        py::arg("on_trial") = py::none(),
        "Plays the setup's run order through the client's connection on the trial worker of "
        "the window and orvanta-run, writing the same session record (in `record_dir`; None "
        "writes none). `schedule` is 'fixed' or 'relative' (None: the setup's own); it stays "
        "set on the setup. `start_at` resumes at a later trial. `on_trial(trial)` is called on "
        "this thread, never on the worker, with a TrialStarted. Ctrl+C stops the run as the "
        "Stop button does (a pulse in progress is reset), then raises KeyboardInterrupt. "
        "Returns a RunResult.");
}

}  // namespace orvanta::python
