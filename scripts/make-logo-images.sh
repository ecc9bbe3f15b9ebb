#!/usr/bin/env bash
# Regenerates resources/logo_images.cpp: draws the four built-in pictures,
# converts them to ORV images and writes them as byte arrays.
#   scripts/make-logo-images.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cmake --build "$build" --target nimbra-draw-logos nimbra-orv nimbra-bin2cpp >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/nimbra-draw-logos" "$work"
for name in boot_logo pair_image shutdown_image; do
  "$build/nimbra-orv" --layout palette --depth 4 "$work/$name.png" "$work/$name.orv.png"
done
"$build/nimbra-orv" --layout grey "$work/battery_low.png" "$work/battery_low.orv.png"
"$build/nimbra-bin2cpp" resources/logo_images.cpp resources/logo_images.h \
  boot_logo_png="$work/boot_logo.orv.png" \
  pair_image_png="$work/pair_image.orv.png" \
  shutdown_image_png="$work/shutdown_image.orv.png" \
  BATTERY_LOW_PNG="$work/battery_low.orv.png"
echo "Wrote resources/logo_images.cpp"
