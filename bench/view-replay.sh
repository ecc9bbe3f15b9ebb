#!/usr/bin/env bash
# Does the viewer keep up with the simulator, and does its memory stay put?
# Times a replay of N frames (copy commands only, so that the simulator does
# nothing but write frames) piped into cat, which is the bound, against the
# same replay shown by nimbra-view without a window, as a child
# (nimbra-view REC) and from a pipe; then compares the viewer's peak memory
# for 1,000 and 10,000 frames.
#   bench/view-replay.sh [BUILD_DIR] [FRAMES]
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
echo "replay of $frames frames (+ the boot screen), wall seconds, best of 3:"
best() {
  local best="" t
  for _ in 1 2 3; do
    t=$(seconds "$@")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}
pipe=$(best bash -c "'$sim' -r '$work/many.rec' 2>/dev/null | cat > /dev/null")
child=$(best "$view" --headless --exit-at-end "$work/many.rec")
piped=$(best bash -c "'$sim' -r '$work/many.rec' 2>/dev/null | '$view' --headless --exit-at-end")
printf '  %-52s %6.2f s\n' "nimbra-sim -r REC | cat > /dev/null" "$pipe"
printf '  %-52s %6.2f s  (%.2f x)\n' "nimbra-view --headless --exit-at-end REC" "$child" "$(awk "BEGIN{print $child / $pipe}")"
printf '  %-52s %6.2f s  (%.2f x)\n' "nimbra-sim -r REC | nimbra-view --headless --exit-at-end" "$piped" "$(awk "BEGIN{print $piped / $pipe}")"

echo "peak memory of nimbra-view --headless --exit-at-end REC:"
printf '  %-12s %8d KiB\n' "1000 frames" "$(peak_kib "$view" --headless --exit-at-end "$work/thousand.rec")"
printf '  %-12s %8d KiB\n' "$frames frames" "$(peak_kib "$view" --headless --exit-at-end "$work/many.rec")"
