#!/usr/bin/env python3
"""Two boards side by side in one process: their registers, bit by bit, then a short watch of
both.

    examples/compare_two_boards.py                                  # two simulated boards
    examples/compare_two_boards.py --a-settings a.ini --b-settings b.ini
    examples/compare_two_boards.py --b-driver i2cdev --b-bus CP2112  # simulated vs. real
"""
import argparse
import pathlib
import tempfile

import korvo


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for side in "ab":
        p.add_argument(f"--{side}-driver", default="sim")
        p.add_argument(f"--{side}-settings")
        p.add_argument(f"--{side}-bus")
    p.add_argument("--ticks", type=int, default=5)
    a = p.parse_args()

    with korvo.open(a.a_driver, settings=a.a_settings, bus=a.a_bus) as first, \
         korvo.open(a.b_driver, settings=a.b_settings, bus=a.b_bus) as second, \
         tempfile.TemporaryDirectory() as work:
        snap = pathlib.Path(work) / "first.ini"
        first.snapshot(snap)
        changes = second.compare(snap)  # the second board against the first's snapshot
        if not changes:
            print("The two boards hold the same registers.")
        for c in changes:
            print(f"0x{c['address']:02X}: A 0x{c['from'] or 0:04X}  B 0x{c['to'] or 0:04X}")
            for bit, name, was, now in c["bits"]:
                print(f"    bit {bit:2d} {name.strip():<20} A {int(was)}  B {int(now)}")

        print(f"\n{'t/s':>6} {'A mV':>7} {'B mV':>7} {'A mA':>7} {'B mA':>7}")
        for sa, sb in zip(first.watch(200, count=a.ticks), second.watch(200, count=a.ticks)):
            print(f"{sa.time:6.2f} {sa.charge_voltage_mV!s:>7} {sb.charge_voltage_mV!s:>7} "
                  f"{sa.charge_current_mA!s:>7} {sb.charge_current_mA!s:>7}")


if __name__ == "__main__":
    main()
