#!/usr/bin/env bash
# Builds and runs the paste benchmark under Wine in the test prefix, then the Linux-side
# reference encode of the same pixels. Usage: bash bench/run.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
export DROPLEAF_BUILD_DIR=${DROPLEAF_BUILD_DIR:-$root/build}
"$root/cmake/setup-debian.sh"
[ -f "$DROPLEAF_BUILD_DIR/CMakeCache.txt" ] || "$root/cmake/build.sh" Dropleaf
cmake -S "$root" -B "$DROPLEAF_BUILD_DIR" -DDROPLEAF_BUILD_BENCHMARK=ON >/dev/null
cmake --build "$DROPLEAF_BUILD_DIR" -j"$(nproc)" --target paste_benchmark
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
out="$DROPLEAF_BUILD_DIR/paste-benchmark"
mkdir -p "$out"
results=$("$root/cmake/wine-run.sh" "$DROPLEAF_BUILD_DIR/bench/paste_benchmark.exe" \
  "Z:$(echo "$out" | tr / '\\')")
/usr/lib/wine/wineserver -k 2>/dev/null || true
echo "$results"
echo "$results" | python3 "$root/bench/bench_reference.py" "$out"
