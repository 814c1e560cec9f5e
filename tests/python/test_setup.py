"""Setups from Python: the window's interpreter, deck, writer and checks."""

import os
import subprocess

import pytest

import orvanta
from conftest import EXAMPLES, RUNNER


def runner(*args, cwd):
    return subprocess.run([RUNNER, "--quiet", "--log", "cli-log", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=60)


def test_load_shuffle_and_save_match_the_runner(tmp_path):
    protocol = os.path.join(EXAMPLES, "protocol.cfg")
    setup = orvanta.Setup.load(protocol)
    assert [t.name for t in setup.types] == ["Tone", "Light", "Catch"]
    tone = setup["Tone"]
    assert (tone.count, tone.duration, tone.interval, tone.wav_file) == (4, 500, 800,
                                                                          "tone_1kHz.wav")
    assert setup.order[:3] == ["Catch", "Tone", "Tone"] and setup.max_in_a_row == 2

    shuffled = setup.shuffle(seed=11)
    assert shuffled.limit_met and shuffled.breaks == [] and bool(shuffled)
    saved = tmp_path / "py.cfg"
    assert setup.save(str(saved)) == []
    out = runner("--seed", "11", "--shuffle", "--print-order", "--save", "cli.cfg", "--dry-run",
                 protocol, cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["%d.  %s" % (i + 1, n) for i, n in enumerate(setup.order)]
    # The same bytes but for the header's date and the log's own file.
    ours = saved.read_bytes().split(b"\r\n")
    theirs = (tmp_path / "cli.cfg").read_bytes().split(b"\r\n")
    assert ours[5] == b'-SetLogFile "%s"' % str(tmp_path / "OrvantaLogFile.txt").encode()
    assert theirs[5] == b'-SetLogFile "%s"' % str(tmp_path / "cli-log.txt").encode()
    assert ours[:2] + ours[3:5] + ours[6:] == theirs[:2] + theirs[3:5] + theirs[6:]

    # Macros, edits and a limit that cannot be met.
    setup = orvanta.Setup.load(os.path.join(EXAMPLES, "macros.cfg"))
    assert len(setup) > 0
    crowded = orvanta.Setup()
    crowded.add_type("A").count = 5
    crowded.add_type("B")
    assert "B" in crowded and "C" not in crowded
    result = crowded.shuffle(seed=1)
    assert (result.limit_met, result.breaks) == (False, [2, 3, 6])
    assert result.message == ("Shuffle Failed, the Max limit of consecutive cards request has not "
                              "been satisfied.")
    crowded.remove_type("B")
    with pytest.raises(KeyError):
        crowded["B"].duration


def test_check_prints_what_the_runner_prints(tmp_path):
    path = tmp_path / "bad.cfg"
    path.write_text('-AddTrial "P"\n-SetStartOfTrialGenerateTTLPulse "P" true\n'
                    '-SetStartOfTrialTTLPulseBitNumber "P" 16\n-SetTrialDuration "P" -5\n'
                    '-AddTrial "Q"\n-SetTrialCount "Q" 0\n')
    problems = orvanta.Setup.load(str(path)).check()
    out = runner("--check", str(path), cwd=tmp_path)
    assert out.returncode == 4
    assert ["problem: " + p for p in problems] == out.stdout.splitlines()
    assert len(problems) >= 3


def test_bad_files_raise_the_programs_texts(tmp_path):
    missing = str(tmp_path / "nowhere.cfg")
    with pytest.raises(orvanta.SetupFileError) as error:
        orvanta.Setup.load(missing)
    assert str(error.value) == ("FormatCmdLine::OpenFileCfg() - Error, attempt to open filename "
                                "failed.  filename: " + missing)
    bad = tmp_path / "bad.cfg"
    bad.write_text('-AddTrial "A"\n-SetTrialCount "Nobody" 3\n')
    with pytest.raises(orvanta.SetupFileError) as error:
        orvanta.Setup.load(str(bad))
    assert str(error.value).startswith(
        "There was an error processing your configuration file.  See the logfile for details."
        "\n\nFile: %s\nLine Number: 2\nCommand: -SetTrialCount \"Nobody\" 3\n" % bad)
    assert (error.value.line, error.value.command) == (2, '-SetTrialCount "Nobody" 3')
    setup = orvanta.Setup()
    with pytest.raises(ValueError, match="the trial name is blank"):
        setup.add_type("")
    with pytest.raises(orvanta.OrvantaError) as error:
        setup.execute('-SetTrialCount "Nobody" 3')
    assert str(error.value) == ("CommandProcessor::SetTrialCount() - Error, the trial name was not "
                                "found.  Trial Name: Nobody")
    with pytest.raises(orvanta.OrvantaError) as error:
        setup.save(tmp_path / "no" / "x.cfg")
    assert str(error.value) == ("cannot save the setup file %s: cannot create a file in the folder "
                                "%s: No such file or directory" % (tmp_path / "no" / "x.cfg",
                                                                   tmp_path / "no"))


def test_triggers_set_read_clear_save_and_check(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    setup = orvanta.Setup()
    setup.add_type("Tone")
    assert setup.trigger("Tone") is None
    setup.set_trigger("Tone", "SE 1", count=3, window_ms=50, on_timeout="skip")
    assert setup.trigger("Tone") == {"object": "SE 1", "count": 3, "window_ms": 50,
                                     "timeout_ms": 10000, "on_timeout": "Skip"}
    line = '-SetStartOfTrialTrigger "Tone" "SE 1" 3 50 10000 Skip'
    setup.save(str(tmp_path / "t.cfg"))
    assert line.encode() + b"\r\n" in (tmp_path / "t.cfg").read_bytes()
    assert orvanta.Setup.load(str(tmp_path / "t.cfg")).trigger("Tone") == setup.trigger("Tone")

    for args, error in [((0,), "count must be at least 1, not 0"),
                        ((1, -1), "window_ms must not be negative, not -1"),
                        ((1, 0, -2), "timeout_ms must not be negative, not -2"),
                        ((1, 0, 5, "Later"), "on_timeout is 'Play' or 'Skip', not 'Later'")]:
        with pytest.raises(ValueError) as raised:
            setup.set_trigger("Tone", "SE1", *args)
        assert str(raised.value) == error
    with pytest.raises(KeyError):
        setup.set_trigger("Nope", "SE1")

    # What the check reports, as orvanta-run --check does.
    setup.set_trigger("Tone", "SE 1", count=2, window_ms=0, timeout_ms=0)
    head = 'Trial type "Tone": the start trigger'
    problems = [head + "'s window (0 ms) is too short for 2 records at any rate (they need at "
                       "least 1 ms), so every wait would time out.",
                head + "'s timeout is 0 ms; the trial would never wait for its records."]
    assert setup.check() == problems
    assert setup.check(objects=["SE1", "CSC1"]) == [
        head + "'s object \"SE 1\" is not one of the server's objects."] + problems
    assert setup.check(objects=["SE 1"]) == problems

    setup.clear_trigger("Tone")
    assert setup.trigger("Tone") is None and setup.check() == []
    assert "-SetStartOfTrialTrigger" not in setup.text
