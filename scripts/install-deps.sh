#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, packaging and screenshotting need
# (gtkwave, sigrok-cli and python3 check that recordings open in the tools that read them;
# libsigrokcxx-dev reads the bench instruments, and its C++ binding needs glibmm;
# qt6-charts-dev needs libqt6opengl6-dev without depending on it; prometheus-cpp-dev is the
# Prometheus client behind the /metrics endpoint, libcivetweb-dev the HTTP server inside it, and
# prometheus gives promtool and the server that check the example configuration and a scrape;
# pybind11-dev and python3-dev build the korvo Python module, python3-pytest tests it (with
# python3-numpy and python3-pandas, which the module converts to but does not need) and
# python3-smbus2 is what bench/python_vs_smbus2.py measures it against).
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
PKGS=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-charts-dev libqt6opengl6-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libi2c-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-apps imagemagick xdotool
  help2man scdoc librsvg2-bin
  lintian desktop-file-utils appstream bash-completion man-db
  gtkwave sigrok-cli python3
  libsigrokcxx-dev libglibmm-2.4-dev
  prometheus-cpp-dev libcivetweb-dev prometheus
  pybind11-dev python3-dev python3-pytest python3-numpy python3-pandas python3-smbus2
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
