"""Snapshots, spins, the burn and recordings."""
import csv
import subprocess

import pytest

import korvo

YES = lambda text: True  # noqa: E731
NO = lambda text: False  # noqa: E731


def test_snapshot_is_a_spin_preset_section(board, tmp_path):
    path = tmp_path / "s.ini"
    board.snapshot(path)
    text = path.read_text()
    assert "\n[SpinCustom 1]\n" in text and "\n0x15=41A0\n" in text


def test_compare_with_the_same_chip_finds_nothing(board, tmp_path):
    board.snapshot(tmp_path / "s.ini")
    assert board.compare(tmp_path / "s.ini") == []


def test_compare_names_the_register_and_bits_that_changed(board, tmp_path):
    board.snapshot(tmp_path / "s.ini")
    board.charge_voltage_mV = 12000
    [change] = board.compare(tmp_path / "s.ini")
    assert (change["address"], change["from"], change["to"]) == (0x15, 16800, 12000)
    assert change["bits"]


def test_restore_writes_the_snapshot_back(board, tmp_path):
    board.snapshot(tmp_path / "s.ini")
    board.charge_voltage_mV = 12000
    assert board.restore(tmp_path / "s.ini", confirm=YES) is True
    assert board.charge_voltage_mV == 16800


@pytest.mark.parametrize("operation", [
    lambda b, p: b.restore(p, confirm=NO),
    lambda b, p: b.spin("Custom 1", confirm=NO),
    lambda b, p: b.burn(confirm=NO),
])
def test_a_declined_confirmation_writes_nothing(ini, tmp_path, operation):
    settings = ini("[SpinCustom 1]\n0x15=2EE0\n")
    with korvo.open(settings=settings) as b:
        b.snapshot(tmp_path / "s.ini")
        b.start_trace()
        assert operation(b, tmp_path / "s.ini") is False
        assert b.stop_trace() == []


def test_the_confirmation_is_shown_the_message(board):
    asked = []
    board.burn(confirm=lambda text: asked.append(text) or False)
    assert asked == ["Be sure CHGEN pin is at 12V for EEPROM burn. Press OK to continue."]


def test_burn_has_no_default_confirmation(board):
    with pytest.raises(TypeError):
        board.burn()


def test_an_exception_in_confirm_reaches_the_caller_and_writes_nothing(board):
    def refuse(text):
        raise KeyError("operator away")
    board.start_trace()
    with pytest.raises(KeyError):
        board.burn(confirm=refuse)
    assert board.stop_trace() == []


def test_spin_applies_the_preset_of_the_settings_file(ini):
    with korvo.open(settings=ini("[SpinCustom 1]\n0x15=2EE0\n")) as b:
        assert b.spin("Custom 1", confirm=YES) is True
        assert b.charge_voltage_mV == 0x2EE0


def test_spin_with_a_malformed_value_is_a_settings_error(ini):
    with korvo.open(settings=ini("[SpinCustom 1]\n0x15=12G0\n")) as b:
        with pytest.raises(korvo.SettingsError, match="not 1 to 4 hex digits"):
            b.spin("Custom 1", confirm=YES)


def test_an_unknown_spin_caption_raises_before_the_bus(board):
    board.start_trace()
    with pytest.raises(korvo.RangeError, match="unknown spin"):
        board.spin("Custom 9", confirm=YES)
    assert board.stop_trace() == []


def test_burn_writes_the_burn_word_then_leaves_burn_mode(board):
    board.start_trace()
    assert board.burn(confirm=YES) is True
    writes = [t[1] for t in board.stop_trace() if t[0] == "WriteSMBusWord_"]
    assert writes == ["17,205", "17,201"]


def test_a_malformed_snapshot_is_a_file_error(board, tmp_path):
    (tmp_path / "bad.ini").write_text("[SpinCustom 1]\n0x15=zz\n")
    with pytest.raises(korvo.FileError):
        board.compare(tmp_path / "bad.ini")


def test_the_settings_file_is_never_written(ini):
    settings = ini("[Settings]\n")
    with korvo.open(settings=settings) as b:
        with pytest.raises(korvo.FileError, match="settings file"):
            b.snapshot(settings)


def test_record_csv_has_a_row_per_access(board, tmp_path):
    with board.record(tmp_path / "r.csv") as rec:
        board.read(0x15)
        board.write(0x14, 1024)
    rows = list(csv.DictReader(open(tmp_path / "r.csv", newline="")))
    assert [(r["operation"], r["register"]) for r in rows] == [
        ("read", "0x15"), ("write", "0x14"), ("read", "0x14")]
    assert rec.samples == 3


def test_record_vcd_is_closed_with_a_last_timestamp(board, tmp_path):
    with board.record(tmp_path / "r.vcd"):
        list(board.watch(0, count=3))
    text = (tmp_path / "r.vcd").read_text()
    assert "$enddefinitions" in text and text.rstrip().splitlines()[-1].startswith("#")


def test_record_refuses_an_unknown_extension_before_the_bus(board, tmp_path):
    board.start_trace()
    with pytest.raises(korvo.FileError):
        board.record(tmp_path / "r.txt")
    assert board.stop_trace() == []
    assert not (tmp_path / "r.txt").exists()


def test_two_boards_record_to_their_own_files(tmp_path):
    with korvo.open("sim") as a, korvo.open("sim") as b:
        with a.record(tmp_path / "a.csv"), b.record(tmp_path / "b.csv"):
            a.read(0x15)
            b.read(0x14)
            b.read(0x14)
    assert len((tmp_path / "a.csv").read_text().splitlines()) == 2
    assert len((tmp_path / "b.csv").read_text().splitlines()) == 3


def test_each_board_journals_its_own_transactions(tmp_path):
    with korvo.open("sim") as a, korvo.open("sim") as b:
        with a.journal(tmp_path / "a.csv"), b.journal(tmp_path / "b.csv"):
            a.read(0x15)
            b.write(0x14, 1024)
    a_rows = list(csv.DictReader(open(tmp_path / "a.csv", newline="")))
    b_rows = list(csv.DictReader(open(tmp_path / "b.csv", newline="")))
    assert [r["transaction"] for r in a_rows] == ["ReadSMBusWord_(15)"]
    assert [r["transaction"] for r in b_rows] == ["WriteSMBusWord_(14,400)", "ReadSMBusWord_(14)"]


def test_record_sr_is_a_sigrok_session_at_the_watch_period(board, tmp_path):
    path = tmp_path / "r.sr"
    with board.record(path, period_ms=100):
        list(board.watch(100, count=3))
    shown = subprocess.run(["sigrok-cli", "-i", str(path), "--show"], capture_output=True,
                           text=True, check=True).stdout
    assert "Samplerate: 10\n" in shown
    assert "- 0x15.BATTERY_VOLTAGE_mV: analog" in shown
    assert "Analog sample count: 3\n" in shown
