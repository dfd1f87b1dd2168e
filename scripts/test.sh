#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Then the
# same test suite again in a build with the address and undefined-behaviour
# sanitizers, and each fuzz target for a bounded time on its seeds and past
# findings. TESSILON_FUZZ_SECONDS sets that time (default 60; 0 skips the
# fuzzing), TESSILON_SANITIZE=0 skips both.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" --timeout 900)
# The Debian package from that build, unpacked into a fresh root and run
# from there.
deb=$(bash scripts/package.sh build | tail -n1)
bash tests/package_test.sh "$deb" build build/fixtures

[[ ${TESSILON_SANITIZE:-1} == 1 ]] || exit 0

# The sanitizer build: gcc, the whole GoogleTest suite and the fuzz
# regressions, on the test images the first build made; the Qt window is
# left out (its tests run above). Two fault
# report cases are left out too: they fault on purpose to see the program's
# own report, and the sanitizers rightly catch the fault first.
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSILON_BUILD_GUI=OFF \
  -DTESSILON_BUILD_BENCH=OFF -DTESSILON_TEST_IMAGES_FROM="$PWD/build" -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$PWD/../scripts/lsan-suppressions.txt" ctest --output-on-failure -j"$jobs" --timeout 900 \
    -E '^FaultReport\.(AnAccessViolationIsReportedShownAndEndsTheProcess|WithoutAWindowOnlyTheLineIsWritten)$')

seconds=${TESSILON_FUZZ_SECONDS:-60}
((seconds > 0)) || exit 0

# The fuzz targets: clang, libFuzzer, the same sanitizers. Each runs for
# `seconds` on its seeds (made from real images) and its past findings,
# two at a time; new inputs it finds are kept in build-fuzz/fuzz/corpus/.
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTESSILON_FUZZ=ON -DTESSILON_BUILD_GUI=OFF -DTESSILON_BUILD_TESTS=OFF \
  -DTESSILON_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
# A directory target's input past a few clusters only repeats what the first
# ones reach, at the cost of every slot in it.
declare -A max_len=([fat_dir]=8192)
fuzz_one() { # TARGET
  local t=$1 dir=build-fuzz/fuzz corpus=build-fuzz/fuzz/corpus/$1 extra=()
  mkdir -p "$corpus"
  [[ -d fuzz/regressions/$t ]] && extra=("fuzz/regressions/$t")
  [[ -n ${max_len[$t]:-} ]] && extra+=("-max_len=${max_len[$t]}")
  "$dir/fuzz_$t" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$dir/finding-$t-" "$corpus" "$dir/seeds/$t" "${extra[@]}" >"$dir/fuzz-$t.log" 2>&1
}
status=0
report() { # TARGET
  local log=build-fuzz/fuzz/fuzz-$1.log
  echo "fuzz_$1: $(grep -aE '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n1)"
  if grep -aqE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error|deadly signal|Test unit written' "$log"; then
    status=1
    tail -n 60 "$log"
  fi
}
targets=(partitions fat_dir fat_volume ntfs_record ntfs_volume exfat_entry_set exfat_volume)
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pair=("${targets[@]:i:2}")
  pids=()
  for t in "${pair[@]}"; do
    fuzz_one "$t" &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || status=1; done
  for t in "${pair[@]}"; do report "$t"; done
done
exit "$status"
