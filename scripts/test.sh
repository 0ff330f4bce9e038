#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh              release build in build/release
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build/asan
#   scripts/test.sh --clang      release build with clang in build/clang
# Warnings are errors here (KORVO_WERROR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

dir=build/release
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "${1:-}" in
  --sanitize)
    dir=build/asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DKORVO_SANITIZE=ON -DKORVO_BENCH=OFF)
    ;;
  --clang)
    dir=build/clang
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++)
    ;;
esac
cmake -S . -B "$dir" -G Ninja -DKORVO_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300
