#!/usr/bin/env bash
# Takes docs/screenshot.png: the real korvo program on the simulated board under Xvfb, after
# Read All. Needs a built korvo (default build/gui/korvo; pass another path as $1).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
korvo="${1:-$here/build/gui/korvo}"
out="$here/docs/screenshot.png"
[ -x "$korvo" ] || { echo "no korvo at $korvo (build it first)" >&2; exit 1; }
mkdir -p "$here/docs"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat > "$work/shot.sh" <<'INNER'
set -euo pipefail
korvo="$1"; out="$2"
KORVO_ADAPTER=sim KORVO_AUTORUN=readall "$korvo" &
pid=$!
# Start-up takes two seconds; then wait for the window and let Read All finish painting.
for _ in $(seq 1 50); do
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"rk519[01] Korvo"/ {print $1; exit}')"
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "${id:-}" ] || { echo "main window did not appear" >&2; kill "$pid"; exit 1; }
sleep 1.5
import -window "$id" "$out"
kill "$pid"
wait "$pid" 2>/dev/null || true
INNER

xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash "$work/shot.sh" "$korvo" "$out"
echo "wrote $out"
