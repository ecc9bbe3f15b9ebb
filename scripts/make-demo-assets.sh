#!/usr/bin/env bash
# Regenerates the files the demo's upload scene sends, in examples/assets/:
# two JPEG photographs of the same synthetic landscape (chroma 4:2:0 and
# 4:4:4) and a 4-bit font rendered from DejaVu Sans Bold. Needs cjpeg
# (Debian: libjpeg-turbo-progs), python3 and a build with nimbra-sif (which
# needs FreeType). The demo generator only reads the files this writes.
#   scripts/make-demo-assets.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out=examples/assets
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A landscape: sky gradient, sun, hills with fine stripes, a lake with
# reflections. Hard coloured edges show the difference between the two
# chroma samplings.
python3 - "$work/landscape.ppm" <<'PY'
import math, sys
w, h = 200, 120
pix = bytearray()
for y in range(h):
    for x in range(w):
        r = 40 + y * 1.2
        g = 90 + y * 0.9
        b = 230 - y * 0.4
        d = math.hypot(x - 150, y - 32)
        if d < 16:
            r, g, b = 255, 210, 40
        elif d < 22:
            t = (d - 16) / 6
            r, g, b = r * t + 255 * (1 - t), g * t + 180 * (1 - t), b * t + 60 * (1 - t)
        hill = 70 + 14 * math.sin(x * 0.045) + 6 * math.sin(x * 0.17 + 1)
        if y > hill:
            stripe = 18 if (x + y) % 6 < 3 else 0
            r, g, b = 30 + stripe, 120 + (y - hill) * 1.5 + stripe, 40
        if y > 96:
            ripple = 12 * math.sin(x * 0.3 + y * 0.8)
            r, g, b = 20 + ripple, 70 + ripple, 160 + 2 * (y - 96) + ripple
            if abs(x - 150) < 10 - (y - 96) * 0.3 and (y % 3):
                r, g, b = 240, 200, 80
        pix += bytes(max(0, min(255, int(c))) for c in (r, g, b))
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    f.write(pix)
PY
cjpeg -quality 80 -sample 2x2 -outfile "$out/landscape_420.jpg" "$work/landscape.ppm"
cjpeg -quality 80 -sample 1x1 -outfile "$out/landscape_444.jpg" "$work/landscape.ppm"

"$build/nimbra-sif" --size 30 --bpp 4 --range 0x20-0x7E /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf \
  "$out/sans_bold_30_4bpp.sif"
ls -l "$out"
