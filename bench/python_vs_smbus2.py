#!/usr/bin/env python3
"""The korvo Python module's speed, measured (not a test; run it on a quiet machine):

1. board.read(0x15) against smbus2.SMBus(N).read_word_data(0x33, 0x15), both on the same fake
   i2c-dev bus (bench/fake_i2c_bus.c, loaded with LD_PRELOAD), interleaved in rounds in one run;
   prints the time per call of each and their ratio (target: <= 1.0).
2. board.watch(0) on the simulated board: register reads per second (target: >= 100,000).

    bench/python_vs_smbus2.py [build dir, default build/release]

It re-runs itself with the fake bus preloaded. Needs python3-smbus2 and a C compiler.
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUS = 17
ROUNDS = 20
CALLS = 20000


def per_call(fn, calls):
    start = time.perf_counter()
    for _ in range(calls):
        fn()
    return (time.perf_counter() - start) / calls


def measure():
    import smbus2

    import korvo

    ini = pathlib.Path(os.environ["BENCH_WORK"]) / "korvo.ini"
    ini.write_text(f"[Adapter]\nDriver=i2cdev\nBus={BUS}\n")
    board = korvo.open("i2cdev", settings=ini)
    bus = smbus2.SMBus(BUS)
    assert board.read(0x15) == 0x41A0, "korvo did not read the fake bus"
    assert bus.read_word_data(0x33, 0x15) == 0x41A0, "smbus2 did not read the fake bus"
    korvo_times, smbus_times = [], []
    for _ in range(ROUNDS):  # interleaved, so both see the same machine
        korvo_times.append(per_call(lambda: board.read(0x15), CALLS))
        smbus_times.append(per_call(lambda: bus.read_word_data(0x33, 0x15), CALLS))
    k, s = sorted(korvo_times)[ROUNDS // 2], sorted(smbus_times)[ROUNDS // 2]
    print(f"board.read(0x15)                      {k * 1e6:8.3f} us per call (median of {ROUNDS} rounds)")
    print(f"smbus2 read_word_data(0x33, 0x15)     {s * 1e6:8.3f} us per call")
    print(f"ratio korvo / smbus2                  {k / s:8.3f}  (target <= 1.0)")
    board.close()
    bus.close()

    with korvo.open("sim") as sim:
        for seconds in (2.0,):
            start = time.perf_counter()
            ticks = sum(1 for _ in sim.watch(0, duration=seconds))
            elapsed = time.perf_counter() - start
            print(f"watch(0) on the simulated board       {ticks * 5 / elapsed:10,.0f} register reads/s"
                  f" ({ticks:,} ticks in {elapsed:.2f} s; target >= 100,000)")


def main():
    if os.environ.get("BENCH_WORK"):
        measure()
        return
    build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build" / "release").resolve()
    with tempfile.TemporaryDirectory() as work:
        lib = pathlib.Path(work) / "fake_i2c_bus.so"
        subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", str(lib),
                        str(ROOT / "bench" / "fake_i2c_bus.c"), "-ldl"], check=True)
        env = dict(os.environ, LD_PRELOAD=str(lib), FAKE_I2C_BUS=str(BUS), FAKE_I2C_WORD="0x41A0",
                   BENCH_WORK=work, PYTHONPATH=str(build / "python"),
                   XDG_CONFIG_HOME=work, XDG_CONFIG_DIRS=work)
        env.pop("KORVO_ADAPTER", None)
        sys.exit(subprocess.run(["/usr/bin/python3", __file__], env=env).returncode)


if __name__ == "__main__":
    main()
