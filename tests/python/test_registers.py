"""Register reads and writes, by address and by name, and their errors."""
import pytest

import korvo


def test_write_without_verify_is_the_write_alone(ini):
    with korvo.open(settings=ini("[Settings]\nVerifyWrite=0\n")) as b:
        b.start_trace()
        b.write(0x15, 16800)
        assert [t[0] for t in b.stop_trace()] == ["WriteSMBusWord_"]


def test_a_write_read_back_otherwise_is_compare_different(board):
    # The status register ignores writes.
    with pytest.raises(korvo.BusError) as e:
        board.write(0x13, 0)
    assert e.value.status_name == "VB_COMPARE_DIFFERENT"
    assert "read back" in str(e.value)


@pytest.mark.parametrize("code", [8, 0x304, 94])
def test_a_failed_read_carries_its_status(ini, code):
    with korvo.open(settings=ini(f"[Simulator]\nFailNext=1\nFailStatus={code}\n")) as b:
        with pytest.raises(korvo.BusError) as e:
            b.read(0x15)
    assert (e.value.status, e.value.status_name) == (code, korvo.status_name(code))
    assert "Error reading register" in str(e.value)


def test_a_failed_write_carries_its_status(ini):
    with korvo.open(settings=ini("[Simulator]\nFailNext=1\nFailScope=Writes\n")) as b:
        with pytest.raises(korvo.BusError) as e:
            b.write(0x15, 12000)
    assert e.value.status_name == "VB_TIMEOUT_ERROR"


def test_read_retries_as_the_settings_say(ini):
    with korvo.open(settings=ini("[Settings]\nReadRetryCount=2\n[Simulator]\nFailNext=2\n")) as b:
        assert b.read(0x15) == 16800


def test_dump_reads_all_eleven_registers(board):
    values = board.dump()
    assert list(values) == [0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x3F]
    assert values[0x15] == 16800


def test_dump_failure_keeps_the_values_read(ini):
    with korvo.open(settings=ini("[Simulator]\nFailNext=1\n")) as b:
        with pytest.raises(korvo.BusError) as e:
            b.dump()
    assert e.value.values[0x10] is None and e.value.values[0x15] == 16800


@pytest.mark.parametrize("name, value", [
    ("charge_voltage_mV", 12000),
    ("charge_current_mA", 1024),
    ("input_current_mA", 2048),
])
def test_dac_registers_by_name_take_their_unit(board, name, value):
    setattr(board, name, value)
    assert getattr(board, name) == value == board.read(korvo.REGISTERS[name])


def test_bits_by_name_are_read_from_the_register(board):
    assert board.status.ACDET == board.read(0x13) >> 15 & 1 == 1


def test_setting_a_bit_changes_that_bit_alone(board):
    before = board.read(0x12)
    board.control.LEARN = 1
    assert board.read(0x12) == before | 1 << 4


# Every value a named register refuses, with the reason the message gives.
BAD_VALUES = [
    ("charge_voltage_mV", 30000, "outside"),
    ("charge_voltage_mV", 10000, "outside"),
    ("charge_voltage_mV", 12001, "multiple of 2"),
    ("charge_voltage_mV", 12000.0, "whole number"),
    ("charge_current_mA", 16384, "outside"),
    ("charge_current_mA", 100, "multiple of 128"),
    ("input_current_mA", -128, "outside"),
    ("vdt", 1, "read-only"),
    ("status", 0, "read-only"),
    ("control", "x", "takes a word"),
]


@pytest.mark.parametrize("name, value, text", BAD_VALUES)
def test_range_checks_raise_before_the_bus(board, name, value, text):
    board.start_trace()
    with pytest.raises(korvo.RangeError, match=text):
        setattr(board, name, value)
    assert board.stop_trace() == []


@pytest.mark.parametrize("call", [
    lambda b: b.read(256),
    lambda b: b.read(-1),
    lambda b: b.write(0x15, 65536),
    lambda b: b.write(0x100, 0),
    lambda b: setattr(b.control, "LEARN", 2),
    lambda b: setattr(b.status, "ACDET", 0),
    lambda b: b.control.__setitem__(16, 1),
])
def test_address_value_and_bit_checks_raise_before_the_bus(board, call):
    board.start_trace()
    with pytest.raises(korvo.RangeError):
        call(board)
    assert board.stop_trace() == []


def test_range_error_is_also_a_value_error():
    assert issubclass(korvo.RangeError, ValueError)


@pytest.mark.parametrize("cls", [korvo.BusError, korvo.RangeError, korvo.SettingsError,
                                 korvo.FileError])
def test_every_error_is_a_korvo_error(cls):
    assert issubclass(cls, korvo.Error)


def test_the_gil_is_free_while_the_bus_works(ini):
    import threading
    with korvo.open(settings=ini("[Simulator]\nLatencyUs=500000\n")) as b:
        ticks = []
        done = threading.Event()

        def count():
            while not done.is_set():
                ticks.append(1)
                done.wait(0.001)

        t = threading.Thread(target=count)
        t.start()
        first = len(ticks)
        b.read(0x15)  # half a second on the bus
        during = len(ticks) - first
        done.set()
        t.join()
    assert during > 10
