#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ and runs them under libFuzzer with
# AddressSanitizer and UndefinedBehaviorSanitizer (the sanitizer build of
# test.sh, built with clang, in build-sanitize).
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS]   fuzz each target for SECONDS (default 60)
#   scripts/fuzz.sh --seed [TARGET|all]      add first seeds (test data, examples) to the work corpora
#   scripts/fuzz.sh --keep [TARGET|all]      merge the work corpora into fuzz/corpus, minimised
#
# TARGET is a name from fuzz/corpus (records, png, jpeg, sif, shapes, mpeg,
# zlib_blocks, handshake, uploads, text_form). Each target works in out/fuzz/TARGET/:
# corpus/ starts as a copy of fuzz/corpus/TARGET and keeps what fuzzing
# adds, findings/ receives every crash, leak or timeout as a file (replay one
# with build-sanitize/fuzz/fuzz_TARGET FILE), fuzz.log is libFuzzer's log.
# Each run prints its runs, runs per second and per processor second, and
# the inputs it added. The input of a fixed finding belongs in
# fuzz/regressions/TARGET/, which is never minimised away; both folders run
# as tests in test.sh.
#
# BUILD_DIR overrides the build folder; FUZZ_JOBS runs that many targets at
# once (default 1: the machine is shared).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${BUILD_DIR:-$root/build-sanitize}"
work="$root/out/fuzz"

usage() {  # the comment at the top of this file
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
}

mode=fuzz
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  --seed) mode=seed; shift ;;
  --keep) mode=keep; shift ;;
  -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
esac
which="${1:-all}"
seconds="${2:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "fuzz.sh: SECONDS must be a whole number of at least 1, got '$seconds'" >&2
  exit 2
fi
all_targets=$(cd fuzz/corpus && ls -d */ | tr -d /)
if [ "$which" = all ]; then
  targets="$all_targets"
elif [ -d "fuzz/corpus/$which" ]; then
  targets="$which"
else
  echo "fuzz.sh: no target '$which' (targets: $(echo $all_targets))" >&2
  exit 2
fi

if ! [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_SANITIZE=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target fuzz_targets nimbra-fuzz-seeds >/dev/null
if ! grep -q "^NIMBRA_HAVE_LIBFUZZER:INTERNAL=1" "$build/CMakeCache.txt"; then
  echo "fuzz.sh: $build has no libFuzzer (it needs clang, libclang-rt-14-dev and NIMBRA_SANITIZE=ON)" >&2
  exit 1
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

prepare() {  # TARGET: the work folders, the corpus first copied from the repository
  local t=$1
  mkdir -p "$work/$t/corpus" "$work/$t/findings"
  cp -n "fuzz/corpus/$t/"* "$work/$t/corpus/" 2>/dev/null || true
}

stat() {  # LOG NAME: a final statistic of libFuzzer
  sed -n "s/^stat::$2: *//p" "$1" | tail -1
}

fuzz_one() {
  local t=$1
  prepare "$t"
  local log="$work/$t/fuzz.log"
  local before
  before=$(ls "$work/$t/findings" | wc -l)
  [ -t 2 ] && echo "fuzzing $t for $seconds s (log: $log)" >&2
  # Record streams are kept short: a few kilobytes hold many commands, and
  # short runs are what makes millions of them possible. The other targets
  # take inputs as long as their longest seed.
  local limit=()
  [ "$t" = records ] && limit=(-max_len=4096)
  # A crash ends the run; its input is in findings/. The processor time is
  # taken too: on a shared machine runs per processor second is the figure
  # that says how fast a target is.
  local cpu
  cpu=$( { TIMEFORMAT='%U %S'; time "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
    -timeout=10 -rss_limit_mb=2048 "${limit[@]}" -artifact_prefix="$work/$t/findings/" "$work/$t/corpus" \
    >"$log" 2>&1 || true; } 2>&1 )
  local runs speed added found perCpu
  runs=$(stat "$log" number_of_executed_units)
  speed=$(stat "$log" average_exec_per_sec)
  added=$(stat "$log" new_units_added)
  perCpu=$(echo "$cpu" | awk -v runs="${runs:-0}" '{ t = $1 + $2; printf "%d", (t > 0 ? runs / t : 0) }')
  found=$(( $(ls "$work/$t/findings" | wc -l) - before ))
  printf "%-12s %6ss %12s runs %8s runs/s %8s runs/cpu-s %6s new inputs %4s findings\n" \
    "$t" "$seconds" "${runs:-?}" "${speed:-?}" "$perCpu" "${added:-?}" "$found"
  [ "$found" -eq 0 ] || echo "  findings in $work/$t/findings (see $log)"
}

case $mode in
  fuzz)
    jobs="${FUZZ_JOBS:-1}"
    for t in $targets; do
      fuzz_one "$t" &
      while [ "$(jobs -r | wc -l)" -ge "$jobs" ]; do wait -n; done
    done
    wait
    ;;
  seed)
    seeds="$work/seeds"
    rm -rf "$seeds"
    "$build/fuzz/nimbra-fuzz-seeds" "$seeds" >/dev/null
    for t in $targets; do
      prepare "$t"
      cp "$seeds/$t/"* "$work/$t/corpus/"
      echo "$t: $(ls "$seeds/$t" | wc -l) seeds added to $work/$t/corpus"
    done
    ;;
  keep)
    for t in $targets; do
      prepare "$t"
      merged="$work/$t/merged"
      rm -rf "$merged"
      mkdir -p "$merged"
      # The smallest set of inputs that keeps every feature reached.
      "$build/fuzz/fuzz_$t" -merge=1 -use_counters=0 "$merged" "$work/$t/corpus" >"$work/$t/merge.log" 2>&1
      rm -rf "fuzz/corpus/$t"
      mv "$merged" "fuzz/corpus/$t"
      echo "$t: $(ls "fuzz/corpus/$t" | wc -l) inputs, $(du -sb "fuzz/corpus/$t" | cut -f1) bytes in fuzz/corpus/$t"
    done
    ;;
esac
