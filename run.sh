#!/usr/bin/env bash
# Installs what is missing, builds, replays a recording (the bundled demo by
# default) and writes every frame as a PNG file.
#   ./run.sh [recording.rec]
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

root="$PWD"
if [ $# -ge 1 ]; then
  recording="$(realpath "$1")"
else
  recording="$root/examples/demo.rec"
fi
out="out/$(basename "${recording%.*}")"
rm -rf "$out"
mkdir -p "$out"
echo "Replaying $recording"
# The log option needs a value (unused: the log always goes to "sim.log",
# here inside $out).
(cd "$out" && "$root/build/nimbra-sim" -l sim.log -r "$recording" 2>replies.bin \
  | "$root/build/nimbra-frames" --prefix frame_)
"$root/build/nimbra-packets" < "$out/replies.bin" > "$out/replies.txt" || true
echo "Frames written to $out/ (frame_NNNN.png); replies decoded in $out/replies.txt; log in $out/sim.log"
