#!/usr/bin/env bash
# Runs a Windows program under Wine in the build folder's own prefix, so tests never
# touch the user's prefix. The build folder is found from the working directory that
# CTest gives (it lies inside the build tree) or from DROPLEAF_BUILD_DIR.
set -u
build_dir=${DROPLEAF_BUILD_DIR:-}
if [ -z "$build_dir" ]; then
  dir=$PWD
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  build_dir=$dir
fi
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
if [ ! -f "$WINEPREFIX/.dropleaf-ready" ]; then
  # First use of this build folder: create the prefix once, quietly; the lock keeps
  # tests that CTest starts side by side from creating it twice.
  mkdir -p "$build_dir"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.dropleaf-ready" ]; then
      "$loader" wineboot --init >/dev/null 2>&1
      /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
      touch "$WINEPREFIX/.dropleaf-ready"
    fi
  ) 9>"$build_dir/.wineprefix.lock"
fi
exec "$loader" "$@"
