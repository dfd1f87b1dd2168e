#!/usr/bin/env bash
# Builds the Debian package from build/ (made first when it is not there or
# out of date) and prints the .deb's path.
#
#   package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh
[[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target tessilon tessilon-cli man_pages icons >/dev/null
out=$(realpath "$build")/package
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
ls "$out"/tessilon_*.deb
