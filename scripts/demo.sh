#!/usr/bin/env bash
# Installs what is missing, builds, and shows Tessilon on the bundled demo
# image: the window where a display exists, else the command line's scan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tessilon tessilon-cli demo_image
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/tessilon "$@"
fi
# The command line reads only the sources it is given.
if [ "$#" -eq 0 ]; then
  set -- build/demo/demo-fat32.img
fi
./build/tessilon-cli drives --no-devices "$@"
for source in "$@"; do
  ./build/tessilon-cli scan "$source"
done
