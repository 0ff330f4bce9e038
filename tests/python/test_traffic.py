"""The module's bus traffic is korvoctl's: the same transactions, in the same order."""
import csv
import os
import subprocess

import pytest

import korvo

KORVOCTL = os.environ.get("KORVOCTL")


def korvoctl_traffic(tmp_path, args, settings):
    journal = tmp_path / "journal.csv"
    env = dict(os.environ, KORVO_ADAPTER="sim")
    subprocess.run([KORVOCTL, "--ini", str(settings), "--yes", *args, "--journal", str(journal)],
                   env=env, check=True, capture_output=True)
    with open(journal, newline="") as f:
        return [(row["transaction"], row["target"]) for row in csv.DictReader(f)]


YES = lambda text: True  # noqa: E731

CASES = [
    (["write", "0x15", "12000"], lambda b: b.write(0x15, 12000)),
    (["read", "0x13"], lambda b: b.read(0x13)),
    (["dump"], lambda b: b.dump()),
    (["spin", "Custom 1"], lambda b: b.spin("Custom 1", confirm=YES)),
    (["burn"], lambda b: b.burn(confirm=YES)),
]


@pytest.mark.skipif(not KORVOCTL, reason="KORVOCTL names no korvoctl to compare with")
@pytest.mark.parametrize("args, operation", CASES, ids=[" ".join(c[0]) for c in CASES])
def test_traffic_is_korvoctls(tmp_path, ini, args, operation):
    settings = ini("[SpinCustom 1]\n0x15=2EE0\n0x14=0400\n")
    expected = [t for t, _ in korvoctl_traffic(tmp_path, args, settings)]
    with korvo.open("sim", settings=settings) as b:
        b.start_trace()
        operation(b)
        got = [f"{op}({detail})" for op, detail, _ in b.stop_trace()]
    assert got == expected
