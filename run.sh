#!/usr/bin/env bash
# Installs what is missing, builds, replays a recording and writes every
# frame as a PNG file. Without an argument it assembles the demo scripts
# (examples/demo/demo.nsc) and replays them; a script (.nsc) given is
# assembled first, any other file is replayed as a recording.
#   ./run.sh [recording.rec | script.nsc]
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

root="$PWD"
source="${1:-$root/examples/demo/demo.nsc}"
source="$(realpath "$source")"
name="$(basename "${source%.*}")"
out="out/$name"
rm -rf "$out"
mkdir -p "$out"
if [[ "$source" == *.nsc ]]; then
  recording="$root/$out/$name.rec"
  echo "Assembling $source"
  "$root/build/nimbra-asm" "$source" -o "$recording"
else
  recording="$source"
fi
echo "Replaying $recording"
# The log option needs a value (unused: the log always goes to "sim.log",
# here inside $out).
(cd "$out" && "$root/build/nimbra-sim" -l sim.log -r "$recording" 2>replies.bin \
  | "$root/build/nimbra-frames" --prefix frame_)
"$root/build/nimbra-packets" "$out/replies.bin" > "$out/replies.txt" || true
echo "Frames written to $out/ (frame_NNNN.png); replies decoded in $out/replies.txt; log in $out/sim.log"
