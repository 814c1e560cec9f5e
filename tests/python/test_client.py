"""The server client from Python: replies with their status, the objects, and
the data streams as NumPy batches holding what the simulator sent."""

import os
import signal
import socket
import threading
import time

import numpy
import pytest

import orvanta
from conftest import Sim


def test_send_objects_and_streams(sim):
    with orvanta.Client(**sim.client_args()) as client:
        assert client.connected and client.server_address == "127.0.0.1"
        objects = client.objects
        assert ("CSC1", "CscAcqEnt") in objects and ("Digital Events", "EventAcqEnt") in objects
        reply = client.send("-LogMessage from_python 1")
        assert (reply.status, reply.text, reply.reason, bool(reply)) == ("replied", "0", "", True)

        with client.stream("CSC2", batch_size=8, timeout=5, flush=5) as stream:
            batches = [next(stream) for _ in range(2)]
        for batch in batches:
            assert batch.dtype == orvanta.record_dtype("CscAcqEnt") and len(batch) == 8
            # CSC2 is the second CSC object; 512 samples at 32 kHz.
            assert set(batch["channel"]) == {1}
            assert set(batch["frequency"]) == {32000} and set(batch["valid_samples"]) == {512}
        stamps = numpy.concatenate([b["timestamp"] for b in batches])
        assert (numpy.diff(stamps.astype(numpy.int64)) > 0).all()
        assert batches[0]["samples"].std() > 0

        with client.stream("Digital Events", batch_size=1, timeout=5) as events:
            assert client.send('-PostEvent "from python" 42 0')
            posted, deadline = [], time.monotonic() + 5
            while not posted and time.monotonic() < deadline:
                posted = [r for r in next(events) if r["flags"] == 1]
        assert (posted[0]["text"], posted[0]["ttl"]) == (b"from python", 42)
    assert not client.connected
    reply = client.send("-LogMessage late 1")
    assert (reply.status, reply.reason) == ("not sent", "not connected")


def test_a_server_that_never_answers(tmp_path):
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(4)
    port = silent.getsockname()[1]
    start = time.monotonic()
    with pytest.raises(orvanta.ServerError) as error:
        orvanta.Client("127.0.0.1", message_port=port, negotiate=False, reply_timeout_ms=300)
    assert time.monotonic() - start < 10
    assert str(error.value).startswith("cannot connect to the acquisition server at 127.0.0.1")
    assert str(error.value).endswith("(message port %d)" % port)
    silent.close()


def test_a_missing_reply_and_ctrl_c_in_a_stream_wait(tmp_path):
    sim = Sim(str(tmp_path), "--fault-command", "-LogMessage", "--no-reply", "1")
    try:
        with orvanta.Client(**dict(sim.client_args(), reply_timeout_ms=300)) as client:
            reply = client.send("-LogMessage lost 1")
            assert (reply.status, reply.reason, reply.text) == (
                "no reply", "no reply within 300 ms", "")
        with orvanta.Client(**sim.client_args()) as client:
            with client.stream("CSC1") as stream:
                threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
                start = time.monotonic()
                with pytest.raises(KeyboardInterrupt):
                    for batch in stream:  # no time-out: only Ctrl+C ends it
                        pass
                assert time.monotonic() - start < 2
    finally:
        sim.stop()
