#!/usr/bin/env bash
# Regenerates the files the demo scripts (examples/demo/) send: in
# examples/assets/ two JPEG photographs of the same synthetic landscape
# (chroma 4:2:0 and 4:4:4), a 4-bit font rendered from DejaVu Sans Bold, a
# glowing orb and a sheet of sprites (PNG with alpha); and examples/clip.m1v,
# a short MPEG-1 clip. Needs cjpeg (Debian: libjpeg-turbo-progs), python3,
# ffmpeg and a build with nimbra-sif (which needs FreeType). Afterwards,
# rebuild examples/demo.rec with
#   build/nimbra-asm examples/demo/demo.nsc -o examples/demo.rec
#
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

# The orb (a warm glow whose alpha falls off from the centre) and the sprite
# sheet (eight 32 x 32 icons, opaque and never black, on a transparent
# 128 x 64 sheet): 8-bit RGBA PNG files, rows unfiltered.
python3 - "$out/orb.png" "$out/sprite_sheet.png" <<'PY'
import math, struct, sys, zlib

def png(path, w, h, pixel):
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        for x in range(w):
            raw += bytes(pixel(x, y))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))

def orb(x, y):
    d = math.hypot(x - 47.5, y - 47.5) / 48.0
    a = 0.0 if d >= 1.0 else (1.0 - d) ** 0.7
    return (255, int(150 + 100 * max(1.0 - d, 0)), 90, math.floor(255 * a + 0.5))

colours = [(255, 60, 60), (60, 220, 80), (80, 120, 255), (255, 220, 40),
           (230, 70, 230), (40, 220, 230), (255, 150, 30), (240, 240, 240)]

def sprite(x, y):
    cell = (x // 32) + 4 * (y // 32)
    px, py = x % 32, y % 32
    cx, cy = px - 15.5, py - 15.5
    r, ax, ay = math.hypot(cx, cy), abs(cx), abs(cy)
    inside = [r < 14, ax < 12 and ay < 12, ax + ay < 15, 8 < r < 14,
              -12 < cy < 12 and ax < (cy + 12) * 0.6,
              (ax < 4 and ay < 14) or (ay < 4 and ax < 14),
              r < 6 + 8 * abs(math.cos(2.5 * math.atan2(cy, cx))) ** 2,
              ax < 14 and ay < 14 and (px // 4 + py // 4) % 2 == 0][cell]
    if not inside:
        return (0, 0, 0, 0)
    rim = r > 13 and cell not in (1, 5, 7)
    return tuple(c // 2 + 20 if rim else c for c in colours[cell]) + (255,)

png(sys.argv[1], 96, 96, orb)
png(sys.argv[2], 128, 64, sprite)
PY

# The video clip: 192 x 144, 12 pictures in I, P and B.
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=192x144:rate=25" -frames:v 12 \
  -c:v mpeg1video -bf 2 -g 12 -q:v 8 -f mpeg1video examples/clip.m1v
ls -l "$out" examples/clip.m1v
