#!/usr/bin/env bash
# Times a whole `korvoctl read` process against a whole `i2cget` process reading the same word
# over the same fake i2c-dev bus (bench/fake_i2c_bus.c, loaded into both with LD_PRELOAD), and
# prints the ratio of their mean times (hyperfine's summary). Then times one korvoctl read with
# a 5 MB settings file. A measurement, not a test: run it on a quiet machine.
# Needs hyperfine, i2c-tools and GNU time.
#   bench/korvoctl_vs_i2cget.sh [build dir, default build/release] [extra hyperfine options]
# RUNS (default 1000) sets the least number of runs of each.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)"
shift || true
KORVOCTL="$BUILD/korvoctl"
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
hyperfine -N --warmup 50 --min-runs "${RUNS:-1000}" "$@" -n i2cget "$i2cget_cmd" -n korvoctl "$korvoctl_cmd"

# A 5 MB settings file: one section of 100000 keys and 5000 sections of 20 keys, the adapter
# keys last.
big="$work/big.ini"
{
  echo "[Settings]"
  for i in $(seq 100000); do echo "Key$i=value of key $i"; done
  for s in $(seq 5000); do
    echo "[Section $s]"
    for i in $(seq 20); do echo "Key$i=value of key $i in section $s"; done
  done
  printf '[Adapter]\nDriver=i2cdev\nBus=%s\n' "$BUS"
} >"$big"
echo "settings file: $(du -h "$big" | cut -f1)"
/usr/bin/time -f "korvoctl read with it: %e s elapsed, %M KB most resident" \
  "$KORVOCTL" --ini "$big" read 0x15
