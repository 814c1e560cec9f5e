// orvanta.Setup and orvanta.TrialType: the setup the window edits, loaded
// and saved by the same interpreter and writer, shuffled by the same deck.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/setup_check.h"
#include "python/src/py_program.h"
#include "script/command_processor.h"
#include "script/config_file_processor.h"
#include "trials/card_deck.h"
#include "trials/run_timing.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta::python {

namespace {

// A box text as Python shows it: line breaks without carriage returns.
std::string Unix(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') out += c;
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// Raises SetupFileError for the failed load of `path`, with the text of the
// "Configuration File Error" box (or the log's reason when the file could
// not be opened) and the attributes path, line, command and reason.
[[noreturn]] void RaiseLoadFailure(PyProgram& program, const std::string& path) {
  const ScriptOutcome& outcome = program.core.config().GetLastOutcome();
  std::string text;
  for (const KeptMessageBoxes::Box& box : program.boxes.Take()) {
    if (box.caption == "Configuration File Error") text = Unix(box.text);
  }
  if (text.empty())
    text = outcome.reason.empty() ? "cannot open setup file " + path : outcome.reason;
  PyObject* type = ModuleExceptions().setupFile;
  py::object error = py::reinterpret_borrow<py::object>(type)(text);
  error.attr("path") = path;
  error.attr("line") = outcome.lineNumber;
  error.attr("command") = outcome.commandLine;
  error.attr("reason") = outcome.reason;
  PyErr_SetObject(type, error.ptr());
  throw py::error_already_set();
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

// Runs a setup file with the GIL released (the file is read from disk).
int ProcessScript(PyProgram& program, const std::string& path) {
  py::gil_scoped_release release;
  return program.core.config().ProcessScript(path);
}

// One trial type of a setup, looked up by name at each use.
struct PyTrialType {
  std::shared_ptr<PySetup> setup;
  std::string name;

  Trial& Get() const {
    Trial* trial = nullptr;
    if (setup->program->core.trials().GetTrial(name, trial) != 0 || trial == nullptr) {
      Raise(PyExc_KeyError, setup->program->core.trials().GetMessage());
    }
    return *trial;
  }
  int32_t Suit() const {
    int32_t suit = -1;
    if (setup->program->core.trials().GetSuitID(name, suit) != 0) {
      Raise(PyExc_KeyError, setup->program->core.trials().GetMessage());
    }
    return suit;
  }
};

template <class Value, class Setter>
void Field(py::class_<PyTrialType>& type, const char* name, Value (Trial::*get)() const, Setter set,
           const char* doc) {
  type.def_property(
      name, [get](const PyTrialType& t) { return (t.Get().*get)(); },
      [set](const PyTrialType& t, Value value) {
        RefuseWhileRunning(*t.setup);
        (t.Get().*set)(value);
      },
      doc);
}

PyTrialType TypeOf(const std::shared_ptr<PySetup>& setup, const std::string& name) {
  PyTrialType type{setup, name};
  type.Get();  // raises KeyError for an unknown name
  return type;
}

struct ShuffleResult {
  bool limitMet = true;
  std::vector<int32_t> breaks;
  std::string message;
};

// Opens the setup's application log, as the window and orvanta-run do at
// start-up: `log`, or OrvantaLogFile.txt in the current directory. A setup
// always has one, so that its saved files and records read back. While the
// default file is held by another setup of this process (or another
// program), the next free OrvantaLogFile-N.txt is taken; a named log that
// cannot be had raises.
std::shared_ptr<PySetup> MakeSetup(const std::optional<std::string>& log) {
  auto setup = std::make_shared<PySetup>();
  PyProgram& program = *setup->program;
  LogFile& file = program.core.log();
  for (int n = 1; n <= 100; ++n) {
    const std::string path = log ? *log
                                 : program.core.applicationDirectory() +
                                       (n == 1 ? std::string("OrvantaLogFile.txt")
                                               : "OrvantaLogFile-" + std::to_string(n) + ".txt");
    const int status = file.SetLogFilename(path);
    const std::vector<LogOpenFailure> failures = file.TakeOpenFailures();
    program.boxes.Take();
    if (status == 0 && failures.empty()) break;
    const bool tryAnother =
        !log && !failures.empty() && failures.front().failure.kind == OutputFileFailure::kInUse;
    if (!tryAnother || n == 100) {
      Raise(ModuleExceptions().orvanta,
            "cannot open the log file " + (failures.empty() ? path : failures.front().path) +
                (failures.empty() ? std::string() : ": " + failures.front().failure.reason));
    }
  }
  return setup;
}

void BindShuffleResult(py::module_& m) {
  py::class_<ShuffleResult>(m, "ShuffleResult",
                            "What a shuffle achieved: whether the order keeps the limit of trials "
                            "of one type in a row, and where it breaks it.")
      .def_readonly("limit_met", &ShuffleResult::limitMet,
                    "True when no run of one type is longer than the limit.")
      .def_readonly("breaks", &ShuffleResult::breaks,
                    "1-based positions of the cards that make a run longer than the limit "
                    "(the best order found is kept).")
      .def_readonly("message", &ShuffleResult::message,
                    "The deck's text when the limit could not be met, else empty.")
      .def("__bool__", [](const ShuffleResult& r) { return r.limitMet; })
      .def("__repr__", [](const ShuffleResult& r) {
        return "ShuffleResult(limit_met=" + std::string(r.limitMet ? "True" : "False") +
               ", breaks=" + std::to_string(r.breaks.size()) + " cards)";
      });
}

void BindTrialType(py::module_& m) {
  py::class_<PyTrialType> type(m, "TrialType",
                               "One trial type of a setup. Reading or setting a field changes "
                               "the setup at once, as the window's editor does; a type that was "
                               "removed raises KeyError.");
  type.def_property_readonly(
          "name", [](const PyTrialType& t) { return t.Get().GetName(); },
          "The type's name (unique within the setup).")
      .def_property(
          "count",
          [](const PyTrialType& t) {
            int32_t count = 0;
            t.setup->program->core.deck().GetNumCardsInSuit(t.Suit(), count);
            return count;
          },
          [](const PyTrialType& t, int32_t count) {
            RefuseWhileRunning(*t.setup);
            CardDeck& deck = t.setup->program->core.deck();
            if (deck.SetNumCardsInSuit(t.Suit(), count) != 0) {
              Raise(PyExc_ValueError, deck.GetMessage());
            }
          },
          "Number of trials of this type in the run order (setting it rebuilds the order "
          "unshuffled).");
  Field(type, "duration", &Trial::GetTrialDuration, &Trial::SetTrialDuration,
        "Trial duration in ms.");
  Field(type, "interval", &Trial::GetInterTrialInterval, &Trial::SetInterTrialInterval,
        "Inter-trial interval in ms.");
  Field(type, "start_event", &Trial::GetStartOfTrialGenerateEvent,
        &Trial::SetStartOfTrialGenerateEvent, "Post an event at the start of each trial.");
  Field(type, "start_event_string", &Trial::GetStartOfTrialEventString,
        &Trial::SetStartOfTrialEventString, "The start event's string.");
  Field(type, "start_event_ttl", &Trial::GetStartOfTrialEventTTLValue,
        &Trial::SetStartOfTrialEventTTLValue, "The start event's TTL value.");
  Field(type, "start_pulse", &Trial::GetStartOfTrialGenerateTTLPulse,
        &Trial::SetStartOfTrialGenerateTTLPulse, "Pulse a bit at the start of each trial.");
  Field(type, "start_pulse_bit", &Trial::GetStartOfTrialTTLPulseBitNumber,
        &Trial::SetStartOfTrialTTLPulseBitNumber, "The start pulse's bit (0..15).");
  Field(type, "start_pulse_duration", &Trial::GetStartOfTrialTTLPulseDuration,
        &Trial::SetStartOfTrialTTLPulseDuration, "The start pulse's width in ms.");
  Field(type, "start_pulse_board", &Trial::GetStartOfTrialTTLPulseBoardNumber,
        &Trial::SetStartOfTrialTTLPulseBoardNumber, "The start pulse's board number.");
  Field(type, "start_pulse_subsystem", &Trial::GetStartOfTrialTTLPulseSubSystemName,
        &Trial::SetStartOfTrialTTLPulseSubSystemName, "The start pulse's subsystem name.");
  Field(type, "end_event", &Trial::GetEndOfTrialGenerateEvent, &Trial::SetEndOfTrialGenerateEvent,
        "Post an event at the end of each trial.");
  Field(type, "end_event_string", &Trial::GetEndOfTrialEventString,
        &Trial::SetEndOfTrialEventString, "The end event's string.");
  Field(type, "end_event_ttl", &Trial::GetEndOfTrialEventTTLValue,
        &Trial::SetEndOfTrialEventTTLValue, "The end event's TTL value.");
  Field(type, "end_pulse", &Trial::GetEndOfTrialGenerateTTLPulse,
        &Trial::SetEndOfTrialGenerateTTLPulse, "Pulse a bit at the end of each trial.");
  Field(type, "end_pulse_bit", &Trial::GetEndOfTrialTTLPulseBitNumber,
        &Trial::SetEndOfTrialTTLPulseBitNumber, "The end pulse's bit (0..15).");
  Field(type, "end_pulse_duration", &Trial::GetEndOfTrialTTLPulseDuration,
        &Trial::SetEndOfTrialTTLPulseDuration, "The end pulse's width in ms.");
  Field(type, "end_pulse_board", &Trial::GetEndOfTrialTTLPulseBoardNumber,
        &Trial::SetEndOfTrialTTLPulseBoardNumber, "The end pulse's board number.");
  Field(type, "end_pulse_subsystem", &Trial::GetEndOfTrialTTLPulseSubSystemName,
        &Trial::SetEndOfTrialTTLPulseSubSystemName, "The end pulse's subsystem name.");
  Field(type, "play_wav", &Trial::GetPlayWavFile, &Trial::SetPlayWavFile,
        "Play a wav file at the start of each trial.");
  Field(type, "wav_file", &Trial::GetWavFileName, &Trial::SetWavFileName, "The wav file.");
  Field(type, "wav_buffer", &Trial::GetWavFileBufferNumber, &Trial::SetWavFileBufferNumber,
        "The wav playback's buffer number.");
  Field(type, "wav_board", &Trial::GetWavFileBoardNumber, &Trial::SetWavFileBoardNumber,
        "The wav playback's board number.");
  Field(type, "wav_subsystem", &Trial::GetWavFileSubSystemName, &Trial::SetWavFileSubSystemName,
        "The wav playback's subsystem name.");
  type.def("__repr__", [](const PyTrialType& t) { return "<TrialType " + t.name + ">"; });
}

// Making a setup and running setup files and lines on it.
void BindSetupSources(SetupClass& cls) {
  cls.def(py::init(&MakeSetup), py::arg("log") = py::none(),
          "An empty setup with its application log: `log` (by the log's path rules; the "
          "extension is always .txt), else OrvantaLogFile.txt in the current directory, as the "
          "window and orvanta-run keep it (OrvantaLogFile-2.txt and so on while another setup "
          "holds that file). A setup file's -SetLogFile moves it.")
      .def_static(
          "load",
          [](const std::filesystem::path& file, const std::optional<std::string>& log) {
            const std::string path = file.string();
            std::shared_ptr<PySetup> setup = MakeSetup(log);
            PyProgram& program = *setup->program;
            if (ProcessScript(program, path) != 0) RaiseLoadFailure(program, path);
            program.boxes.Take();
            setup->sources.push_back(AbsolutePath(path));
            return setup;
          },
          py::arg("path"), py::arg("log") = py::none(),
          "Loads a setup file (comments and macros, as File > Open Configuration File does). "
          "Raises SetupFileError with the Configuration File Error text when the file cannot be "
          "opened, a line cannot be read or a command fails.")
      .def(
          "read",
          [](PySetup& setup, const std::filesystem::path& file) {
            const std::string path = file.string();
            RefuseWhileRunning(setup);
            if (ProcessScript(*setup.program, path) != 0) {
              RaiseLoadFailure(*setup.program, path);
            }
            setup.program->boxes.Take();
            setup.sources.push_back(AbsolutePath(path));
          },
          py::arg("path"), "Runs another setup file on top of this setup.")
      .def(
          "execute",
          [](PySetup& setup, const std::string& line) {
            RefuseWhileRunning(setup);
            CommandProcessor& commands = setup.program->core.commands();
            if (commands.ProcessCommandString(line) != 0) {
              setup.program->boxes.Take();
              Raise(ModuleExceptions().orvanta, commands.GetMessage());
            }
          },
          py::arg("line"), "Runs one setup-file command line, such as '-SetTrialCount Tone 4'.");
}

// The trial types: listing, looking up, adding and removing.
void BindSetupTypes(SetupClass& cls) {
  cls.def_property_readonly(
         "types",
         [](const std::shared_ptr<PySetup>& setup) {
           std::vector<PyTrialType> types;
           for (const std::string& name : setup->program->core.trials().GetTrialNames()) {
             types.push_back(PyTrialType{setup, name});
           }
           return types;
         },
         "The trial types in list order.")
      .def("__getitem__", &TypeOf, py::arg("name"), "The trial type of that name (KeyError).")
      .def("__contains__",
           [](const PySetup& setup, const std::string& name) {
             return !setup.program->core.trials().IsTrialNameUnused(name);
           })
      .def("__len__",
           [](const PySetup& setup) { return setup.program->core.trials().GetNumTrials(); })
      .def(
          "add_type",
          [](const std::shared_ptr<PySetup>& setup, const std::string& name) {
            RefuseWhileRunning(*setup);
            TrialContainer& trials = setup->program->core.trials();
            if (trials.AddTrial(name) != 0) Raise(PyExc_ValueError, trials.GetMessage());
            return PyTrialType{setup, name};
          },
          py::arg("name"), "Adds a trial type with default settings and one trial.")
      .def(
          "remove_type",
          [](PySetup& setup, const std::string& name) {
            RefuseWhileRunning(setup);
            TrialContainer& trials = setup.program->core.trials();
            if (trials.RemoveTrial(name) != 0) Raise(PyExc_KeyError, trials.GetMessage());
          },
          py::arg("name"), "Removes a trial type and its trials from the order.");
}

// The run order: shuffling and its settings, and the timing.
void BindSetupOrder(SetupClass& cls) {
  cls.def(
         "shuffle",
         [](PySetup& setup, std::optional<uint32_t> seed) {
           RefuseWhileRunning(setup);
           CardDeck& deck = setup.program->core.deck();
           ShuffleResult result;
           int status = 0;
           {
             py::gil_scoped_release release;
             if (seed) deck.Seed(*seed);
             setup.hasSeed = setup.hasSeed || seed.has_value();
             if (seed) setup.seed = *seed;
             status = deck.Shuffle();
           }
           result.breaks = deck.GetRunLimitBreaks();
           result.limitMet = status == 0 && result.breaks.empty();
           if (status != 0) result.message = deck.GetMessage();
           return result;
         },
         py::arg("seed") = py::none(),
         "Shuffles the run order as the Shuffle button does; `seed` seeds the deck's generator "
         "first (as orvanta-run --seed). Returns a ShuffleResult; an order that could not keep "
         "the limit is still kept (the best found).")
      .def_property_readonly(
          "order",
          [](const PySetup& setup) {
            std::vector<std::string> names;
            for (int32_t suit : setup.program->core.deck().GetOrder()) {
              Trial* trial = nullptr;
              names.push_back(setup.program->core.trials().GetTrial(suit, trial) == 0 && trial
                                  ? trial->GetName()
                                  : std::string());
            }
            return names;
          },
          "The run order: one type name per trial.")
      .def_property(
          "shuffle_type",
          [](const PySetup& setup) {
            return setup.program->core.deck().GetShuffleType() == Group ? "group" : "normal";
          },
          [](PySetup& setup, const std::string& value) {
            RefuseWhileRunning(setup);
            if (value != "normal" && value != "group") {
              Raise(PyExc_ValueError, "shuffle_type is 'normal' or 'group', not '" + value + "'");
            }
            setup.program->core.deck().SetShuffleType(value == "group" ? Group : Normal);
          },
          "'normal' (the whole order, with the limit) or 'group' (each block on its own).")
      .def_property(
          "max_in_a_row",
          [](const PySetup& setup) {
            return setup.program->core.deck().GetMaxConsectutiveSameSuitCards();
          },
          [](PySetup& setup, int32_t value) {
            RefuseWhileRunning(setup);
            CardDeck& deck = setup.program->core.deck();
            if (deck.SetMaxConsectutiveSameSuitCards(value) != 0) {
              Raise(PyExc_ValueError, deck.GetMessage());
            }
          },
          "The most trials of one type in a row that a normal shuffle allows.")
      .def_property(
          "timing",
          [](const PySetup& setup) {
            return std::string(TimingModeName(setup.program->core.trials().GetTimingMode()));
          },
          [](PySetup& setup, const std::string& value) {
            TimingMode mode;
            if (!ParseTimingMode(value, mode)) {
              Raise(PyExc_ValueError, "timing is 'fixed' or 'relative', not '" + value + "'");
            }
            setup.program->core.trials().SetTimingMode(mode);
          },
          "The run's timing: 'relative' or 'fixed' (the schedule of -SetTimingMode).")
      .def_property_readonly(
          "number_of_trials",
          [](const PySetup& setup) { return setup.program->core.deck().GetNumCards(); },
          "Trials in the run order.");
}

// What a setup gives out: its log, its text, its file and its check.
void BindSetupOutput(SetupClass& cls) {
  cls.def_property_readonly(
         "log_path", [](const PySetup& setup) { return setup.program->core.log().GetFilePath(); },
         "The application log file, or '' while none is open.")
      .def_property_readonly(
          "text", [](PySetup& setup) { return setup.program->core.config().GetSetupLines(); },
          "The command lines a save writes (without the header): equal texts, equal setups.")
      .def(
          "save",
          [](PySetup& setup, const std::filesystem::path& file) {
            const std::string path = file.string();
            SetupFileSaveResult saved;
            {
              py::gil_scoped_release release;
              saved = setup.program->core.config().SaveSetupFile(path);
            }
            setup.program->boxes.Take();
            if (saved.status != 0) {
              Raise(ModuleExceptions().orvanta,
                    "cannot save the setup file " + path + ": " + saved.error);
            }
            return saved.warnings;
          },
          py::arg("path"),
          "Saves the whole setup as the window's Save does (the same bytes), replacing the file "
          "atomically. Returns the warnings about values that will not read back.")
      .def(
          "check",
          [](PySetup& setup, int32_t startAt,
             const std::optional<std::vector<std::string>>& objects) {
            return FindSetupProblems(setup.program->core, startAt,
                                     objects ? *objects : std::vector<std::string>{});
          },
          py::arg("start_at") = 1, py::arg("objects") = py::none(),
          "The problems orvanta-run --check prints (without 'problem: '), one sentence each; "
          "empty when the setup is fit to run. `objects`, the server's object names (as "
          "orvanta-run --objects; Client.objects gives them with their types), is what start "
          "triggers are compared with; without it only object names that cannot be sent are "
          "reported.")
      .def("__repr__", [](const PySetup& setup) {
        return "<Setup " + std::to_string(setup.program->core.trials().GetNumTrials()) +
               " types, " + std::to_string(setup.program->core.deck().GetNumCards()) + " trials>";
      });
}

}  // namespace

void RefuseWhileRunning(const PySetup& setup) {
  if (setup.running) {
    Raise(ModuleExceptions().orvanta,
          "the setup is being run: trial types, counts and the order cannot change until the run "
          "ends");
  }
}

void BindSetup(py::module_& m) {
  BindShuffleResult(m);
  BindTrialType(m);
  SetupClass cls(
      m, "Setup",
      "A setup: trial types, counts, shuffle settings and the run order, read and written by the "
      "window's own interpreter and writer.");
  BindSetupSources(cls);
  BindSetupTypes(cls);
  BindSetupOrder(cls);
  BindSetupOutput(cls);
  BindSetupTriggers(cls);
}

}  // namespace orvanta::python
