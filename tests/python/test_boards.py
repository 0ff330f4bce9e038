"""Several boards in one interpreter, and what opening one refuses."""
import pytest

import korvo


def test_two_boards_hold_their_own_registers():
    with korvo.open("sim") as a, korvo.open("sim") as b:
        a.charge_voltage_mV = 12000
        b.charge_voltage_mV = 16800
        assert (a.charge_voltage_mV, b.charge_voltage_mV) == (12000, 16800)


def test_two_boards_have_their_own_bus_traffic():
    with korvo.open("sim") as a, korvo.open("sim") as b:
        a.start_trace()
        b.start_trace()
        a.read(0x15)
        assert len(a.stop_trace()) == 1
        assert b.stop_trace() == []


def test_two_boards_take_their_own_settings(ini):
    first = ini("[Target]\nAddress=102\n", "first.ini")
    second = ini("[Target]\nAddress=103\n", "second.ini")
    with korvo.open(settings=first) as a, korvo.open(settings=second) as b:
        assert (a.address, b.address) == (102, 103)


def test_address_argument_overrides_the_settings_file(ini):
    with korvo.open(settings=ini("[Target]\nAddress=102\n"), address=0x66) as b:
        assert b.address == 0x66


def test_a_closed_board_refuses_reads():
    b = korvo.open("sim")
    b.close()
    with pytest.raises(korvo.Error, match="closed"):
        b.read(0x15)


def test_context_manager_closes_the_board():
    with korvo.open("sim") as b:
        pass
    assert not b.is_open


@pytest.mark.parametrize("kwargs, text", [
    ({"driver": "nosuch"}, "unknown driver 'nosuch'"),
    ({"variant": "rk9999"}, "invalid chip variant"),
    ({"settings": "/nonexistent/korvo.ini"}, "cannot read settings file"),
    ({"bus": "3"}, "no"),
    ({"address": 256}, "invalid device address"),
])
def test_open_refuses_unusable_settings(kwargs, text):
    with pytest.raises(korvo.SettingsError, match=text):
        korvo.open(**kwargs)


def test_an_absent_adapter_is_a_bus_error(ini):
    with pytest.raises(korvo.BusError) as e:
        korvo.open(settings=ini("[Simulator]\nAbsent=1\n"))
    assert e.value.status_name == "VB_NO_USB"
    assert "Failed to initialize the Tarn88!" in str(e.value)


def test_the_variant_renames_the_status_bits():
    with korvo.open("sim", variant="rk5191") as b:
        assert "BDET" in dir(b.status)
    with korvo.open("sim") as b:
        assert "BDET" not in dir(b.status)


def test_another_threads_write_never_splits_a_write_from_its_read_back(ini):
    import threading
    # Slow transactions, so the two threads' accesses overlap unless they take turns.
    with korvo.open(settings=ini("[Simulator]\nLatencyUs=1000\n")) as b:
        failures = []

        def work(address, value):
            try:
                for _ in range(40):
                    b.write(address, value)  # write and read-back are never split
            except korvo.Error as e:
                failures.append(e)

        threads = [threading.Thread(target=work, args=a) for a in ((0x15, 12000), (0x15, 16800))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert failures == [] and b.read(0x15) in (12000, 16800)
