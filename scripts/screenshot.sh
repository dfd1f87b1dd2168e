#!/usr/bin/env bash
# Makes docs/screenshot.png: the window after an indexed scan of the demo
# image, on a virtual X display (xvfb-run), so no desktop is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target window_screenshot demo_image
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/tests/qt/window_screenshot" "$build/demo/demo-fat32.img" docs/screenshot.png
echo "docs/screenshot.png"
