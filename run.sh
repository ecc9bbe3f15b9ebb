#!/usr/bin/env bash
# Installs what is missing, builds, replays a recording (the bundled demo by
# default) and writes every frame as a PNG file.
#   ./run.sh [recording.rec]
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

recording="${1:-examples/demo.rec}"
out="out/$(basename "${recording%.*}")"
rm -rf "$out"
mkdir -p "$out"
echo "Replaying $recording"
(cd "$out" && "$OLDPWD/build/nimbra-sim" -l -r "$OLDPWD/$recording" 2>replies.bin \
  | "$OLDPWD/build/nimbra-frames" --prefix frame_) 
"build/nimbra-packets" < "$out/replies.bin" > "$out/replies.txt" || true
echo "Frames written to $out/ (frame_NNNN.png); replies decoded in $out/replies.txt; log in $out/sim.log"
