#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for a while.
# Usage: scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
SECONDS_PER_TARGET="${1:-30}"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build/fuzz"
TARGETS=(fuzz_ini fuzz_utils fuzz_scenario fuzz_snapshot fuzz_korvoctl_args fuzz_recording)

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DKORVO_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_WERROR=ON >/dev/null
ninja -C "$BUILD" -j2 "${TARGETS[@]}"

for t in "${TARGETS[@]}"; do
  # New inputs go to a scratch corpus; the committed seeds stay as they are.
  work="$BUILD/corpus/$t"
  artifacts="$BUILD/artifacts/$t/"
  mkdir -p "$work" "$artifacts"
  echo "== $t for ${SECONDS_PER_TARGET}s"
  "$BUILD/fuzz/$t" -max_total_time="$SECONDS_PER_TARGET" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$work" "$ROOT/fuzz/corpus/$t"
done
