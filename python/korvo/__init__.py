"""Korvo from Python: the rk5190/rk5191 charger's registers, checks and recordings.

    import korvo
    with korvo.open("sim") as board:
        board.charge_voltage_mV = 16800        # range-checked, written, read back
        if board.status.ACDET:
            for sample in board.watch(100, count=10):
                print(sample.charge_current_mA)

Every failure is a korvo.Error: BusError (with .status and .status_name), RangeError (raised
before the bus is touched), SettingsError, FileError. Nothing is printed and nothing asks: the
operations that need a yes (spin, burn, restore) take a confirm callable.
"""
import re as _re

from . import _korvo
from ._korvo import (BusError, Error, FileError, Instrument, Journal, RangeError, Recording,
                     Sample, SettingsError, Watch, status_name)

__all__ = ["open", "instrument", "Board", "Bits", "Sample", "Watch", "Recording", "Journal", "Instrument",
           "Error", "BusError", "RangeError", "SettingsError", "FileError", "status_name",
           "to_dataframe", "to_arrays", "REGISTERS"]

# Register addresses by name.
REGISTERS = {
    "trim0": 0x10, "trim1": 0x11, "control": 0x12, "status": 0x13, "charge_current_mA": 0x14,
    "charge_voltage_mV": 0x15, "trim2": 0x16, "test_mode1": 0x17, "test_mode2": 0x18,
    "vdt": 0x19, "input_current_mA": 0x3F,
}


def _attribute_name(bit_name):
    """'AC<BT' -> 'AC_BT': a bit name as a Python identifier."""
    return _re.sub(r"\W+", "_", bit_name).strip("_")


def _tables(variant):
    table = {r["address"]: r for r in _korvo._registers(variant)}
    for r in table.values():
        names = [_attribute_name(n) for n in r["main_bits"]]
        # A name that repeats (RSVD) names no bit: reach those by number.
        r["bit_of"] = {n: bit for bit, n in enumerate(names) if n and names.count(n) == 1}
    return table


_TABLES = {v: _tables(v) for v in ("rk5190", "rk5191")}


class Bits:
    """The bits of the control or status register by the main window's names (board.status.ACDET,
    board.control.LEARN = 1), or by number (bits[11]). The register is read once, when the first
    bit is asked for; setting a bit reads the register afresh, then writes it as Board.write does.
    """

    __slots__ = ("_board", "_register", "_value")

    def __init__(self, board, register):
        object.__setattr__(self, "_board", board)
        object.__setattr__(self, "_register", register)
        object.__setattr__(self, "_value", None)

    @property
    def value(self):
        """The register's word (read on first use)."""
        if self._value is None:
            object.__setattr__(self, "_value", self._board.read(self._register["address"]))
        return self._value

    def __int__(self):
        return self.value

    def __index__(self):
        return self.value

    def _bit(self, key):
        if isinstance(key, int) and not isinstance(key, bool):
            if not 0 <= key <= 15:
                raise RangeError(f"bit {key} is outside 0 to 15")
            return key
        bit = self._register["bit_of"].get(key)
        if bit is None:
            raise AttributeError(f"register 0x{self._register['address']:02X} has no bit named {key!r}")
        return bit

    def __getitem__(self, key):
        return (self.value >> self._bit(key)) & 1

    def __setitem__(self, key, on):
        bit = self._bit(key)
        if self._register["read_only"]:
            raise RangeError(f"register 0x{self._register['address']:02X} is read-only")
        if on not in (0, 1):  # True and False too
            raise RangeError(f"a bit is 0 or 1, not {on!r}")
        address = self._register["address"]
        word = self._board.read(address)
        word = (word | (1 << bit)) if on else (word & ~(1 << bit))
        self._board.write(address, word)
        object.__setattr__(self, "_value", word)

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        return self[name]

    def __setattr__(self, name, on):
        self[name] = on

    def __dir__(self):
        return sorted(self._register["bit_of"])

    def as_dict(self):
        """Bit name -> 0 or 1, the named bits only."""
        return {n: (self.value >> b) & 1 for n, b in self._register["bit_of"].items()}

    def __repr__(self):
        return f"<korvo.Bits 0x{self._register['address']:02X}=0x{self.value:04X} {self.as_dict()}>"


def _dac_property(address):
    def get(self):
        return self.read(address)

    def set(self, value):
        r = self._table[address]
        if isinstance(value, bool) or not isinstance(value, int):
            raise RangeError(f"{r['caption']}: {value!r} is not a whole number of {r['unit']}")
        if not any(lo <= value <= hi for lo, hi in r["valid"]):
            ranges = ", ".join(f"{lo}" if lo == hi else f"{lo} to {hi}" for lo, hi in r["valid"])
            raise RangeError(f"{r['caption']}: {value} {r['unit']} is outside {ranges} {r['unit']}")
        if value % r["resolution"]:
            raise RangeError(f"{r['caption']}: {value} {r['unit']} is not a multiple of "
                             f"{r['resolution']} {r['unit']} (the DAC's step)")
        self.write(address, value)

    return property(get, set, doc=f"Register 0x{address:02X} in its unit, range-checked on writes.")


def _bits_property(address):
    def get(self):
        return Bits(self, self._table[address])

    def set(self, value):
        if isinstance(value, bool) or not isinstance(value, int):
            raise RangeError(f"register 0x{address:02X} takes a word, not {value!r}")
        if self._table[address]["read_only"]:
            raise RangeError(f"register 0x{address:02X} is read-only")
        self.write(address, value)

    return property(get, set, doc=f"The bits of register 0x{address:02X} (a Bits view).")


def _word_property(address, read_only):
    def get(self):
        return self.read(address)

    def set(self, value):
        if read_only:
            raise RangeError(f"register 0x{address:02X} is read-only")
        if isinstance(value, bool) or not isinstance(value, int):
            raise RangeError(f"register 0x{address:02X} takes a word, not {value!r}")
        self.write(address, value)

    return property(get, set, doc=f"Register 0x{address:02X} as a word.")


class Board(_korvo._Board):
    """One charger board on its own adapter link. Open it with korvo.open().

    read(address) and write(address, value) take any register address (0 to 255) and word
    (0 to 65535), as korvoctl does; with VerifyWrite on (the default) a write is read back and a
    different value raises BusError (VB_COMPARE_DIFFERENT). The registers by name check their
    ranges before the bus is touched.
    """

    charge_voltage_mV = _dac_property(0x15)
    charge_current_mA = _dac_property(0x14)
    input_current_mA = _dac_property(0x3F)
    control = _bits_property(0x12)
    status = _bits_property(0x13)
    trim0 = _word_property(0x10, False)
    trim1 = _word_property(0x11, False)
    trim2 = _word_property(0x16, False)
    test_mode1 = _word_property(0x17, False)
    test_mode2 = _word_property(0x18, False)
    vdt = _word_property(0x19, True)

    def __init__(self, driver="sim", *, settings=None, bus=None, address=None, variant="rk5190",
                 pec=False):
        if settings is not None:
            settings = str(settings)
        if bus is not None:
            bus = str(bus)
        super().__init__(driver, settings, bus, address, variant, bool(pec))
        self._table = _TABLES[self.variant]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def record(self, path, **options):
        """Records every register access (and the instruments' readings) to path: .csv, .vcd or
        .sr (a sigrok session through libsigrok, one sample per period_ms: give the watch's
        period). Use it as a context manager; the file is complete when it ends."""
        return super().record(str(path), **options)

    def journal(self, path):
        """Writes every adapter transaction of this board to path (CSV, as korvoctl --journal).
        Use it as a context manager."""
        return super().journal(str(path))

    def snapshot(self, path, caption="Custom 1"):
        """Saves the eleven registers as a spin preset section ([SpinCustom 1])."""
        return super().snapshot(str(path), caption)

    def compare(self, path, other=None):
        """The registers that differ from snapshot path (the chip's, or snapshot other's): a list
        of {"address", "from", "to", "bits": [(bit, name, from, to)]}; empty when they agree."""
        return super().compare(str(path), None if other is None else str(other))

    def restore(self, path, *, confirm):
        """Writes snapshot path back as a spin is applied; False when confirm declined."""
        return super().restore(str(path), confirm=confirm)

    def __repr__(self):
        state = "open" if self.is_open else "closed"
        return f"<korvo.Board {self.driver} 0x{self.address:02X} {self.variant} {state}>"


def open(driver="sim", *, settings=None, bus=None, address=None, variant="rk5190",  # noqa: A001
         pec=False):
    """Opens a board: driver "sim" (a simulated board of its own) or "i2cdev" (bus: a bus number,
    device path or adapter name). settings: a korvo.ini (default: the user's, then the
    system's); address: the charger's 8-bit bus address; variant: "rk5190" or "rk5191";
    pec: i2cdev only, check word transfers with a packet error code ([Adapter] Pec=1)."""
    return Board(driver, settings=settings, bus=bus, address=address, variant=variant, pec=pec)


def instrument(entry):
    """A bench instrument as sigrok names it, e.g. "scpi-pps:conn=tcp-raw/HOST/5555 label=PSU",
    opened on a thread of its own; pass it to Board.watch(instruments=[...])."""
    return Instrument(entry)


def _rows(samples):
    return [s.as_dict() for s in samples]


def to_dataframe(samples):
    """The samples (any iterable, a watch too) as a pandas DataFrame indexed by time."""
    try:
        import pandas
    except ImportError as e:
        raise ImportError("to_dataframe needs pandas (apt install python3-pandas)") from e
    frame = pandas.DataFrame(_rows(samples))
    return frame.set_index("time") if "time" in frame else frame


def to_arrays(samples):
    """The samples as a dict of numpy arrays, one per column (a failed read is NaN)."""
    try:
        import numpy
    except ImportError as e:
        raise ImportError("to_arrays needs numpy (apt install python3-numpy)") from e
    rows = _rows(samples)
    columns = {}
    for row in rows:
        for key in row:
            columns.setdefault(key, None)
    return {k: numpy.array([numpy.nan if r.get(k) is None else r[k] for r in rows], dtype=float)
            for k in columns}
