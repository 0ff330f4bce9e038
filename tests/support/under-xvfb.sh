#!/bin/sh
# Runs a GUI test program on a real X server: under xvfb-run, on the X11 (xcb) platform, at the
# scale factor given first. Without xvfb-run the program is told so (KORVO_NO_XVFB=1), and the
# tests that need the X server skip.
#   under-xvfb.sh 1.5 build/release/tests/dialogs_gui_tests --gtest_filter='AboutGeometry*'
scale="$1"
shift
if command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 2732x1536x24 -dpi 96" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" "$@"
fi
exec env KORVO_NO_XVFB=1 "$@"
