"""pec=True reaches the i2c-dev driver: on the fake i2c-dev bus (bench/fake_i2c_bus.c, which
answers I2C transfers without a packet error code) a PEC word read fails as VB_BAD_PEC, while
without it the kernel's SMBus word read gets the word."""
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import korvo

from conftest import SOURCE_DIR

READ = textwrap.dedent("""
    import sys, korvo
    try:
        with korvo.open("i2cdev", bus="17", pec=sys.argv[1] == "1") as b:
            print(hex(b.read(0x15)))
    except korvo.BusError as e:
        print(e.status_name)
""")


@pytest.fixture(scope="module")
def fake_bus(tmp_path_factory):
    if shutil.which("cc") is None:
        pytest.skip("no C compiler for the fake i2c-dev bus")
    lib = tmp_path_factory.mktemp("fakebus") / "fake_i2c_bus.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", str(lib),
                    str(SOURCE_DIR / "bench" / "fake_i2c_bus.c"), "-ldl"], check=True)
    return lib


def read_on_fake_bus(lib, pec):
    env = dict(os.environ, LD_PRELOAD=str(lib), FAKE_I2C_BUS="17", FAKE_I2C_WORD="0x41A0")
    out = subprocess.run([sys.executable, "-c", READ, "1" if pec else "0"], env=env,
                         capture_output=True, text=True, timeout=60)
    return out.stdout.strip()


def test_without_pec_the_word_is_read(fake_bus):
    assert read_on_fake_bus(fake_bus, pec=False) == "0x41a0"


def test_with_pec_a_frame_without_its_code_is_bad_pec(fake_bus):
    assert read_on_fake_bus(fake_bus, pec=True) == "VB_BAD_PEC"


def test_pec_on_the_simulated_board_is_a_settings_error():
    with pytest.raises(korvo.SettingsError, match="pec"):
        korvo.open("sim", pec=True)
