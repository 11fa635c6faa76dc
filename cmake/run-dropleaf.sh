#!/usr/bin/env bash
# One command from a fresh Debian machine to a running Dropleaf under Wine: installs what
# is missing, builds, and starts the program (on a headless X server when there is no
# display; the tray icon then lives there).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
export DROPLEAF_BUILD_DIR=${DROPLEAF_BUILD_DIR:-$root/build}
"$root/cmake/setup-debian.sh"
"$root/cmake/build.sh" Dropleaf
loader=/usr/lib/wine/wine64
exe="$DROPLEAF_BUILD_DIR/Dropleaf.exe"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$loader" "$exe"
fi
exec "$loader" "$exe"
