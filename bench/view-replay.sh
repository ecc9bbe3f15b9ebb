#!/usr/bin/env bash
# Does the viewer keep up with the simulator, and does its memory stay put?
# Times a replay of N frames (copy commands only, so that the simulator does
# nothing but write frames) piped into cat, which is the bound, against the
# same replay shown by nimbra-view without a window, as a child
# (nimbra-view REC) and from a pipe; then compares the viewer's peak memory
# for 1,000 and N frames.
#   [ROUNDS=5] bench/view-replay.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
build="${1:-build}"
frames="${2:-10000}"
sim="$build/nimbra-sim"
view="$build/nimbra-view"
for program in "$sim" "$view"; do
  [ -x "$program" ] || { echo "view-replay.sh: build $program first" >&2; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A recording of `count` frames: records of 256 copy commands (2048 bytes).
make_recording() {
  local count=$1 out=$2 record="" i
  for i in $(seq 256); do record+='\x02\x00\x00\x00\x00\x00\x00\x00'; done
  : > "$out"
  for i in $(seq $((count / 256))); do printf '\x00\x00\x08\x00\x00\x00\x00\x00'"$record" >> "$out"; done
  local rest=$((count % 256))
  if [ "$rest" -gt 0 ]; then
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' 0 0 $((rest * 8 / 256)) $((rest * 8 % 256)))"'\x00\x00\x00\x00' >> "$out"
    for i in $(seq "$rest"); do printf '\x02\x00\x00\x00\x00\x00\x00\x00' >> "$out"; done
  fi
}

seconds() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

make_recording "$frames" "$work/many.rec"
make_recording 1000 "$work/thousand.rec"
# The three runs alternate, round after round, so that a change in the
# machine's load falls on all of them; each figure is the median of the
# rounds, and so is each ratio.
rounds="${ROUNDS:-5}"
echo "replay of $frames frames (+ the boot screen), wall seconds, median of $rounds rounds:"
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
pipe_times=() child_times=() piped_times=() child_ratios=() piped_ratios=()
for _ in $(seq "$rounds"); do
  p=$(seconds bash -c "'$sim' -r '$work/many.rec' 2>/dev/null | cat > /dev/null")
  c=$(seconds "$view" --headless --exit-at-end "$work/many.rec")
  s=$(seconds bash -c "'$sim' -r '$work/many.rec' 2>/dev/null | '$view' --headless --exit-at-end")
  pipe_times+=("$p") child_times+=("$c") piped_times+=("$s")
  child_ratios+=("$(awk "BEGIN{print $c / $p}")") piped_ratios+=("$(awk "BEGIN{print $s / $p}")")
done
pipe=$(printf '%s\n' "${pipe_times[@]}" | median)
child=$(printf '%s\n' "${child_times[@]}" | median)
piped=$(printf '%s\n' "${piped_times[@]}" | median)
printf '  %-58s %6.2f s\n' "nimbra-sim -r REC | cat > /dev/null" "$pipe"
printf '  %-58s %6.2f s  (%.2f x)\n' "nimbra-view --headless --exit-at-end REC" "$child" \
  "$(printf '%s\n' "${child_ratios[@]}" | median)"
printf '  %-58s %6.2f s  (%.2f x)\n' "nimbra-sim -r REC | nimbra-view --headless --exit-at-end" "$piped" \
  "$(printf '%s\n' "${piped_ratios[@]}" | median)"

echo "peak memory of nimbra-view --headless --exit-at-end REC:"
printf '  %-12s %8d KiB\n' "1000 frames" "$(peak_kib "$view" --headless --exit-at-end "$work/thousand.rec")"
printf '  %-12s %8d KiB\n' "$frames frames" "$(peak_kib "$view" --headless --exit-at-end "$work/many.rec")"
