#!/usr/bin/env python3
"""Characterisation sweep: the charge current set point (register 0x14) in 128 mA steps against
the current the bench measures, with the charger's status at each step. Writes a CSV and, when
matplotlib is installed, a plot.

    examples/characterise_charge_current.py                   # simulated board and bench
    examples/characterise_charge_current.py --driver i2cdev --bus CP2112 \\
        --instrument "scpi-pps:conn=tcp-raw/192.168.1.21/5555 label=Load channels=I1"

Without --instrument the simulated bench (scripts/fake-bench.py) is started and its electronic
load on the battery side is the meter.
"""
import argparse
import csv
import pathlib
import subprocess
import sys
import time

import korvo

ROOT = pathlib.Path(__file__).resolve().parents[1]


def start_fake_bench():
    bench = subprocess.Popen([sys.executable, str(ROOT / "scripts" / "fake-bench.py"), "--port", "0"],
                             stdout=subprocess.PIPE, text=True)
    ready, _psu, load = bench.stdout.readline().split()
    assert ready == "ready"
    return bench, f"scpi-pps:conn=tcp-raw/127.0.0.1/{load} label=Load channels=I1"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--driver", default="sim")
    p.add_argument("--bus")
    p.add_argument("--settings")
    p.add_argument("--instrument", help="the meter of the charge current, as sigrok names it")
    p.add_argument("--start", type=int, default=128, help="first set point, mA")
    p.add_argument("--stop", type=int, default=4096, help="last set point, mA")
    p.add_argument("--settle", type=float, default=0.2, help="seconds to wait after each step")
    p.add_argument("--csv", default="charge_current_sweep.csv")
    p.add_argument("--plot", default="charge_current_sweep.png")
    a = p.parse_args()

    bench = None
    entry = a.instrument
    if entry is None:
        bench, entry = start_fake_bench()
    try:
        meter = korvo.instrument(entry)
        rows = []
        with korvo.open(a.driver, settings=a.settings, bus=a.bus) as board:
            before = board.charge_current_mA
            try:
                for set_point in range(a.start, a.stop + 1, 128):
                    board.charge_current_mA = set_point  # range-checked, written, read back
                    time.sleep(a.settle)
                    status = board.status
                    measured = meter.read()
                    current = next((v for k, v in measured.items() if k.endswith("current")), None)
                    rows.append({"set_mA": set_point, "measured_mA": current,
                                 "status": f"0x{status.value:04X}", "ACDET": status.ACDET,
                                 "CHGOFF": status.CHGOFF})
                    shown = "-" if current is None else f"{current:.1f}"
                    print(f"{set_point:6d} mA set  {shown:>8} mA measured  status {rows[-1]['status']}")
            finally:
                board.charge_current_mA = before
    finally:
        if bench:
            bench.terminate()
            bench.wait()

    with open(a.csv, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(rows[0]))
        w.writeheader()
        w.writerows(rows)
    print(f"wrote {a.csv}")
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot (apt install python3-matplotlib)")
        return
    fig, ax = plt.subplots()
    ax.plot([r["set_mA"] for r in rows], [r["measured_mA"] for r in rows], "o-", label="measured")
    ax.plot([r["set_mA"] for r in rows], [r["set_mA"] for r in rows], "--", label="set point")
    ax.set_xlabel("charge current set point (mA)")
    ax.set_ylabel("charge current (mA)")
    ax.legend()
    fig.savefig(a.plot, dpi=120)
    print(f"wrote {a.plot}")


if __name__ == "__main__":
    main()
