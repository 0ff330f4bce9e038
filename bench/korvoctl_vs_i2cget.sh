#!/usr/bin/env bash
# Times a whole `korvoctl read` process against a whole `i2cget` process reading the same word
# over the same fake i2c-dev bus (bench/fake_i2c_bus.c, loaded into both with LD_PRELOAD), and
# prints the ratio of their mean times (hyperfine's summary). A measurement, not a test: run it on a quiet machine.
# Needs hyperfine and i2c-tools.
#   bench/korvoctl_vs_i2cget.sh [build dir, default build/release] [extra hyperfine options]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)"
shift || true
KORVOCTL="$BUILD/cli/korvoctl"
[ -x "$KORVOCTL" ] || KORVOCTL="$BUILD/korvoctl"
BUS=17

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cc -shared -fPIC -O2 -Wall -Wextra -o "$work/fake_i2c_bus.so" "$ROOT/bench/fake_i2c_bus.c" -ldl
printf '[Adapter]\nDriver=i2cdev\nBus=%s\n' "$BUS" >"$work/korvo.ini"

export LD_PRELOAD="$work/fake_i2c_bus.so" FAKE_I2C_BUS="$BUS" FAKE_I2C_WORD=0x41A0
unset KORVO_ADAPTER
i2cget_cmd="i2cget -y $BUS 0x33 0x15 w"
korvoctl_cmd="$KORVOCTL --ini $work/korvo.ini read 0x15"

# Both must read the word before their times mean anything.
[ "$($i2cget_cmd)" = "0x41a0" ] || { echo "i2cget did not read the fake bus" >&2; exit 1; }
[ "$($korvoctl_cmd)" = "0x15 0x41A0 16800" ] || { echo "korvoctl did not read the fake bus" >&2; exit 1; }

# The summary's "ran N times faster than" line is the ratio of the mean times.
hyperfine -N --warmup 50 --min-runs 500 "$@" -n i2cget "$i2cget_cmd" -n korvoctl "$korvoctl_cmd"
