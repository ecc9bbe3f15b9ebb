#!/usr/bin/env bash
# Regenerates the MPEG-1 video test streams in tests/data/mpeg/ and their
# reference luma, decoded by ffmpeg: NAME.m1v (an elementary stream) and
# NAME.gray.gz (the luma plane of every picture in display order, one byte
# a pixel, as decoded: no range conversion; gzip).
# Only this script needs ffmpeg; the test suite reads the committed files.
set -euo pipefail
cd "$(dirname "$0")/mpeg"

reference() {
  ffmpeg -hide_banner -loglevel error -y -i "$1.m1v" -fps_mode passthrough \
    -vf extractplanes=y -f rawvideo -pix_fmt gray - | gzip -9n > "$1.gray.gz"
}

encode() {
  local name=$1 source=$2 frames=$3
  shift 3
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$source" -frames:v "$frames" \
    -c:v mpeg1video "$@" -f mpeg1video "$name.m1v"
  reference "$name"
}

# The encoder writes half-pel vectors only: this sets the full-pel flag in
# every predicted picture's header (bit 29 after its start code), which makes
# the same codes whole-pixel vectors, and decodes the reference again.
full_pel() {
  perl -0777 -i -pe 'my $i = 0; while (($i = index($_, "\x00\x00\x01\x00", $i)) >= 0) {
    my $h = $i + 4; $i = $h;
    substr($_, $h + 3, 1) = chr(ord(substr($_, $h + 3, 1)) | 0x04) if ((ord(substr($_, $h + 1, 1)) >> 3) & 7) == 2; }' \
    "$1.m1v"
  reference "$1"
}

# Intra pictures only, fine and coarse quantisers.
encode intra_176x120_q3 "testsrc=size=176x120:rate=25" 3 -g 1 -q:v 3
encode intra_320x240_q20 "testsrc=size=320x240:rate=25" 2 -g 1 -q:v 20
# Intra and predicted pictures, half-pel motion on a slow pan, two groups of
# pictures (the sequence header is repeated).
encode ip_320x240_q6 "testsrc=size=320x240:rate=25,scroll=h=0.01:v=0.005" 8 -bf 0 -g 4 -q:v 6
# A fast pan: motion vectors need larger ranges (f_code above 1).
encode ip_176x120_pan_q4 "testsrc=size=176x120:rate=25,scroll=h=0.08:v=-0.03" 6 -bf 0 -g 12 -q:v 4
# Bidirectional pictures between the references.
encode ipb_176x120_q4 "mandelbrot=size=176x120:rate=25" 10 -bf 2 -g 10 -q:v 4
# A size that is not a multiple of 16 either way, with loaded matrices.
encode ip_100x76_matrices_q5 "testsrc2=size=100x76:rate=25" 6 -bf 0 -g 12 -q:v 5 \
  -intra_matrix "8,14,17,20,24,25,27,32,14,14,20,22,25,27,32,35,17,20,24,25,27,32,32,36,20,20,24,25,27,32,35,38,20,24,25,27,30,33,38,46,24,25,27,30,33,38,46,55,24,25,27,32,36,44,53,66,25,27,33,36,44,53,66,80" \
  -inter_matrix "16,17,18,19,20,21,22,23,17,18,19,20,21,22,23,24,18,19,20,21,22,23,24,25,19,20,21,22,23,24,26,27,20,21,22,23,25,26,27,28,21,22,23,24,26,27,28,30,22,23,24,26,27,28,30,31,23,24,25,27,28,30,31,33"
# A short clip at the highest quality (large levels, escape codes).
encode ip_176x120_q1 "mandelbrot=size=176x120:rate=25" 3 -bf 0 -g 12 -q:v 1
# Rate control with adaptive quantisation: macroblocks that change the
# quantiser, in intra and predicted pictures.
encode ip_176x120_adaptive_quant "testsrc2=size=176x120:rate=25" 4 -bf 0 -g 12 -b:v 400k \
  -lumi_mask 0.5 -dark_mask 0.5 -p_mask 0.5
# Full-pel motion vectors on a pan.
encode ip_160x96_fullpel "testsrc=size=160x96:rate=25,scroll=h=0.02:v=0.01" 4 -bf 0 -g 12 -q:v 4
full_pel ip_160x96_fullpel
ls -l
