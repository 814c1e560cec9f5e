"""Fixtures of the Python module's tests: the simulator on free loopback
ports, orvanta-run beside it, and small setup files."""

import os
import re
import signal
import subprocess
import time

import pytest

SIM = os.environ.get("QUORVIN_SIM", "quorvin-sim")
RUNNER = os.environ.get("ORVANTA_RUN", "orvanta-run")
EXAMPLES = os.environ.get("ORVANTA_EXAMPLES", "")

# Two types, five trials, events and pulses on both edges; about a second.
SHORT_SETUP = """\
%pulse = 20
-AddTrial "Go"
-SetTrialCount "Go" 3
-SetTrialDuration "Go" 60
-SetInterTrialInterval "Go" 60
-SetStartOfTrialGenerateEvent "Go" true
-SetStartOfTrialEventString "Go" "GoOn"
-SetStartOfTrialEventTTLValue "Go" 1
-SetStartOfTrialGenerateTTLPulse "Go" true
-SetStartOfTrialTTLPulseDuration "Go" %pulse
-AddTrial "Stay"
-SetTrialCount "Stay" 2
-SetTrialDuration "Stay" 40
-SetInterTrialInterval "Stay" 60
-SetEndOfTrialGenerateTTLPulse "Stay" true
-SetEndOfTrialTTLPulseBitNumber "Stay" 3
-SetEndOfTrialTTLPulseDuration "Stay" %pulse
-SetEndOfTrialGenerateEvent "Stay" true
-SetEndOfTrialEventString "Stay" "StayEnd"
"""


class Sim:
    """quorvin-sim on free loopback ports, with its transcript."""

    def __init__(self, folder, *args):
        self.transcript = os.path.join(folder, "transcript-%d.tsv" % id(self))
        port_file = self.transcript + ".ports"
        self.process = subprocess.Popen(
            [SIM, "--bind", "127.0.0.1", "--negotiation-port", "0", "--message-port", "0",
             "--port-file", port_file, "--transcript", self.transcript, "--quiet", *args],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while not (os.path.exists(port_file) and os.path.getsize(port_file) > 0):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("quorvin-sim did not start: %s" % self.process.stderr.read())
            time.sleep(0.02)
        line = open(port_file).read()
        self.negotiation_port = int(re.search(r"negotiation=(\d+)", line).group(1))
        self.message_port = int(re.search(r"message=(\d+)", line).group(1))

    def client_args(self):
        return dict(server="127.0.0.1", negotiation_port=self.negotiation_port,
                    message_port=self.message_port, reply_timeout_ms=3000)

    def runner_args(self):
        return ["--server", "127.0.0.1", "--negotiation-port", str(self.negotiation_port),
                "--message-port", str(self.message_port)]

    def commands(self):
        """(connection, command, reply) of every command received, connection
        by connection (the simulator's threads write their lines in whatever
        order they run), the ports of the connection sequence (free ones,
        picked anew each time) blanked."""
        rows = []
        for line in open(self.transcript, encoding="utf-8", errors="replace"):
            f = line.rstrip("\n").split("\t")
            if len(f) == 7 and f[3] == "cmd":
                command = re.sub(r"^(-CreateStream \S+) \d+", r"\1 PORT", f[4])
                reply = "0 PORT" if command == "-GetNextAvailablePortNumber" else f[5]
                rows.append((f[2], command, reply))
        return sorted(rows, key=lambda row: row[0])  # stable: each connection keeps its order

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


@pytest.fixture
def sim(tmp_path):
    s = Sim(str(tmp_path))
    yield s
    s.stop()


@pytest.fixture
def short_setup(tmp_path):
    path = tmp_path / "short.cfg"
    path.write_text(SHORT_SETUP)
    return str(path)


@pytest.fixture(autouse=True)
def in_tmp_path(tmp_path, monkeypatch):
    """Logs and records land in the test's own folder."""
    monkeypatch.chdir(tmp_path)
