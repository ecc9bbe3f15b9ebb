#!/usr/bin/env bash
# Installs the Debian packages the simulator, its tools and its tests need,
# when any is missing. Used by run.sh and test.sh.
set -euo pipefail
# ffmpeg: nimbra-video-record --colour and nimbra-frames --mp4 run it, and
# their tests. giflib: nimbra-frames --gif. SDL2: nimbra-view; Xvfb and xwd:
# the test of its window. clang and its runtimes: the sanitizer build, whose
# libFuzzer makes the fuzz targets. Chromium: the test that opens
# nimbra-inspect's report in a browser.
packages=(build-essential cmake pkg-config libgtest-dev zlib1g-dev libpng-dev libmbedtls-dev
          libfreetype-dev fonts-dejavu-core libbenchmark-dev libjpeg62-turbo-dev ffmpeg
          libgif-dev libsdl2-dev xvfb x11-apps clang libclang-rt-14-dev chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
