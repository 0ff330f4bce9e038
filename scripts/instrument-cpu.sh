#!/usr/bin/env bash
# korvoctl's CPU while it reads and records 10 instrument channels at 20 readings a second each:
# libsigrok's scpi-pps driver against scripts/fake-bench.py (five instruments of two channels,
# as one instrument's channels are read one after the other), --instrument-period 50, on the
# simulated board, for SECONDS (default 60). Prints user + system time and the share of one core
# for: the registers alone, with instruments to a .csv, with instruments to a .sr.
# Usage: scripts/instrument-cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-60}
work=$(mktemp -d)
: > "$work/korvo.ini"
python3 scripts/fake-bench.py --port 0 > "$work/bench.out" 2>&1 &
bench=$!
trap 'kill $bench 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do grep -q ready "$work/bench.out" && break; sleep 0.1; done
read -r _ psu load < "$work/bench.out"
pps="scpi-pps:conn=tcp-raw/127.0.0.1"
ten=(--instrument "$pps/$psu label=PSU1 channels=V1,I1" --instrument "$pps/$psu label=PSU2 channels=V2,I2"
     --instrument "$pps/$psu label=PSU3 channels=V3,I3" --instrument "$pps/$psu label=PSU4 channels=V1,I1"
     --instrument "$pps/$load label=Load channels=V1,I1" --instrument-period 50)
run() {
  local name=$1; shift
  KORVO_ADAPTER=sim /usr/bin/time -f "%U %S" -o "$work/$name.time" "$build/korvoctl" \
    --ini "$work/korvo.ini" "$@" --duration "$seconds" watch > /dev/null 2> "$work/$name.err"
  read -r user sys < "$work/$name.time"
  awk -v n="$name" -v u="$user" -v s="$sys" -v t="$seconds" \
    'BEGIN { printf "%-22s %6.2f s CPU in %d s: %5.2f%% of one core\n", n, u + s, t, 100 * (u + s) / t }'
}
run "registers alone" --output "$work/base.csv"
run "10 channels to .csv" "${ten[@]}" --output "$work/run.csv"
run "10 channels to .sr" "${ten[@]}" --output "$work/run.sr"
echo "readings per channel in the .csv:"
cut -d, -f3,6 "$work/run.csv" | grep -v "^korvoctl,\|^source," | sort | uniq -c
