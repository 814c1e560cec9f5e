#!/usr/bin/python3
"""The Python module's benchmarks, each against a baseline measured in the
same run:

1. Stream delivery into NumPy: CSC records (1044 bytes) from quorvin-sim at
   its fastest, taken by Python as structured arrays from Client.stream(),
   against the same client's C++ stream endpoint counting the same records
   in a plain callback (the C++ stream benchmark's reader). The two take
   turns in short rounds on one connection, so that a change of the
   machine's load falls on both; medians of the rounds. Goal: at least 0.8x.
2. Run timing: the same fixed-schedule setup (200 trials: start and end
   events, start and end pulses of 5 ms, duration 20 ms, interval 20 ms; a
   nominal period of 50 ms) run by orvanta.run() and by orvanta-run, in
   turns, each against a fresh simulator; the timing is read from the
   simulator's transcript (when each start event arrived). Figures: the
   median and p99 of the trial period error, and the drift of the last
   trial's start against its nominal time. Goal: within 1.05x.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py \\
        --sim build/tools/quorvin-sim/quorvin-sim --runner build/tools/orvanta-run/orvanta-run \\
        [--report FILE] [--rounds N] [--runs N] [--batch N] [--only stream|timing]
"""

import argparse
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import orvanta
from orvanta import _orvanta

SETUP = """\
-AddTrial "B"
-SetTrialCount "B" 200
-SetTrialDuration "B" 20
-SetInterTrialInterval "B" 20
-SetStartOfTrialGenerateEvent "B" true
-SetStartOfTrialEventString "B" "on"
-SetStartOfTrialGenerateTTLPulse "B" true
-SetStartOfTrialTTLPulseDuration "B" 5
-SetEndOfTrialGenerateTTLPulse "B" true
-SetEndOfTrialTTLPulseDuration "B" 5
-SetEndOfTrialGenerateEvent "B" true
"""
PERIOD_US = 50_000


class Sim:
    def __init__(self, path, folder, *args):
        self.transcript = os.path.join(folder, "t%d.tsv" % time.monotonic_ns())
        ports = self.transcript + ".ports"
        self.process = subprocess.Popen(
            [path, "--bind", "127.0.0.1", "--negotiation-port", "0", "--message-port", "0",
             "--port-file", ports, "--transcript", self.transcript, "--quiet", *args],
            stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not (os.path.exists(ports) and os.path.getsize(ports) > 0):
            if self.process.poll() is not None or time.monotonic() > deadline:
                sys.exit("python_bench: quorvin-sim did not start")
            time.sleep(0.02)
        line = open(ports).read()
        self.negotiation = int(re.search(r"negotiation=(\d+)", line).group(1))
        self.message = int(re.search(r"message=(\d+)", line).group(1))

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(10)

    def start_events_us(self):
        starts = []
        for line in open(self.transcript):
            f = line.split("\t")
            if len(f) == 7 and f[3] == "cmd" and f[4] == '-PostEvent "on" 0 0':
                starts.append(int(f[0]))
        return starts


def timing_of(starts):
    periods = [abs(b - a - PERIOD_US) for a, b in zip(starts, starts[1:])]
    periods.sort()
    p99 = periods[min(len(periods) - 1, int(0.99 * len(periods)))]
    drift = starts[-1] - starts[0] - (len(starts) - 1) * PERIOD_US
    return statistics.median(periods), p99, drift


def run_python(args, folder, setup_path):
    sim = Sim(args.sim, folder)
    try:
        setup = orvanta.Setup.load(setup_path, log=os.path.join(folder, "python-log"))
        with orvanta.Client("127.0.0.1", negotiation_port=sim.negotiation,
                            message_port=sim.message) as client:
            result = orvanta.run(setup, client, schedule="fixed", record_dir=folder)
        assert result.outcome == "completed", result
    finally:
        sim.stop()
    return timing_of(sim.start_events_us())


def run_cli(args, folder, setup_path):
    sim = Sim(args.sim, folder)
    try:
        subprocess.run([args.runner, "--quiet", "--schedule", "fixed", "--record", folder,
                        "--server", "127.0.0.1", "--negotiation-port", str(sim.negotiation),
                        "--message-port", str(sim.message), "--log", os.path.join(folder, "log"),
                        setup_path], check=True, stdout=subprocess.DEVNULL, cwd=folder)
    finally:
        sim.stop()
    return timing_of(sim.start_events_us())


def stream_rounds(args, folder):
    sim = Sim(args.sim, folder, "--record-rate", "max", "--object", "CSC1=CscAcqEnt")
    python_rates, endpoint_rates, ratios = [], [], []
    try:
        with orvanta.Client("127.0.0.1", negotiation_port=sim.negotiation,
                            message_port=sim.message) as client:
            assert ("CSC1", "CscAcqEnt") in client.objects  # the client learns the objects
            for round_ in range(args.rounds):
                # Which goes first alternates, so that neither always follows the other.
                endpoint = None
                if round_ % 2 == 0:
                    endpoint = _orvanta._count_stream_records(client, "CSC1", "CscAcqEnt", 0.2,
                                                              args.window)
                with client.stream("CSC1", batch_size=args.batch, timeout=5) as stream:
                    warm_end = time.monotonic() + 0.2
                    for batch in stream:
                        if time.monotonic() >= warm_end:
                            break
                    records, checksum = 0, 0
                    start = time.monotonic()
                    end = start + args.window
                    for batch in stream:
                        records += len(batch)
                        checksum += int(batch["timestamp"][-1])  # a field read from the array
                        if time.monotonic() >= end:
                            break
                    rate = records / (time.monotonic() - start)
                    dropped = stream.dropped
                if endpoint is None:
                    endpoint = _orvanta._count_stream_records(client, "CSC1", "CscAcqEnt", 0.2,
                                                              args.window)
                if dropped:
                    print("python_bench: %d records dropped" % dropped, file=sys.stderr)
                python_rates.append(rate)
                endpoint_rates.append(endpoint)
                ratios.append(rate / endpoint)
    finally:
        sim.stop()
    return (statistics.median(python_rates), statistics.median(endpoint_rates),
            statistics.median(ratios))


def row(name, value, unit, base_name, base, ratio, goal, met):
    fmt = lambda v: ("%.3g" % v) + (" " + unit if unit else "")
    return "| %s | %s | %s | %s | %.3f | %s | %s |" % (name, fmt(value), base_name, fmt(base),
                                                      ratio, goal, "met" if met else "NOT MET")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--runner", required=True)
    parser.add_argument("--report")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--window", type=float, default=1.0)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--batch", type=int, default=1024)
    parser.add_argument("--only", choices=["stream", "timing"])
    args = parser.parse_args()
    args.sim, args.runner = os.path.abspath(args.sim), os.path.abspath(args.runner)

    with tempfile.TemporaryDirectory(prefix="orvanta-python-bench-") as folder:
        setup_path = os.path.join(folder, "bench.cfg")
        open(setup_path, "w").write(SETUP)
        py_rate = endpoint_rate = stream_ratio = float("nan")
        if args.only != "timing":
            py_rate, endpoint_rate, stream_ratio = stream_rounds(args, folder)
        py_runs, cli_runs = [], []
        for _ in range(args.runs if args.only != "stream" else 0):  # in turns
            py_runs.append(run_python(args, folder, setup_path))
            cli_runs.append(run_cli(args, folder, setup_path))

    def median_of(runs, i):
        return statistics.median(r[i] for r in runs)

    lines = ["## Python module", "",
             "| Figure | Value | Baseline | Baseline value | Ratio | Goal | Result |",
             "|---|---:|---|---:|---:|---|---|"]
    if args.only != "timing":
        lines.append(row("CSC records per second into NumPy arrays", py_rate, "/s",
                         "C++ stream endpoint, same client", endpoint_rate, stream_ratio,
                         ">= 0.8x", stream_ratio >= 0.8))
    names = ["fixed run from Python: trial period error, median",
             "fixed run from Python: trial period error, p99",
             "fixed run from Python: drift at trial 200"]
    for i, name in enumerate(names if py_runs else []):
        ours, theirs = median_of(py_runs, i) / 1000, median_of(cli_runs, i) / 1000
        ratio = abs(ours) / abs(theirs) if theirs else float("inf") if ours else 1.0
        lines.append(row(name, ours, "ms", "orvanta-run, same setup", theirs, ratio,
                         "<= 1.05x", ratio <= 1.05))
    lines += ["",
              "- Stream: %d rounds of %.1f s each, Python and the C++ endpoint in turn (which goes "
              "first alternates) on one "
              "connection to quorvin-sim --record-rate max; medians, and the median of the "
              "rounds' ratios. Python takes batches of %d records and reads one field of each "
              "batch." % (args.rounds, args.window, args.batch),
              "- Run timing: %d runs each, in turns, each against a fresh simulator; medians of "
              "the runs. Period error is |start-to-start - 50 ms| per trial, from the "
              "simulator's transcript; drift is the last start against its nominal time."
              % args.runs, ""]
    text = "\n".join(lines)
    print(text)
    if args.report:
        with open(args.report, "a") as out:
            out.write(text + "\n")


if __name__ == "__main__":
    main()
