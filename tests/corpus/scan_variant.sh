#!/usr/bin/env bash
# Scans one damaged image of the corpus with both scans, each under a time
# and a memory bound, and writes what became of it:
#
#   scan_variant.sh CLI VARIANTS RESULTS "FILE<TAB>PARTITION<TAB>KIND<TAB>EXPECT<TAB>STAMP"
#
# RESULTS/FILE.quick.log and FILE.indexed.log get each scan's stderr, and
# RESULTS/FILE.result one line:
#
#   FILE QUICK_STATUS INDEXED_STATUS STAMP_AFTER QUICK_SAYS INDEXED_SAYS
#
# STAMP_AFTER is the image's stat stamp, as make_corpus.sh wrote it.
# A status of 124 is a scan that ran out of time, above 128 one that a
# signal ended. QUICK_SAYS and INDEXED_SAYS are 1 when that scan's log
# matches EXPECT (grep -E; "quick:" or "indexed:" before it names the one
# scan it is asked of), 0 when it does not, - when nothing is asked.
#
# TESSILON_CORPUS_SECONDS (default 60) bounds each scan's time and
# TESSILON_CORPUS_MEMORY_MB (default 1024) its memory: as address space
# (prlimit --as), or, when TESSILON_CORPUS_SANITIZED=1, as resident memory
# through the sanitizer's own limit, since a sanitized program reserves
# terabytes of address space it never uses.
set -u
cli=$1 dir=$2 results=$3
IFS=$'\t' read -r file part kind expect _ <<<"$4"
img=$dir/$file
seconds=${TESSILON_CORPUS_SECONDS:-60}
mb=${TESSILON_CORPUS_MEMORY_MB:-1024}
args=()
[[ $part == 0 ]] || args=(--partition "$part")
if [[ ${TESSILON_CORPUS_SANITIZED:-0} == 1 ]]; then
  export ASAN_OPTIONS="hard_rss_limit_mb=$mb:exitcode=86:detect_leaks=1:${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="halt_on_error=1:exitcode=87:print_stacktrace=1:${UBSAN_OPTIONS:-}"
  bound=()
else
  bound=(prlimit --as=$((mb << 20)) --)
fi
run() { # SCAN
  timeout -k 5 "$seconds" "${bound[@]}" "$cli" scan "--$1" --json "${args[@]}" "$img" \
    >/dev/null 2>"$results/$file.$1.log"
}
run quick
quick=$?
run indexed
indexed=$?
after=$(stat -c '%i:%s:%.9Y:%.9Z' "$img")
says() { # SCAN
  local re=$expect
  case $re in
    -) echo -; return ;;
    quick:*) [[ $1 == quick ]] || { echo -; return; }; re=${re#quick:} ;;
    indexed:*) [[ $1 == indexed ]] || { echo -; return; }; re=${re#indexed:} ;;
  esac
  if grep -Eq -- "$re" "$results/$file.$1.log"; then echo 1; else echo 0; fi
}
printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$quick" "$indexed" "$after" "$(says quick)" "$(says indexed)" \
  >"$results/$file.result"
