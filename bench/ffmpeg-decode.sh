#!/usr/bin/env bash
# Times ffmpeg decoding MPEG-1 clips on one thread, the anchor of the video
# benchmarks. For each clip it prints one line:
#   CLIP PICTURES SECONDS_PER_CLIP PICTURES_PER_SECOND
# SECONDS_PER_CLIP is ffmpeg's CPU time (user and system) for one pass over
# the clip, start-up taken out: the clip is decoded once and then LOOPS + 1
# times, and the difference is divided by LOOPS.
#   bench/ffmpeg-decode.sh [--loops N] CLIP...     (default: bench/data/*.m1v)
set -euo pipefail
loops=40
if [ "${1:-}" = "--loops" ]; then
  loops=$2
  shift 2
fi
if [ $# -eq 0 ]; then
  set -- "$(dirname "$0")"/data/*.m1v
fi
command -v ffmpeg >/dev/null || { echo "ffmpeg-decode.sh: ffmpeg is not installed" >&2; exit 1; }

# CPU seconds of one ffmpeg run that decodes the clip (extra + 1) times.
cpu_seconds() {
  local clip=$1 extra=$2
  ffmpeg -hide_banner -nostdin -benchmark -threads 1 -stream_loop "$extra" -i "$clip" -f null - 2>&1 |
    sed -n 's/^bench: utime=\([0-9.]*\)s stime=\([0-9.]*\)s.*/\1 \2/p' | awk '{ printf "%.6f\n", $1 + $2 }'
}

for clip in "$@"; do
  [ -r "$clip" ] || { echo "ffmpeg-decode.sh: cannot read $clip" >&2; exit 1; }
  pictures=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$clip")
  once=$(cpu_seconds "$clip" 0)
  many=$(cpu_seconds "$clip" "$loops")
  awk -v c="$(basename "$clip" .m1v)" -v p="$pictures" -v a="$once" -v b="$many" -v n="$loops" \
    'BEGIN { s = (b - a) / n; if (s <= 0) s = 1e-9; printf "%s %d %.6f %.0f\n", c, p, s, p / s }'
done
