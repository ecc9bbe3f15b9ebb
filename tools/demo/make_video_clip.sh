#!/usr/bin/env bash
# Regenerates the demo's video clip with ffmpeg: examples/clip.m1v (an
# MPEG-1 video elementary stream, 192 x 144, 12 pictures in I, P and B) and
# tools/demo/video_clip_data.h, the same bytes built into the demo generator.
# Run build/nimbra-make-demo examples/demo.rec afterwards.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
clip="$root/examples/clip.m1v"
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=192x144:rate=25" -frames:v 12 \
  -c:v mpeg1video -bf 2 -g 12 -q:v 8 -f mpeg1video "$clip"
{
  echo "// The demo's video clip, examples/clip.m1v; made by tools/demo/make_video_clip.sh."
  echo "#pragma once"
  echo "#include <cstdint>"
  echo ""
  echo "static const uint8_t kVideoClip[] = {"
  xxd -i < "$clip"
  echo "};"
} > "$root/tools/demo/video_clip_data.h"
