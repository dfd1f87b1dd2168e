#!/usr/bin/env bash
# Fails, naming each offending line, when a source file includes a header of
# a layer above its own, or one file system includes another. The layers,
# lowest first:
#   core < source < fs < fs/fat, fs/ntfs, fs/exfat < results < ui < app < ui/headless, ui/qt < apps
# The application and copy-out reach a file system only through the table
# in fs/. ui is the window-system interface alone; the window logic that needs the
# application record lives in app, and the toolkits sit on top of both.
#
#   check_layers.sh [SOURCE_DIR] [STAMP]
set -euo pipefail
ROOT=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
STAMP=${2:-}
cd "$ROOT"

layer_of() {
  case $1 in
    src/core/*) echo core ;;
    src/source/*) echo source ;;
    src/fs/*/*) echo "fs/$(cut -d/ -f3 <<<"$1")" ;;
    src/fs/*) echo fs ;;
    src/results/*) echo results ;;
    src/ui/headless/*) echo ui/headless ;;
    src/ui/qt/*) echo ui/qt ;;
    src/ui/*) echo ui ;;
    src/app/*) echo app ;;
    *) echo other ;;
  esac
}

# The layers each layer may include, its own among them.
allowed() {
  case $1 in
    core) echo "core" ;;
    source) echo "core source" ;;
    fs) echo "core source fs" ;;
    fs/*) echo "core source fs $1" ;;
    results) echo "core source fs results" ;;
    ui) echo "core ui" ;;
    app) echo "core source fs results ui app" ;;
    ui/headless) echo "core ui ui/headless" ;;
    ui/qt) echo "core source fs results ui app ui/qt" ;;
    *) echo "*" ;;
  esac
}

status=0
while IFS= read -r file; do
  from=$(layer_of "$file")
  ok=$(allowed "$from")
  [[ $ok == "*" ]] && continue
  while IFS= read -r line; do
    number=${line%%:*}
    header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${line#*:}")
    [[ $header == */* ]] || continue
    to=$(layer_of "src/$header")
    [[ $to == other ]] && continue
    if [[ " $ok " != *" $to "* ]]; then
      echo "$file:$number: layer $from may not include $header (layer $to)" >&2
      status=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | sort)

if [[ $status -ne 0 ]]; then
  echo "check_layers: a layer includes one above it (see the lines above)" >&2
  exit 1
fi
[[ -n $STAMP ]] && touch "$STAMP"
exit 0
