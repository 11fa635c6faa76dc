#!/usr/bin/env bash
# Configures (once) and builds with the MinGW-w64 toolchain: everything, or the targets named.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${DROPLEAF_BUILD_DIR:-$root/build}
# A signing password goes to the signing agent alone: configure, the compilers and makensis run
# under it without the password in their environment.
if [ -n "${DROPLEAF_SIGN_PASSWORD:-}" ]; then
  exec python3 "$root/packaging/sign.py" run --folder "$build" bash "$0" "$@"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
fi
if [ $# -gt 0 ]; then
  cmake --build "$build" -j"$(nproc)" --target "$@"
else
  cmake --build "$build" -j"$(nproc)"
fi
