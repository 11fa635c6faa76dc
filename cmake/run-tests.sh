#!/usr/bin/env bash
# One command from a fresh Debian machine to a passing test run: installs what is
# missing, builds, and runs every test under Wine in the build folder's own prefix,
# under a headless X server when there is no display. Arguments go to ctest.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
export DROPLEAF_BUILD_DIR=${DROPLEAF_BUILD_DIR:-$root/build}
if [ -z "${DROPLEAF_SETUP_DONE:-}" ]; then
  "$root/cmake/setup-debian.sh"
  "$root/cmake/build.sh"
  export DROPLEAF_SETUP_DONE=1
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

export WINEPREFIX="$DROPLEAF_BUILD_DIR/wineprefix"
# Create the prefix first: its set-up waits for every Wine process to end, which a
# persistent wineserver would never allow. Then keep one wineserver for the whole run
# instead of one per test, and start Wine's background services under it here, so they
# do not hold the first test's output open.
mkdir -p "$WINEPREFIX"
"$root/cmake/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w 2>/dev/null || true
/usr/lib/wine/wineserver -p 2>/dev/null || true
"$root/cmake/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
# The README's screenshots, in build/artifacts; not a test, so it decides nothing.
timeout 60 "$root/cmake/wine-run.sh" "$DROPLEAF_BUILD_DIR/docs/docs_capture.exe" >/dev/null 2>&1 ||
  echo "The screenshots in build/artifacts could not be drawn." >&2
status=0
(cd "$DROPLEAF_BUILD_DIR" && ctest --output-on-failure "$@") || status=$?
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
