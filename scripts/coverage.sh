#!/usr/bin/env bash
# Measures how much of the device core the test suite reaches, the fuzz
# corpora included (in this build the fuzz targets replay their corpora
# through the corpus runner). Builds with gcc's --coverage in build-coverage,
# runs every test, and prints line and branch coverage of the device core
# (host/, protocol/, gui/, commands/, cache/, codecs/, resources/) per file
# and in all.
#   scripts/coverage.sh [--html]
# With --html, also writes a browsable report to out/coverage/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
html=0
case "${1:-}" in
  "") ;;
  --html) html=1 ;;
  -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
  *) echo "coverage.sh: unknown argument $1" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh
if ! command -v gcovr >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends gcovr
fi

build=build-coverage
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_COVERAGE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
find "$build" -name '*.gcda' -delete
# The benchmark check times nothing useful here and only adds minutes. A
# failing test is reported, and the coverage is still measured.
status=0
(cd "$build" && ctest -j"$(nproc)" -E bench_smoke --output-on-failure) >"$build/coverage-tests.log" 2>&1 || status=$?
tail -3 "$build/coverage-tests.log"

# Only the device core counts; branches that exist only for exception
# unwinding, or that the compiler made for lines without code, do not.
filters=()
for dir in host protocol gui commands cache codecs resources; do filters+=(--filter "$PWD/$dir/"); done
options=(-r "$PWD" "${filters[@]}" --exclude-throw-branches --exclude-unreachable-branches)
echo
echo "Lines of the device core:"
gcovr "${options[@]}" --sort-percentage "$build"
echo "Branches of the device core:"
gcovr "${options[@]}" --branches --sort-percentage "$build"
if [ "$html" -eq 1 ]; then
  mkdir -p out/coverage
  gcovr "${options[@]}" --html-details out/coverage/index.html "$build" >/dev/null
  echo "Report written to out/coverage/index.html"
fi
gcovr "${options[@]}" --print-summary "$build" | grep -E "^(lines|branches):"
exit "$status"
