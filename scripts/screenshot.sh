#!/usr/bin/env bash
# Takes the README's pictures from the real korvo program on the simulated board under Xvfb.
#   scripts/screenshot.sh [KORVO]          docs/screenshot.png: the main window after Read All
#   scripts/screenshot.sh --plot [KORVO]   docs/plot.png: the plot window opened as a user
#                                          opens it (Read All, charge current written, then
#                                          "Plot..."), during a recorded scan of
#                                          docs/scenario-ac-pull.txt with the simulated bench
#                                          (scripts/fake-bench.py) measuring the charge current:
#                                          the AC adapter is pulled at 5 s and put back at
#                                          10 s. Once it is back the plot is paused, the
#                                          lanes that never changed are hidden, the time axis
#                                          is zoomed onto the run and the two cursors are
#                                          placed on the ACDET edges, all with the mouse and
#                                          keys (xdotool), as a user measures the time between
#                                          pull and return.
# KORVO defaults to build/gui/korvo; the plot needs korvo-sigrok.so beside it.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
mode=main
if [ "${1:-}" = "--plot" ]; then
  mode=plot
  shift
fi
korvo="${1:-$here/build/gui/korvo}"
[ -x "$korvo" ] || { echo "no korvo at $korvo (build it first)" >&2; exit 1; }
mkdir -p "$here/docs"
work="$(mktemp -d)"
# KORVO_SHOT_KEEP=1 keeps the scratch folder (captures, recording, bench log) for a look.
[ -n "${KORVO_SHOT_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT

if [ "$mode" = main ]; then
  cat > "$work/shot.sh" <<'INNER'
set -euo pipefail
korvo="$1"; out="$2"
env KORVO_ADAPTER=sim KORVO_AUTORUN=readall "$korvo" &
pid=$!
# Start-up takes two seconds; then wait for the window and let it finish painting.
for _ in $(seq 1 50); do
  id="$(xwininfo -root -tree 2>/dev/null | awk 'index($0, "\"rk5190 Korvo\"") {print $1; exit}')"
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "${id:-}" ] || { echo "window \"rk5190 Korvo\" did not appear" >&2; kill "$pid"; exit 1; }
sleep 1.5
import -window "$id" "$out"
kill "$pid"
wait "$pid" 2>/dev/null || true
INNER
  out="$here/docs/screenshot.png"
  xvfb-run -a -s "-screen 0 1920x1080x24 -dpi 96" bash "$work/shot.sh" "$korvo" "$out"
  echo "wrote $out"
  exit 0
fi

command -v xdotool > /dev/null || { echo "xdotool is missing (scripts/install-deps.sh)" >&2; exit 1; }
out="$here/docs/plot.png"
# A copy, so the settings file beside it (with the scenario and the instrument) is read; the
# instrument library is looked for beside the program.
cp "$korvo" "$work/korvo"
sigrok="$(dirname "$korvo")/korvo-sigrok.so"
[ -f "$sigrok" ] || { echo "no $sigrok (build korvo's instrument module)" >&2; exit 1; }
cp "$sigrok" "$work/"
cp "$here/docs/scenario-ac-pull.txt" "$work/scenario.txt"
cp "$here/scripts/fake-bench.py" "$work/"

# Finds, in a P6 capture of the plot window, the first bit lane that went low once and came back
# (ACDET, the adapter's presence): prints its row and the x of its first sample, of the fall and
# of the return, in window pixels. Lanes that are high are filled in a light red; the dashed
# lines of the chart above have many short runs and are passed over.
cat > "$work/edges.py" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
fields, i = [], 0
while len(fields) < 4:
    while data[i:i + 1].isspace():
        i += 1
    j = i
    while not data[j:j + 1].isspace():
        j += 1
    fields.append(data[i:j])
    i = j
w, h, px = int(fields[1]), int(fields[2]), data[i + 1:]
for y in range(h):
    runs, start = [], None
    for x in range(w + 1):
        on = False
        if x < w:
            r, g, b = px[3 * (y * w + x):3 * (y * w + x) + 3]
            on = r > 200 and g < 190 and b < 190 and r - g > 50
        if on and start is None:
            start = x
        elif not on and start is not None:
            runs.append((start, x))
            start = None
    if len(runs) == 2 and all(e - s >= 10 for s, e in runs):
        print(y + 3, runs[0][0], runs[0][1], runs[1][0])
        sys.exit(0)
sys.exit(1)
PY

cat > "$work/shot.sh" <<'INNER'
set -euo pipefail
cd "$1"; out="$2"
delay="$3"  # from the start of korvo to its adapter opening, when the scenario starts
# Two free ports for the simulated bench's supply and load.
read -r psu load <<< "$(python3 -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')"
cat > korvo.ini <<INI
[Simulator]
Scenario=scenario.txt
[Instruments]
Load=scpi-pps:conn=tcp-raw/127.0.0.1/$load channels=I1
INI
# The bench listens before korvo starts (korvo opens the instruments at the end of its start-up)
# and counts the scenario from when korvo's adapter will open.
launch="$(python3 -c 'import time; print(time.time() + 1)')"
python3 fake-bench.py --port "$psu" --load-port "$load" --scenario scenario.txt \
  --start "$(python3 -c "print($launch + $delay)")" > bench.out 2>&1 &
bench=$!
pid=""
finish() { kill $pid "$bench" 2>/dev/null || true; wait 2>/dev/null || true; }
trap finish EXIT
for _ in $(seq 1 50); do
  grep -qs '^ready' bench.out && break
  sleep 0.1
done
grep -qs '^ready' bench.out || { echo "the simulated bench did not start" >&2; exit 1; }
python3 -c "import time; time.sleep(max(0, $launch - time.time()))"
# A configuration folder of its own: the lane choice of the user's plot stays out of the picture.
env XDG_CONFIG_HOME="$PWD/config" KORVO_ADAPTER=sim KORVO_AUTORUN=plot \
  KORVO_RECORD="$PWD/scenario.csv" ./korvo &
pid=$!
window() { xwininfo -root -tree 2>/dev/null | awk -v t="\"$1\"" 'index($0, t) {print $1; exit}'; }
for _ in $(seq 1 50); do
  id="$(window "rk5190 Korvo Plot")"
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "${id:-}" ] || { echo "window \"rk5190 Korvo Plot\" did not appear" >&2; exit 1; }
capture() { import -window "$id" -depth 8 "ppm:$PWD/plot.ppm"; }
# Until the adapter is back (about 10 s of scan).
edges=""
for _ in $(seq 1 60); do
  sleep 0.5
  capture
  edges="$(python3 edges.py plot.ppm)" && break
done
[ -n "$edges" ] || { echo "the adapter's pull and return did not show in the lanes" >&2; exit 1; }
click() { xdotool mousemove --window "$id" "$1" "$2" click "${3:-1}"; }
# Pause (the first button, top left); the lanes that never changed hidden ("Lanes", the first
# button of the second row, whose menu ends with that choice).
click 40 20
sleep 0.3
click 40 49
sleep 0.5
xdotool key Up Return
sleep 0.5
capture
edges="$(python3 edges.py plot.ppm)" || { echo "the lanes were lost in the lane choice" >&2; exit 1; }
read -r y first _ _ <<< "$edges"
# Zoom the time axis with the mouse wheel onto the run: the time under the pointer, the first
# sample, stays where it is.
for _ in $(seq 1 7); do
  click "$first" "$y" 4
  sleep 0.1
done
sleep 0.5
capture
edges="$(python3 edges.py plot.ppm)" || { echo "the lanes were lost in the zoom" >&2; exit 1; }
read -r y _ fall back <<< "$edges"
# Cursor A on the fall, B on the return: a click within a few pixels snaps to the edge.
click "$fall" "$y"
sleep 0.3
click "$back" "$y"
sleep 0.3
# The pointer off the window, so that the picture shows the cursors' readout alone.
xdotool mousemove 5 5
sleep 1
import -window "$id" "$out"
INNER

# How much later the measured charge current fell than the board's status said the adapter
# was pulled, in seconds, from the recording's wall-clock times.
cat > "$work/offset.py" <<'PY'
import csv, datetime, sys
pulled = fell = first = None
for row in csv.DictReader(open(sys.argv[1], encoding="utf-8")):
    at = datetime.datetime.fromisoformat(row["time"]).timestamp()
    if row["source"] == "scan tick" and row["register"] == "0x13":
        first = first or row["hex"]
        if pulled is None and row["hex"] != first:
            pulled = at
    elif row["source"] == "Load" and row["mV_mA"] == "0" and fell is None:
        fell = at
if pulled is None or fell is None:
    sys.exit("no pull in the recording")
print("%.3f" % (fell - pulled))
PY

# A full-HD screen: the plot opens beside the main window at its own size, as on a bench PC.
# Korvo's start-up takes about three seconds and varies with the machine's load: the bench's
# start follows the last run's measured offset until the current falls with the adapter, a
# scan or two early rather than late, so that the cursor on each ACDET edge reads the current
# after the change (0 mA at the pull, 2048 mA at the return).
delay=2.8
for attempt in 1 2 3 4 5 6 7 8; do
  rm -f "$work/scenario.csv"
  xvfb-run -a -s "-screen 0 1920x1080x24 -dpi 96" \
    bash "$work/shot.sh" "$work" "$work/plot.png" "$delay"
  offset="$(python3 "$work/offset.py" "$work/scenario.csv")"
  echo "attempt $attempt: the current fell ${offset} s after the adapter was pulled"
  if python3 -c "import sys; sys.exit(not -0.25 <= $offset <= -0.02)"; then
    cp "$work/plot.png" "$out"
    echo "wrote $out"
    exit 0
  fi
  delay="$(python3 -c "print($delay - $offset - 0.12)")"
done
echo "the bench's current did not follow the adapter closely enough; $out left as it was" >&2
exit 1
