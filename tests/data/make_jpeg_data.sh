#!/usr/bin/env bash
# Regenerates the JPEG test images in tests/data/jpeg/ and their reference
# decodings. Needs cjpeg and djpeg (Debian: libjpeg-turbo-progs) and python3;
# the test suite itself only reads the files this writes.
#
# Each NAME.jpg comes with NAME.ppm (or NAME.pgm for grey), the reference
# decoding with the slow integer inverse DCT and chroma replicated without
# smoothing, which the decoder's RGB332 output is compared against.
set -euo pipefail
cd "$(dirname "$0")/jpeg"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Source pictures: smooth gradients, rings, fine stripes, hard coloured edges
# and a little deterministic noise, so that every frequency band is used.
python3 - "$work" <<'PY'
import math, sys
out = sys.argv[1]
def picture(w, h, seed):
    state = seed
    pix = []
    for y in range(h):
        for x in range(w):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            noise = (state >> 16) % 17 - 8
            r = 128 + 100 * math.sin(x * 0.21 + seed) * math.cos(y * 0.13)
            g = 255 * x / max(1, w - 1) * 0.7 + 40 * math.sin(math.hypot(x - w / 3, y - h / 2) * 0.9)
            b = 255 * y / max(1, h - 1)
            if (x // 7 + y // 5) % 3 == 0:
                r, b = 255 - r, 255 - b
            if x > w * 0.6 and y < h * 0.4:
                r, g, b = 230, 20, 40
            if (x + 2 * y) % 11 < 2:
                g = 250
            pix.append([max(0, min(255, int(c + noise))) for c in (r, g, b)])
    return pix
def write(name, w, h, seed):
    pix = picture(w, h, seed)
    with open(f"{out}/{name}.ppm", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        f.write(bytes(c for p in pix for c in p))
write("a", 37, 29, 1)
write("b", 48, 33, 2)
write("c", 17, 20, 3)
PY

# name, source, cjpeg options
images=(
  "gray_q75        a  -grayscale -quality 75"
  "gray_q3_16bit   b  -grayscale -quality 3"
  "h1v1_q90        a  -sample 1x1 -quality 90"
  "h2v1_q75        a  -sample 2x1 -quality 75"
  "h1v2_q75        b  -sample 1x2 -quality 75"
  "h2v2_q75        b  -sample 2x2 -quality 75"
  "h2v2_q100       a  -sample 2x2 -quality 100"
  "h1v1_q4_16bit   b  -sample 1x1 -quality 4"
  "h2v2_optimized  a  -sample 2x2 -quality 85 -optimize"
  "h2v2_restart2   b  -sample 2x2 -quality 80 -restart 2B"
  "h1v1_restart1   a  -sample 1x1 -quality 70 -restart 1"
  "h2v2_17x20      c  -sample 2x2 -quality 80"
)
for entry in "${images[@]}"; do
  read -r name source options <<<"$entry"
  # shellcheck disable=SC2086
  cjpeg -dct int $options -outfile "$name.jpg" "$work/$source.ppm"
  if [[ $options == *-grayscale* ]]; then
    djpeg -dct int -nosmooth -pnm -outfile "$name.pgm" "$name.jpg"
  else
    djpeg -dct int -nosmooth -ppm -outfile "$name.ppm" "$name.jpg"
  fi
done

# Only the header of a progressive image is read; no reference decoding.
cjpeg -dct int -progressive -quality 75 -outfile progressive.jpg "$work/b.ppm"
