#!/usr/bin/env bash
# Takes the README's pictures from the real korvo program on the simulated board under Xvfb.
#   scripts/screenshot.sh [KORVO]          docs/screenshot.png: the main window after Read All
#   scripts/screenshot.sh --plot [KORVO]   docs/plot.png: the plot window opened as a user
#                                          opens it (Read All, then "Plot..."), after a
#                                          recorded scan of docs/scenario-ac-pull.txt: the AC
#                                          adapter is pulled at 5 s and put back at 10 s and
#                                          the charger shuts down hot at 25 s for 2 s
# KORVO defaults to build/gui/korvo.
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
trap 'rm -rf "$work"' EXIT

if [ "$mode" = plot ]; then
  out="$here/docs/plot.png"
  # A copy, so the settings file beside it (with the scenario) is read.
  cp "$korvo" "$work/korvo"
  korvo="$work/korvo"
  cp "$here/docs/scenario-ac-pull.txt" "$work/scenario.txt"
  cat > "$work/korvo.ini" <<'INI'
[Simulator]
Scenario=scenario.txt
INI
  title="rk5190 Korvo Plot"
  settle=30
  env=(KORVO_AUTORUN=plot "KORVO_RECORD=$work/scenario.csv")
else
  out="$here/docs/screenshot.png"
  title="rk5190 Korvo"
  settle=1.5
  env=(KORVO_AUTORUN=readall)
fi

cat > "$work/shot.sh" <<'INNER'
set -euo pipefail
korvo="$1"; out="$2"; title="$3"; settle="$4"; shift 4
env KORVO_ADAPTER=sim "$@" "$korvo" &
pid=$!
# Start-up takes two seconds; then wait for the window and let it finish painting.
for _ in $(seq 1 50); do
  id="$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title\"" 'index($0, t) {print $1; exit}')"
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "${id:-}" ] || { echo "window \"$title\" did not appear" >&2; kill "$pid"; exit 1; }
sleep "$settle"
import -window "$id" "$out"
kill "$pid"
wait "$pid" 2>/dev/null || true
INNER

# A full-HD screen: the plot opens beside the main window at its own size, as on a bench PC.
xvfb-run -a -s "-screen 0 1920x1080x24 -dpi 96" \
  bash "$work/shot.sh" "$korvo" "$out" "$title" "$settle" "${env[@]}"
echo "wrote $out"
