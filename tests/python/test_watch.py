"""Watching the five main registers, and Ctrl-C."""
import csv
import os
import signal
import subprocess
import sys
import textwrap

import pytest

import korvo


def test_watch_reads_the_five_registers_in_the_scans_order(board):
    board.start_trace()
    [sample] = board.watch(0, count=1)
    commands = [t[1].split(",")[0] for t in board.stop_trace()]
    assert commands == ["13", "12", "15", "3F", "14"]
    assert sample.charge_voltage_mV == 16800 and sample.errors == {}


def test_watch_stops_after_count_ticks(board):
    assert len(list(board.watch(0, count=7))) == 7


def test_watch_stops_after_its_duration(board):
    samples = list(board.watch(10, duration=0.05))
    assert 1 <= len(samples) and all(s.time < 0.05 for s in samples)


def test_a_failed_read_is_none_with_its_status(ini):
    with korvo.open(settings=ini("[Simulator]\nFailNext=1\nFailStatus=8\n")) as b:
        [sample] = b.watch(0, count=1)
    assert sample.status is None and sample.errors == {0x13: "VB_TIMEOUT_ERROR"}
    assert sample.control is not None


@pytest.mark.parametrize("kwargs", [{"period_ms": -1}, {"period_ms": 3600001}, {"count": 0},
                                    {"duration": 0}])
def test_watch_refuses_bad_options_before_the_bus(board, kwargs):
    board.start_trace()
    with pytest.raises(korvo.RangeError):
        board.watch(**kwargs)
    assert board.stop_trace() == []


def test_samples_as_dicts_carry_every_register(board):
    [sample] = board.watch(0, count=1)
    assert set(sample.as_dict()) == {"time", "status", "control", "charge_voltage_mV",
                                     "input_current_mA", "charge_current_mA"}


def test_to_dataframe_says_what_is_missing_without_pandas(board, monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match="pandas"):
        korvo.to_dataframe(board.watch(0, count=1))


def test_to_dataframe_has_a_column_per_register(board):
    pytest.importorskip("pandas")
    frame = korvo.to_dataframe(board.watch(0, count=3))
    assert len(frame) == 3 and frame["charge_voltage_mV"].iloc[0] == 16800


def test_to_arrays_has_nan_for_a_failed_read(ini):
    pytest.importorskip("numpy")
    with korvo.open(settings=ini("[Simulator]\nFailNext=1\n")) as b:
        arrays = korvo.to_arrays(b.watch(0, count=2))
    assert arrays["status"][0] != arrays["status"][0] and arrays["status"][1] == 0x8080


WATCH_UNTIL_INTERRUPTED = textwrap.dedent("""
    import sys, korvo
    board = korvo.open("sim")
    with board.record(sys.argv[1]):
        for n, sample in enumerate(board.watch(int(sys.argv[2]))):
            if n == 0:
                print("watching", flush=True)
""")


# A period of an hour: Ctrl-C is noticed while the watch waits for its next tick.
@pytest.mark.parametrize("suffix, period", [(".csv", 0), (".csv", 3600000), (".vcd", 50)])
def test_ctrl_c_ends_a_watch_with_the_recording_complete(tmp_path, suffix, period):
    path = tmp_path / ("r" + suffix)
    child = subprocess.Popen([sys.executable, "-c", WATCH_UNTIL_INTERRUPTED, str(path), str(period)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ))
    assert child.stdout.readline() == "watching\n"
    child.send_signal(signal.SIGINT)
    _, err = child.communicate(timeout=30)
    assert "KeyboardInterrupt" in err
    text = path.read_bytes().decode()
    if suffix == ".csv":
        rows = list(csv.reader(text.splitlines()))
        assert text.endswith("\r\n") and all(len(r) == len(rows[0]) for r in rows)
        assert (len(rows) - 1) % 5 == 0  # whole ticks only
    else:
        assert text.rstrip().splitlines()[-1].startswith("#")
