"""Bench instruments beside the registers, on the simulated bench (scripts/fake-bench.py)."""
import csv
import subprocess
import sys

import pytest

import korvo

from conftest import SOURCE_DIR


@pytest.fixture(scope="module")
def psu_port():
    bench = subprocess.Popen([sys.executable, str(SOURCE_DIR / "scripts" / "fake-bench.py"),
                              "--port", "0"], stdout=subprocess.PIPE, text=True)
    line = bench.stdout.readline().split()
    assert line[0] == "ready"
    yield int(line[1])
    bench.terminate()
    bench.wait(timeout=30)


@pytest.fixture
def psu(psu_port):
    return korvo.instrument(f"scpi-pps:conn=tcp-raw/127.0.0.1/{psu_port} label=PSU channels=V1,I1")


def test_an_instrument_reads_its_channels_in_mv_and_ma(psu):
    readings = psu.read()
    assert set(readings) == {"PSU CH1 voltage", "PSU CH1 current"}
    assert psu.units() == {"PSU CH1 voltage": "mV", "PSU CH1 current": "mA"}
    assert psu.present


def test_a_malformed_entry_is_a_settings_error():
    with pytest.raises(korvo.SettingsError, match="invalid instrument"):
        korvo.instrument("scpi-pps:conn")


def test_a_recording_holds_the_instruments_readings(board, psu, tmp_path):
    psu.read()
    with board.record(tmp_path / "r.csv", instruments=[psu]):
        samples = list(board.watch(20, count=5, instruments=[psu]))
    rows = list(csv.DictReader(open(tmp_path / "r.csv", newline="")))
    measured = [r for r in rows if r["operation"] == "measure"]
    assert measured and all(r["source"] == "PSU" for r in measured)
    assert any(s.readings for s in samples)


def test_a_vcd_declares_the_instruments_channels(board, psu, tmp_path):
    with board.record(tmp_path / "r.vcd", instruments=[psu]):
        list(board.watch(0, count=2, instruments=[psu]))
    text = (tmp_path / "r.vcd").read_text()
    assert "$var real" in text and "PSU" in text


def test_a_closed_instrument_is_refused_before_the_bus(board, psu):
    psu.close()
    board.start_trace()
    with pytest.raises(korvo.Error, match="closed"):
        board.watch(0, count=1, instruments=[psu])
    assert board.stop_trace() == [] and not psu.present
