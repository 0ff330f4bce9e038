#!/usr/bin/env bash
# Installs what is missing, builds korvo and starts it on the simulated evaluation board.
# Extra arguments go to korvo (for example: rk5191).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target korvo korvoctl
export KORVO_ADAPTER="${KORVO_ADAPTER:-sim}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running korvo under xvfb-run (nothing will be visible)." >&2
  echo "Without a display, try: build/release/korvoctl dump" >&2
  exec xvfb-run -a build/release/korvo "$@"
fi
exec build/release/korvo "$@"
