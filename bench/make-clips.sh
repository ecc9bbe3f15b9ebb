#!/usr/bin/env bash
# Regenerates the MPEG-1 video clips the benchmarks decode, in bench/data/:
# 320 x 240, 25 pictures of a zooming fractal (fine detail everywhere, steady
# motion), at a moderate quality. Only this script needs ffmpeg; the
# benchmarks read the committed files.
#   intra_320x240.m1v   intra pictures only
#   ip_320x240.m1v      intra and predicted pictures (a group of 15)
#   ipb_320x240.m1v     intra, predicted and bidirectional (two B between references)
set -euo pipefail
cd "$(dirname "$0")/data"

encode() {
  local name=$1
  shift
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "mandelbrot=size=320x240:rate=25" -frames:v 25 \
    -c:v mpeg1video -q:v 6 "$@" -f mpeg1video "$name.m1v"
}

encode intra_320x240 -g 1
encode ip_320x240 -bf 0 -g 15
encode ipb_320x240 -bf 2 -g 15
ls -l
