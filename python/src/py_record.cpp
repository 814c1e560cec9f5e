// orvanta.Record's reading half: a session record as plain Python values,
// read by the record reader the report and --resume use. The Python class
// around it turns the row lists into DataFrames when pandas is there.
#include <pybind11/stl.h>

#include <string>

#include "python/src/py_common.h"
#include "record/json.h"
#include "record/record_reader.h"

namespace orvanta::python {

namespace {

py::object ToPython(const record::Json& value) {
  using Kind = record::Json::Kind;
  switch (value.kind()) {
    case Kind::kNull:
      return py::none();
    case Kind::kBool:
      return py::bool_(value.boolean());
    case Kind::kNumber: {
      const double number = value.number();
      if (number == static_cast<double>(static_cast<int64_t>(number)) && number < 9.0e15 &&
          number > -9.0e15) {
        return py::int_(static_cast<int64_t>(number));
      }
      return py::float_(number);
    }
    case Kind::kString:
      return py::str(value.text());
    case Kind::kArray: {
      py::list list;
      for (const record::Json& item : value.items()) list.append(ToPython(item));
      return list;
    }
    case Kind::kObject:
      break;
  }
  // Objects: the reader keeps keys beside the values; Dump and parse back
  // through Python's own json to keep their order.
  return py::module_::import("json").attr("loads")(value.Dump());
}

// None for the reader's -1 ("not sent", "no reply", "n/a").
py::object Micros(int64_t us) { return us < 0 ? py::object(py::none()) : py::int_(us); }

py::dict Load(const std::string& folder) {
  record::LoadedRecord loaded;
  std::string error;
  bool ok = false;
  {
    py::gil_scoped_release release;
    ok = record::LoadRecord(folder, loaded, error);
  }
  if (!ok)
    Raise(ModuleExceptions().record, "cannot read the session record " + folder + ": " + error);
  py::dict out;
  out["folder"] = loaded.folder;
  out["outcome"] = loaded.outcome;
  out["session"] = ToPython(loaded.session);
  py::list timeline, trials, events, failures;
  for (const record::TimelineRow& r : loaded.timeline) {
    py::dict row;
    row["trial"] = r.trial;
    row["type"] = r.type;
    row["step"] = r.step;
    row["command"] = r.command;
    row["reply"] = r.reply;
    row["sent_us"] = Micros(r.sentUs);
    row["replied_us"] = Micros(r.repliedUs);
    row["status"] = r.status;
    timeline.append(row);
  }
  for (const record::TrialRow& r : loaded.trials) {
    py::dict row;
    row["trial"] = r.trial;
    row["type"] = r.type;
    row["start_us"] = r.startUs;
    row["end_us"] = r.endUs;
    row["outcome"] = r.outcome;
    trials.append(row);
  }
  for (const record::EventRow& r : loaded.events) {
    py::dict row;
    row["onset"] = r.onset;
    row["duration"] = r.duration < 0 ? py::object(py::none()) : py::float_(r.duration);
    row["trial_type"] = r.trialType;
    row["value"] = r.value;
    row["trial"] = r.trial;
    row["acknowledged"] = r.acknowledged;
    events.append(row);
  }
  for (const record::FailureRow& r : loaded.failures) {
    py::dict row;
    row["trial"] = r.trial;
    row["step"] = r.step;
    row["command"] = r.command;
    row["sent_us"] = Micros(r.sentUs);
    row["status"] = r.status;
    row["reason"] = r.reason;
    failures.append(row);
  }
  out["timeline"] = timeline;
  out["trials"] = trials;
  out["events"] = events;
  out["failures"] = failures;
  // Start triggers (triggers.tsv); the summary is session["triggers"].
  py::list triggers;
  for (const record::TriggerRow& r : loaded.triggers) {
    py::dict row;
    row["trial"] = r.trial;
    row["type"] = r.type;
    row["object"] = r.object;
    row["count"] = r.count;
    row["window_ms"] = r.windowMs;
    row["timeout_ms"] = r.timeoutMs;
    row["outcome"] = r.outcome;
    row["armed_us"] = Micros(r.armedUs);
    row["decided_us"] = Micros(r.decidedUs);
    row["arrived_us"] = Micros(r.arrivedUs);
    row["latency_ms"] = r.latencyUs < 0 ? py::object(py::none())
                                        : py::float_(static_cast<double>(r.latencyUs) / 1000.0);
    triggers.append(row);
  }
  out["triggers"] = triggers;
  out["resume_point"] = record::ResumeTrial(loaded);
  return out;
}

}  // namespace

void BindRecord(py::module_& m) {
  m.def("_load_record", &Load, py::arg("folder"),
        "Reads a session record (an interrupted one too) into plain values.");
}

}  // namespace orvanta::python
