#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test once: the
# plain build (what the package ships) runs the window's suites and what
# needs its PDF printer, and makes the package; one clang build with the
# address and undefined-behaviour sanitizers runs the GoogleTest suite with
# the whole damaged-volume corpus, then fuzzes each target for a bounded time
# on its seeds and past findings. TESSILON_FUZZ_SECONDS sets that time
# (default 60; 0 skips the fuzzing). TESSILON_SANITIZE=0 skips the sanitizer
# build, and the plain build then runs the whole suite, with one corpus image
# in eight. With CI set, the shared real-world images must be there.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
status=0

# Runs one named step and says how long it took.
step() { # NAME COMMAND...
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  echo "== $name took $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s"
}

deps() {
  bash scripts/install-deps.sh
  if [[ -n ${CI:-} && ! -d ../shared/realimages ]]; then
    echo "CI needs the real-world images at $(cd .. && pwd)/shared/realimages; they are missing" >&2
    exit 1
  fi
}

# With the sanitizer build to come, the plain build leaves out the engine's
# suite, which only that build runs.
build() {
  local engine_tests=ON
  [[ ${TESSILON_SANITIZE:-1} == 1 ]] && engine_tests=OFF
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSILON_ENGINE_TESTS=$engine_tests >/dev/null
  cmake --build build -j"$jobs"
}

# The window's suites, and the reports printed to PDF, which only this build
# can print; the rest of the suite runs in the sanitizer build.
test_plain() {
  local only=()
  [[ ${TESSILON_SANITIZE:-1} == 1 ]] && only=(-R '^(qt_|ReportScripts\.|ReportCli\.|CliFullDisk\.|LayerCheck$)')
  (cd build && QT_QPA_PLATFORM=offscreen TESSILON_CORPUS_SAMPLE=${TESSILON_CORPUS_SAMPLE:-8} \
    ctest --output-on-failure -j"$jobs" --timeout 900 "${only[@]}")
}

# The Debian package from the plain build, unpacked into a fresh root and
# run from there.
package() {
  local deb
  deb=$(bash scripts/package.sh build | tail -n1)
  bash tests/package_test.sh "$deb" build build/fixtures
}

# The sanitizer build: clang, every engine library built with the fuzzer's
# coverage and the sanitizers, the GoogleTest suite and the fuzz targets, on
# the test images the first build made; the Qt window is left out (its tests
# run above). It is built alongside the plain build, whose making of the test
# images leaves the second core idle much of the time; its output goes to
# build-asan/build.log and is shown if it fails. It runs in a process group of
# its own, so that a failure of the plain build stops it too.
build_asan() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DTESSILON_FUZZ=ON -DTESSILON_BUILD_GUI=OFF -DTESSILON_BUILD_BENCH=OFF \
    -DTESSILON_TEST_IMAGES_FROM="$PWD/build" &&
    cmake --build build-asan -j"$jobs"
}
asan_pid=
start_asan_build() {
  mkdir -p build-asan
  set -m
  build_asan >build-asan/build.log 2>&1 &
  asan_pid=$!
  set +m
  trap 'kill -- -"$asan_pid" 2>/dev/null || true' EXIT
}
wait_asan_build() {
  local ok=0
  wait "$asan_pid" || ok=$?
  trap - EXIT
  if ((ok != 0)); then
    tail -n 60 build-asan/build.log
    return 1
  fi
}

# Two fault report cases are left out: they fault on purpose to see the
# program's own report, and the sanitizers rightly catch the fault first.
test_asan() {
  (cd build-asan &&
    ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      LSAN_OPTIONS=suppressions="$PWD/../scripts/lsan-suppressions.txt" ctest --output-on-failure -j"$jobs" \
      --timeout 900 -E '^FaultReport\.(AnAccessViolationIsReportedShownAndEndsTheProcess|WithoutAWindowOnlyTheLineIsWritten)$')
}

# Each fuzz target runs for `seconds` on its seeds (made from real images)
# and its past findings, two at a time; new inputs it finds are kept in
# build-asan/fuzz/corpus/.
# A directory target's input past a few clusters only repeats what the first
# ones reach, at the cost of every slot in it.
declare -A max_len=([fat_dir]=8192)
fuzz_one() { # TARGET SECONDS
  local t=$1 dir=build-asan/fuzz corpus=build-asan/fuzz/corpus/$1 extra=()
  mkdir -p "$corpus"
  [[ -d fuzz/regressions/$t ]] && extra=("fuzz/regressions/$t")
  [[ -n ${max_len[$t]:-} ]] && extra+=("-max_len=${max_len[$t]}")
  "$dir/fuzz_$t" -max_total_time="$2" -timeout=60 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$dir/finding-$t-" "$corpus" "$dir/seeds/$t" "${extra[@]}" >"$dir/fuzz-$t.log" 2>&1
}
fuzz_report() { # TARGET
  local log=build-asan/fuzz/fuzz-$1.log
  echo "fuzz_$1: $(grep -aE '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n1)"
  if grep -aqE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error|deadly signal|Test unit written' "$log"; then
    status=1
    tail -n 60 "$log"
  fi
}
fuzz() { # SECONDS
  local targets=(partitions fat_dir fat_volume ntfs_record ntfs_volume exfat_entry_set exfat_volume) i t p pids pair
  for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pair=("${targets[@]:i:2}")
    pids=()
    for t in "${pair[@]}"; do
      fuzz_one "$t" "$1" &
      pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p" || status=1; done
    for t in "${pair[@]}"; do fuzz_report "$t"; done
  done
}

step deps deps
[[ ${TESSILON_SANITIZE:-1} == 1 ]] && start_asan_build
step build build
step test test_plain
step package package
if [[ ${TESSILON_SANITIZE:-1} == 1 ]]; then
  step asan-build wait_asan_build
  step asan-test test_asan
  seconds=${TESSILON_FUZZ_SECONDS:-60}
  ((seconds <= 0)) || step fuzz fuzz "$seconds"
fi
exit "$status"
