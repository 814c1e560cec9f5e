"""Orvanta from Python: setups, the acquisition server, runs and session records.

The classes are thin layers over Orvanta's own libraries: a setup is read and
saved by the window's interpreter and writer, a run is played by the window's
trial worker and writes the same session record, the server is reached by the
same client. Nothing is implemented twice.

    import orvanta
    setup = orvanta.Setup.load("protocol.cfg")
    setup.shuffle(seed=7)
    setup.set_trigger("Tone", "SE1", count=3, window_ms=50)  # start on 3 spikes in 50 ms
    with orvanta.Client("127.0.0.1") as client:
        result = orvanta.run(setup, client, on_trial=print)
    record = orvanta.Record(result.record)
"""

import os as _os

from ._orvanta import (  # noqa: F401
    Client,
    OrvantaError,
    RecordError,
    Reply,
    RunResult,
    ServerError,
    Setup,
    SetupFileError,
    ShuffleResult,
    TrialStarted,
    TrialType,
    __version__,
    run,
)
from . import _orvanta

__all__ = [
    "Client", "OrvantaError", "Record", "RecordError", "Reply", "RunResult", "ServerError",
    "Setup", "SetupFileError", "ShuffleResult", "Stream", "TrialStarted", "TrialType",
    "record_dtype", "run", "__version__",
]

# The layout of each data type's records, little-endian, as the acquisition
# server sends them (the simulator's layout). The client itself reads only
# the field that names the object.
_LAYOUTS = {
    "SEScAcqEnt": [("timestamp", "<u8"), ("channel", "<i4"), ("cell", "<i4"),
                   ("features", "<i4", (8,)), ("waveform", "<i2", (32, 1))],
    "STScAcqEnt": [("timestamp", "<u8"), ("channel", "<i4"), ("cell", "<i4"),
                   ("features", "<i4", (8,)), ("waveform", "<i2", (32, 2))],
    "TTScAcqEnt": [("timestamp", "<u8"), ("channel", "<i4"), ("cell", "<i4"),
                   ("features", "<i4", (8,)), ("waveform", "<i2", (32, 4))],
    "CscAcqEnt": [("timestamp", "<u8"), ("channel", "<i4"), ("frequency", "<u4"),
                  ("valid_samples", "<u4"), ("samples", "<i2", (512,))],
    "EventAcqEnt": [("timestamp", "<u8"), ("event_number", "<i4"), ("ttl", "<i4"),
                    ("flags", "<u4"), ("reserved", "u1", (36,)), ("text", "S128")],
    "VTAcqEnt": [("marker", "<u2"), ("tracker", "<u2"), ("reserved", "<u4"),
                 ("timestamp", "<u8"), ("x", "<i4"), ("y", "<i4"), ("heading", "<i4"),
                 ("valid_points", "<u4"), ("points", "<u4", (449,))],
}


def record_dtype(data_type):
    """The NumPy dtype of one record of `data_type` ("CscAcqEnt", "EventAcqEnt", ...)."""
    import numpy

    try:
        return numpy.dtype(_LAYOUTS[data_type])
    except KeyError:
        raise ValueError("no data stream carries the data type %r" % (data_type,)) from None


class Stream:
    """The records of one acquisition object, as an iterator of NumPy arrays.

    Each item is a structured array of up to `batch_size` records, one record
    per row, the record's fields as named columns (``batch["timestamp"]``).
    The records are copied once, on the client's stream thread, into the
    memory the array then owns. Iteration ends when the stream is closed, or
    when `timeout` seconds pass without a record. A context manager: leaving
    the block closes the stream. Records Python does not take fast enough are
    counted in `dropped` once `max_batches` batches wait.
    """

    def __init__(self, raw, timeout, flush):
        self._raw = raw
        self._timeout = -1.0 if timeout is None else float(timeout)
        self._flush = float(flush)
        self.dtype = record_dtype(raw.type)

    @property
    def object(self):
        return self._raw.object

    @property
    def data_type(self):
        return self._raw.type

    @property
    def received(self):
        """Records delivered by the client so far."""
        return self._raw.received

    @property
    def dropped(self):
        """Records dropped because too many batches were waiting."""
        return self._raw.dropped

    def __iter__(self):
        return self

    def __next__(self):
        raw = self._raw.next_batch(self._timeout, self._flush)
        if raw is None:
            raise StopIteration
        return raw.view(self.dtype)[:, 0]

    def close(self):
        """Asks the server to stop sending; the iteration then ends."""
        self._raw.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def _stream(self, object, batch_size=256, timeout=None, flush=0.1, max_batches=1024):
    """Opens the data stream of one acquisition object; returns a Stream.

    One stream per data type may be open at a time. `timeout` (seconds, None:
    no bound) ends the iteration when no record comes; `flush` hands over a
    batch that is not full once it has waited that long.
    """
    types = dict(self.objects)
    if object not in types:
        raise ServerError("the server has no acquisition object named %r" % (object,))
    raw = self._open_stream(object, types[object], batch_size, max_batches)
    return Stream(raw, timeout, flush)


Client.stream = _stream

_COLUMNS = {
    "timeline": ["trial", "type", "step", "command", "reply", "sent_us", "replied_us", "status"],
    "trials": ["trial", "type", "start_us", "end_us", "outcome"],
    "events": ["onset", "duration", "trial_type", "value", "trial", "acknowledged"],
    "failures": ["trial", "step", "command", "sent_us", "status", "reason"],
    "triggers": ["trial", "type", "object", "count", "window_ms", "timeout_ms", "outcome",
                 "armed_us", "decided_us", "arrived_us", "latency_ms"],
}
_NULLABLE = ("sent_us", "replied_us", "armed_us", "decided_us", "arrived_us")


def _table(rows, name):
    try:
        import pandas
    except ImportError:
        return rows
    frame = pandas.DataFrame(rows, columns=_COLUMNS[name])
    for column in _NULLABLE:
        if column in frame:
            frame[column] = frame[column].astype("Int64")
    return frame


class Record:
    """A session record folder, as the window, orvanta-run or orvanta.run wrote it.

    `session` is session.json as a dict; `trials`, `timeline`, `events` and
    `failures` are pandas DataFrames when pandas is installed, lists of dicts
    otherwise; so is `triggers`, one row per trial that waited for a start
    trigger (empty without triggers), whose summary is session["triggers"].
    A record whose run was interrupted reads too: its outcome is
    then "interrupted", and `resume_point` names the first trial to run again
    (0 when every trial completed). Raises RecordError when the folder holds
    no readable session.json.
    """

    def __init__(self, path):
        data = _orvanta._load_record(_os.fspath(path))
        self.folder = data["folder"]
        self.outcome = data["outcome"]
        self.session = data["session"]
        self.resume_point = data["resume_point"]
        self.trials = _table(data["trials"], "trials")
        self.timeline = _table(data["timeline"], "timeline")
        self.events = _table(data["events"], "events")
        self.failures = _table(data["failures"], "failures")
        self.triggers = _table(data["triggers"], "triggers")

    @property
    def setup_path(self):
        """The record's setup.cfg: the whole setup as it was run."""
        return _os.path.join(self.folder, "setup.cfg")

    def __repr__(self):
        return "<Record %s (%s)>" % (self.folder, self.outcome)
