"""Runs from Python: the same worker, commands and record as orvanta-run;
Ctrl+C stops cleanly; records read back, interrupted ones too."""

import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

import pytest

import orvanta
from conftest import RUNNER, Sim


def test_a_python_run_sends_what_orvanta_run_sends(tmp_path, short_setup):
    cli_sim, py_sim = Sim(str(tmp_path)), Sim(str(tmp_path))
    try:
        out = subprocess.run([RUNNER, "--quiet", "--seed", "5", "--shuffle", "--schedule", "fixed",
                              "--record", "cli", *cli_sim.runner_args(), short_setup],
                             cwd=tmp_path, capture_output=True, text=True, timeout=60)
        assert out.returncode == 0, out.stderr

        setup = orvanta.Setup.load(short_setup)
        assert setup.shuffle(seed=5)
        seen, threads = [], set()

        def on_trial(trial):
            seen.append((trial.number, trial.name))
            threads.add(threading.get_ident())
            time.sleep(0.3)  # twice a trial: the worker must not wait for it

        with orvanta.Client(**py_sim.client_args()) as client:
            result = orvanta.run(setup, client, record_dir=str(tmp_path / "py"),
                                 on_trial=on_trial)
        assert (result.outcome, result.failed_commands, bool(result)) == ("completed", 0, True)
        assert result.message.startswith("Trials Completed Successfully")
        assert seen == [(i + 1, name) for i, name in enumerate(setup.order)]
        assert threads == {threading.get_ident()}
        assert len(cli_sim.commands()) > 10
        assert py_sim.commands() == cli_sim.commands()
    finally:
        cli_sim.stop()
        py_sim.stop()

    ours = orvanta.Record(result.record)
    (theirs_folder,) = os.listdir(tmp_path / "cli")
    theirs = orvanta.Record(tmp_path / "cli" / theirs_folder)
    assert (ours.outcome, ours.resume_point, ours.session["program"]) == (
        "completed", 0, "orvanta (Python)")
    assert list(ours.trials["type"]) == setup.order == list(theirs.trials["type"])
    assert list(ours.timeline["command"]) == list(theirs.timeline["command"])
    # The slow callback left the fixed schedule as orvanta-run keeps it.
    drift = (ours.trials["start_us"] - theirs.trials["start_us"]).abs().max()
    assert drift < 60_000, drift
    assert open(ours.setup_path, "rb").read().split(b"\r\n")[4:] == \
        open(theirs.setup_path, "rb").read().split(b"\r\n")[4:]

    # An interrupted record: still "running", trials cut after the second.
    cut = tmp_path / "cut"
    shutil.copytree(result.record, cut)
    session = json.loads((cut / "session.json").read_text())
    session["outcome"] = "running"
    (cut / "session.json").write_text(json.dumps(session))
    rows = (cut / "trials.tsv").read_text().splitlines(True)
    (cut / "trials.tsv").write_text("".join(rows[:3]) + rows[3].rstrip("\n"))
    cut_record = orvanta.Record(cut)
    assert (cut_record.outcome, cut_record.resume_point, len(cut_record.trials)) == (
        "interrupted", 3, 2)
    with pytest.raises(orvanta.RecordError, match="cannot read the session record"):
        orvanta.Record(tmp_path / "no-record")


def test_ctrl_c_stops_the_run_and_resets_the_pulse(tmp_path, sim):
    setup = orvanta.Setup()
    long = setup.add_type("Long")
    long.count, long.duration, long.interval = 3, 100, 100
    long.start_pulse, long.start_pulse_bit, long.start_pulse_duration = True, 5, 3000
    long.start_pulse_subsystem = "DIO"

    def interrupt_soon(trial):
        threading.Timer(0.4, os.kill, (os.getpid(), signal.SIGINT)).start()

    with orvanta.Client(**sim.client_args()) as client:
        with pytest.raises(KeyboardInterrupt):
            orvanta.run(setup, client, record_dir=str(tmp_path / "rec"), on_trial=interrupt_soon)
        assert client.send("-LogMessage after 1")  # the connection stays usable
    (folder,) = os.listdir(tmp_path / "rec")
    record = orvanta.Record(tmp_path / "rec" / folder)
    assert (record.outcome, record.resume_point) == ("stopped", 1)
    assert list(record.trials["outcome"]) == ["stopped"]
    assert record.trials["end_us"][0] < 2_500_000  # well before the 3 s pulse would end
    pulses = [c for _, c, _ in sim.commands() if c.startswith("-SetDIOPortOutput")]
    assert pulses == ['-SetDIOPortOutput "DIO" 0 32', '-SetDIOPortOutput "DIO" 0 0']
    assert setup["Long"].count == 3  # the setup is editable again
    setup["Long"].count = 4


def test_refusals_a_failing_callback_and_records_without_pandas(tmp_path, sim, monkeypatch):
    setup = orvanta.Setup()
    kind = setup.add_type("T")
    kind.count, kind.duration, kind.interval, kind.start_event = 3, 50, 50, True
    with orvanta.Client(**sim.client_args()) as client:
        with pytest.raises(ValueError) as error:
            orvanta.run(setup, client, start_at=9)
        assert str(error.value) == "start_at 9 is beyond the last trial of the run order (3)"

        def fail(trial):
            with pytest.raises(orvanta.OrvantaError, match="the setup is being run"):
                setup["T"].count = 1
            raise RuntimeError("callback failed")

        with pytest.raises(RuntimeError, match="callback failed"):
            orvanta.run(setup, client, record_dir=str(tmp_path / "rec"), on_trial=fail)
    with pytest.raises(orvanta.ServerError, match="not connected to the acquisition server"):
        orvanta.run(setup, client)

    (folder,) = os.listdir(tmp_path / "rec")
    monkeypatch.setitem(sys.modules, "pandas", None)  # as if it were not installed
    record = orvanta.Record(tmp_path / "rec" / folder)
    assert record.outcome == "stopped"
    assert [(t["trial"], t["type"], t["outcome"]) for t in record.trials] == [(1, "T", "stopped")]
    assert isinstance(record.timeline, list)
    assert record.timeline[0]["command"] == "-PostEvent \"\" 0 0"
