#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (run from any folder).

setup_file/      small setup files: every command, macros, comments, quotes,
                 a saved run order, and a few broken lines
replies/         byte streams a server could send: the replies the client's
                 exchanges expect, and broken headers, sizes and frames
stream_records/  a stream choice, an object list, a piece size and records
session_record/  session.json, then (NUL-separated) timeline.csv, trials.tsv,
                 events.tsv and failures.tsv: whole records, records cut short
                 by a crash, and damaged ones
"""
import json
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    path = os.path.join(HERE, folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


# ---- setup files ---------------------------------------------------------
examples = os.path.join(HERE, "..", "..", "examples")

SETUP = {
    "every_command.cfg": """-SetLogFile "run log.txt"
-AddTrial "A"
-SetTrialCount "A" 3
-SetTrialDuration "A" 20
-SetInterTrialInterval "A" 10
-SetPlayWavFile "A" true
-SetWavFileName "A" "a b.wav"
-SetWavFileBufferNumber "A" 1
-SetWavFileBoardNumber "A" 0
-SetWavFileSubSystemName "A" "VRXBD"
-SetStartOfTrialGenerateEvent "A" true
-SetStartOfTrialEventString "A" "Start A"
-SetStartOfTrialEventTTLValue "A" 7
-SetStartOfTrialGenerateTTLPulse "A" true
-SetStartOfTrialTTLPulseBitNumber "A" 15
-SetStartOfTrialTTLPulseDuration "A" 5
-SetStartOfTrialTTLPulseBoardNumber "A" 0
-SetStartOfTrialTTLPulseSubSystemName "A" "VRXBD"
-SetEndOfTrialGenerateEvent "A" false
-SetEndOfTrialEventString "A" ""
-SetEndOfTrialEventTTLValue "A" -1
-SetEndOfTrialGenerateTTLPulse "A" true
-SetEndOfTrialTTLPulseBitNumber "A" 16
-SetEndOfTrialTTLPulseDuration "A" 0
-SetEndOfTrialTTLPulseBoardNumber "A" 2
-SetEndOfTrialTTLPulseSubSystemName "A" "Other"
-AddTrial "B"
-SetTrialCount "B" 2
-SetShuffleType Group
-SetShuffleMaxConsecutiveTypeCount 2
-SetShuffleType Normal
""",
    "saved_order.cfg": """# saved run order
-AddTrial "X"
-SetTrialCount "X" 2
-AddTrial "Y"
-SetTrialCount "Y" 2
-SetShuffleType Normal
-SetShuffleMaxConsecutiveTypeCount 1
-SetTrialOrder "X" 0
-SetTrialOrder "Y" 1
-SetTrialOrder "X" 2
-SetTrialOrder "Y" 3
""",
    "macros_and_comments.cfg": """%n = 4   # count
%d = 2.5
%d *= 4
%d /= 0
%name = "two words"
%name := !
// comment line
-AddTrial %name   // trailing comment
-SetTrialCount %name %n
-SetTrialDuration %name %d
%n -= 10
-SetTrialCount %name %n
\r\n-addtrial "lower case"\r
-SETTRIALCOUNT "lower case" +1.5
""",
    "broken.cfg": """-AddTrial "unterminated
-SetTrialCount "nobody" 3
-NoSuchCommand 1 2
-SetTrialCount "A"
%bad
%x ? 1
-SetTrialOrder "A" 99
-SetShuffleType Sideways
""",
    "crlf_blank.cfg": "\r\n\r\n-AddTrial \"Z\"\r\n\t\r\n-SetTrialCount \"Z\" 0\r\n",
}
for name, text in SETUP.items():
    write("setup_file", name, text)
os.makedirs(os.path.join(HERE, "setup_file"), exist_ok=True)
for name in ("protocol.cfg", "macros.cfg"):
    shutil.copyfile(os.path.join(examples, name), os.path.join(HERE, "setup_file", name))


# ---- replies ---------------------------------------------------------------
def frame(payload, version=1, validation=0xA5A5A5A5, size=None):
    if isinstance(payload, str):
        payload = payload.encode("latin-1") + b"\0"
    n = len(payload) if size is None else size
    return struct.pack("<iIi", version, validation, n) + payload


# The client's exchanges in the target's order: the connect exchange, ring
# buffer size, sampling frequency, A/D range, feature, ring buffer, objects,
# types, a plain command, a raw reply, a log message, the connection check.
good = [
    frame("0 Quorvin Simulator"),
    frame("0 8192 1044"),
    frame("0 32000"),
    frame("0 -1000 1000"),
    frame("0 peak amplitude"),
    frame(bytes(range(40))),
    frame('0 SE1 "CSC Reference" VT1'),
    frame("0 SEScAcqEnt CscAcqEnt VTAcqEnt"),
    frame("0"),
    frame(b"\x01\x02\x03"),
    frame("0"),
    frame("0"),
]
write("replies", "all_good", b"".join(good))
write("replies", "failures", b"".join([
    frame("-1 no"), frame("-1"), frame("x 5"), frame("-2 x"), frame("3"), frame("7 a b"),
    frame("-1 Unknown"), frame("1 A"), frame("0 \"unterminated"), frame("0 a b"),
]))
write("replies", "bad_version", frame("0 Quorvin", version=2))
write("replies", "old_version", frame("0 Quorvin", version=0))
write("replies", "bad_validation", frame("0 Quorvin", validation=0x5A5A5A5A))
write("replies", "absurd_size", frame("0 Quorvin", size=0x7FFFFFFF))
write("replies", "zero_size", frame(b"", size=0))
write("replies", "negative_size", frame("0", size=-5))
write("replies", "cut_header", frame("0 Quorvin")[:7])
write("replies", "cut_payload", frame("0 Quorvin Simulator")[:20])
write("replies", "no_nul", frame(b"0 12 34"))
write("replies", "embedded_nul", frame(b"0 1\x002 3\x00"))
write("replies", "big_numbers", b"".join([frame("0 99999999999 -99999999999"),
                                         frame("+5 -0"), frame("   -7\t8")]))


# ---- stream records --------------------------------------------------------
SIZES = [112, 176, 304, 1044, 1828, 184]  # SE ST TT CSC VT EV


def objects(items):
    out = bytes([len(items)])
    for name, type_index in items:
        out += bytes([len(name)]) + name.encode() + bytes([type_index])
    return out


def record(kind, index, fill=0x11):
    r = bytearray([fill]) * SIZES[kind]
    if kind == 4:
        r[2:4] = struct.pack("<H", index & 0xFFFF)
    elif kind != 5:
        r[8:12] = struct.pack("<i", index)
    return bytes(r)


spike = [("SE1", 0), ("ST1", 1), ("TT1", 2), ("CSC1", 3)]
write("stream_records", "csc_two_records", bytes([3, 0]) + objects([("CSC1", 3), ("CSC2", 3)]) +
      record(3, 1) + record(3, 2) + record(3, 5))
write("stream_records", "csc_pieces", bytes([3, 100]) + objects([("CSC1", 3)]) + record(3, 1))
write("stream_records", "spike_mixed", bytes([2, 0]) + objects(spike) +
      record(2, 3) + record(2, 1) + record(2, -1))
write("stream_records", "video", bytes([4, 0]) + objects([("VT1", 4), ("VT2", 4)]) +
      record(4, 1) + record(4, 2) + record(4, 0xFFFF))
write("stream_records", "events", bytes([5, 7]) + objects([("Digital Events", 5)]) +
      record(5, 0) + record(5, 0)[:50])
write("stream_records", "unpaired_types", bytes([0, 0]) +
      bytes([0x80 | 3]) + b"\x02S1\x00\x02S2\x06\x02S3\x07" + record(0, 2))


# ---- session records ---------------------------------------------------------
SESSION = {
    "program": "orvanta-run", "version": "1.0.0", "host": "rig-1", "pid": 4242,
    "server": "127.0.0.1", "negotiate": False, "negotiation_port": 26090,
    "message_port": 26091, "setup_source": ["protocol.cfg"], "seed": 7,
    "first_trial": 1, "number_of_trials": 4,
    "start_time": "2026-12-08T03:04:05.678+01:00",
    "end_time": "2026-12-08T03:04:09.001+01:00", "outcome": "completed",
    "failed_commands": 1, "verdict": "within tolerance",
    "timing": {"mode": "relative", "tolerance_ms": 5, "verdict": "within tolerance",
               "steps_checked": 8, "steps_out": 0, "worst_ms": 1.25},
    "reply_timeout_ms": 5000, "resumes": None,
    "trial_types": [{"name": "A", "period_ms": 45, "start_pulse_ms": 5, "end_pulse_ms": None},
                    {"name": "B \"q\"", "period_ms": 5994.213, "start_pulse_ms": None,
                     "end_pulse_ms": 0}],
}
TIMELINE = ("trial,type,step,command,reply,sent_us,replied_us,status\n"
            "1,A,start pulse,-SetDIOPortOutput VRXBD 0 0 16,0,10,35,replied\n"
            "1,A,start event,\"-PostEvent \"\"Start, A\"\" 3 0\",0,5100,5140,replied\n"
            "2,B,end event,\"-PostEvent \"\"two\nlines\"\" 0 0\",,50000,,no reply\n"
            "3,A,start event,-PostEvent x 3 0,,,,not sent\n")
TRIALS = ("trial\ttype\tstart_us\tend_us\toutcome\n"
          "1\tA\t0\t45000\tcompleted\n2\tB\t45000\t95000\tfailed\n3\tA\t95000\t96000\tskipped\n")
EVENTS = ("onset\tduration\ttrial_type\tvalue\ttrial\tacknowledged\n"
          "0.000010\t0.015000\tstart_pulse\t16\t1\tyes\n0.005100\t0\tstart_event\t3\t1\tyes\n"
          "0.050000\tn/a\tend_event\t0\t2\tno\n")
FAILURES = ("trial\tstep\tcommand\tsent_us\tstatus\treason\tfailed_us\n"
            "2\tend event\t-PostEvent \"two lines\" 0 0\t50000\tno reply\tno reply within 5000 ms\t"
            "5050000\n3\tstart event\t-PostEvent x 3 0\tn/a\tnot sent\tnot connected\t5050001\n")


def session_json(**changes):
    s = dict(SESSION)
    s.update(changes)
    return json.dumps(s, indent=2, ensure_ascii=False) + "\n"


def record_input(session, *files):
    return "\0".join((session,) + files).encode("utf-8")


whole = session_json()
write("session_record", "completed", record_input(whole, TIMELINE, TRIALS, EVENTS, FAILURES))
write("session_record", "session_only.json", whole.encode("utf-8"))
write("session_record", "running_no_failures_file",
      record_input(session_json(outcome="running", end_time=None, verdict=None), TIMELINE,
                   TRIALS, EVENTS))
write("session_record", "cut_mid_object", record_input(whole[:len(whole) // 2], TIMELINE))
write("session_record", "cut_mid_string", whole[:whole.index("rig-1") + 2].encode("utf-8"))
write("session_record", "cut_mid_number", whole[:whole.index("4242") + 2].encode("utf-8"))
write("session_record", "rows_cut_short",
      record_input(whole, TIMELINE[:TIMELINE.index("two\n") + 4], TRIALS[:-9], EVENTS[:-5],
                   FAILURES[:-3]))
write("session_record", "empty", b"")
write("session_record", "garbage", bytes(range(1, 256)) * 2)
write("session_record", "deep_nesting", b'{"timing": ' + b"[" * 80 + b"]" * 80 + b"}")
write("session_record", "huge_numbers",
      record_input(session_json(number_of_trials=1e300, first_trial=-1e300, seed=1e308,
                                pid=-1e308, failed_commands=123456789012345678901234567890),
                   TIMELINE, TRIALS))
write("session_record", "bad_escapes",
      b'{"outcome": "st\\u00e9pped", "host": "\\ud83d\\ude00\\ud800", "server": "\xff\xfe\xc3",'
      b' "program": "\\x"}')
write("session_record", "not_an_object", record_input("[1, 2, 3]", TIMELINE))
write("session_record", "wrong_types",
      record_input(json.dumps({"outcome": 5, "first_trial": "1", "number_of_trials": [4],
                               "trial_types": {"name": "A"}, "timing": "fast"}),
                   "x\n" + "1,2\n" * 3, "a\tb\n\t\t\t\t\n", "a\n1\t2\t3\t4\t5\t6\n"))
