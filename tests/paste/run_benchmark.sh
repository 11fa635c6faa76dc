#!/usr/bin/env bash
# Runs paste_benchmark under Wine and the Linux-side reference encode of the same pixels.
# Usage: DROPLEAF_BUILD_DIR=<build folder> tests/paste/run_benchmark.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${DROPLEAF_BUILD_DIR:-$root/build}
out="$build/paste-benchmark"
mkdir -p "$out"
run=("$root/cmake/wine-run.sh" "$build/tests/paste/paste_benchmark.exe" "Z:$(echo "$out" | tr / '\\')")
[ -n "${DISPLAY:-}" ] || run=(xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}")
results=$(DROPLEAF_BUILD_DIR="$build" "${run[@]}")
echo "$results"
echo "$results" | python3 "$here/bench_reference.py" "$out"
