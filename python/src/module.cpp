// The extension module orvanta._orvanta. The package orvanta (python/orvanta)
// re-exports it and adds the parts that are plain Python: Record's
// DataFrames and the stream's record types.
#include "platform/version.h"
#include "python/src/py_common.h"

namespace orvanta::python {
void BindSetup(py::module_& m);
void BindClient(py::module_& m);
void BindRun(py::module_& m);
void BindRecord(py::module_& m);
}  // namespace orvanta::python

PYBIND11_MODULE(_orvanta, m) {
  namespace py = pybind11;
  using namespace orvanta::python;
  m.doc() = "Orvanta's libraries for Python: setups, the server client, runs and records.";
  m.attr("__version__") = ORVANTA_VERSION;
  Exceptions& e = ModuleExceptions();
  e.orvanta = PyErr_NewExceptionWithDoc("orvanta.OrvantaError",
                                        "A failure Orvanta reports, with its own text.",
                                        PyExc_RuntimeError, nullptr);
  e.setupFile = PyErr_NewExceptionWithDoc(
      "orvanta.SetupFileError",
      "A setup file that could not be opened or run to its end. Attributes: path, line "
      "(0 when the file could not be opened), command, reason.",
      e.orvanta, nullptr);
  e.server = PyErr_NewExceptionWithDoc("orvanta.ServerError",
                                       "The connection to the acquisition server failed.",
                                       e.orvanta, nullptr);
  e.record = PyErr_NewExceptionWithDoc("orvanta.RecordError",
                                       "A session record that cannot be read or written.",
                                       e.orvanta, nullptr);
  m.add_object("OrvantaError", py::handle(e.orvanta));
  m.add_object("SetupFileError", py::handle(e.setupFile));
  m.add_object("ServerError", py::handle(e.server));
  m.add_object("RecordError", py::handle(e.record));
  BindSetup(m);
  BindClient(m);
  BindRun(m);
  BindRecord(m);
}
