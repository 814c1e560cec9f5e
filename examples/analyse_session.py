#!/usr/bin/python3
"""Runs the example protocol against quorvin-sim from Python, reads the
session record it wrote, and saves a figure of the exchange latency and the
trial period error.

    PYTHONPATH=build/python /usr/bin/python3 examples/analyse_session.py
    /usr/bin/python3 examples/analyse_session.py --record OrvantaSessions/2026-12-08_10-15-02_protocol

Options: --sim PATH (the simulator; default: quorvin-sim of the build tree
beside this file, else the one on the PATH), --setup FILE (default:
protocol.cfg beside this file), --seed N (shuffle first), --records DIR
(where the record is made; default: OrvantaSessions), --record DIR (analyse
an existing record instead of running), --out FILE (default:
session-analysis.png). Needs matplotlib (Debian's python3-matplotlib).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import orvanta

HERE = os.path.dirname(os.path.abspath(__file__))


def find_simulator():
    built = os.path.join(HERE, "..", "build", "tools", "quorvin-sim", "quorvin-sim")
    return os.path.normpath(built) if os.path.exists(built) else shutil.which("quorvin-sim")


def run_example(args):
    """Starts the simulator on free loopback ports, runs the setup, stops it."""
    folder = tempfile.mkdtemp(prefix="orvanta-example-")
    ports = os.path.join(folder, "ports")
    sim = subprocess.Popen([args.sim, "--bind", "127.0.0.1", "--negotiation-port", "0",
                            "--message-port", "0", "--port-file", ports, "--quiet"])
    try:
        deadline = time.monotonic() + 10
        while not (os.path.exists(ports) and os.path.getsize(ports) > 0):
            if sim.poll() is not None or time.monotonic() > deadline:
                sys.exit("analyse_session: quorvin-sim did not start")
            time.sleep(0.05)
        line = open(ports).read()
        negotiation = int(re.search(r"negotiation=(\d+)", line).group(1))
        message = int(re.search(r"message=(\d+)", line).group(1))
        setup = orvanta.Setup.load(args.setup)
        if args.seed is not None:
            setup.shuffle(seed=args.seed)
        print("analyse_session: running %s (%d trials)" % (args.setup, setup.number_of_trials))
        with orvanta.Client("127.0.0.1", negotiation_port=negotiation,
                            message_port=message) as client:
            result = orvanta.run(setup, client, record_dir=args.records,
                                 on_trial=lambda t: print("  trial %d  %s" % (t.number, t.name)))
        print("analyse_session: %s, record %s" % (result.outcome, result.record))
        return result.record
    finally:
        sim.terminate()
        sim.wait(10)
        shutil.rmtree(folder, ignore_errors=True)


def analyse(folder, out):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    record = orvanta.Record(folder)
    timeline = record.timeline
    replied = timeline[timeline["status"] == "replied"]
    latency_ms = (replied["replied_us"] - replied["sent_us"]).astype(float) / 1000.0
    sent_s = replied["sent_us"].astype(float) / 1e6

    periods = {t["name"]: t["period_ms"] for t in record.session["trial_types"]}
    trials = record.trials[record.trials["outcome"] == "completed"]
    period_error_ms = ((trials["end_us"] - trials["start_us"]) / 1000.0
                       - trials["type"].map(periods))

    figure, (top, bottom) = plt.subplots(2, 1, figsize=(9, 7))
    for step, rows in replied.groupby("step"):
        top.plot(sent_s[rows.index], latency_ms[rows.index], "o", ms=4, label=step)
    top.set_xlabel("time from the run's start (s)")
    top.set_ylabel("exchange latency (ms)")
    top.set_title("Command exchanges: send to reply")
    top.legend(fontsize="small")
    bottom.bar(trials["trial"], period_error_ms, color="#f28e2b")
    bottom.axhline(0, color="black", lw=0.8)
    bottom.set_xlabel("trial")
    bottom.set_ylabel("period error (ms)")
    bottom.set_title("Trial period minus its nominal period (%s schedule)"
                     % record.session.get("timing"))
    figure.suptitle("%s  (%s)" % (os.path.basename(record.folder), record.outcome))
    figure.tight_layout()
    figure.savefig(out, dpi=100)
    print("analyse_session: latency median %.3f ms, max %.3f ms; period error median %.3f ms, "
          "max %.3f ms" % (latency_ms.median(), latency_ms.max(), period_error_ms.median(),
                           period_error_ms.abs().max()))
    print("analyse_session: figure written to %s" % out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sim", default=find_simulator())
    parser.add_argument("--setup", default=os.path.join(HERE, "protocol.cfg"))
    parser.add_argument("--seed", type=int)
    parser.add_argument("--records", default="OrvantaSessions")
    parser.add_argument("--record")
    parser.add_argument("--out", default="session-analysis.png")
    args = parser.parse_args()
    if args.record is None and not args.sim:
        sys.exit("analyse_session: quorvin-sim not found; give --sim PATH")
    analyse(args.record or run_example(args), args.out)


if __name__ == "__main__":
    main()
