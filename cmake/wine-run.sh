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
# Dropleaf's users run Simplified Chinese Windows: so does the test prefix, which makes
# the user-interface texts render (with the CJK font) in the windows that tests capture.
# Wine takes the locale from these even where the host has not generated it, so bash's
# own complaint about that is silenced.
{ export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8; } 2>/dev/null
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
# WinHTTP's default proxy in the test prefix: a closed loopback port, with only the local
# test servers bypassing it. Requests to the real message service then fail at once on
# loopback, without a DNS lookup, while tests still reach localhost. The value is the
# blob that "netsh winhttp set proxy" writes: magic 0x18, 0, flags 3, then the proxy and
# the bypass list, each as a 4-byte little-endian length and ANSI text.
winhttp_proxy=127.0.0.1:9
winhttp_bypass="localhost;127.0.0.1"
winhttp_settings_hex() {
  local text
  printf '180000000000000003000000'
  for text in "$winhttp_proxy" "$winhttp_bypass"; do
    printf '%02x000000' "${#text}"
    printf '%s' "$text" | od -An -v -tx1 | tr -d ' \n'
  done
}
if [ ! -f "$WINEPREFIX/.dropleaf-ready" ] || [ ! -f "$WINEPREFIX/.dropleaf-proxy" ] ||
   [ ! -f "$WINEPREFIX/.dropleaf-desktop" ] || [ ! -f "$WINEPREFIX/.dropleaf-crash" ] ||
   [ ! -f "$WINEPREFIX/.dropleaf-folders" ]; then
  # First use of this build folder: create the prefix once, quietly; the lock keeps
  # tests that CTest starts side by side from creating it twice. A prefix made before the
  # proxy setting existed gets it on its next use.
  mkdir -p "$build_dir"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.dropleaf-ready" ]; then
      "$loader" wineboot --init >/dev/null 2>&1
      /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
      touch "$WINEPREFIX/.dropleaf-ready"
    fi
    if [ ! -f "$WINEPREFIX/.dropleaf-proxy" ]; then
      "$loader" reg add \
        'HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
        /v WinHttpSettings /t REG_BINARY /d "$(winhttp_settings_hex)" /f >/dev/null 2>&1 &&
        touch "$WINEPREFIX/.dropleaf-proxy"
    fi
    # Every program of the prefix runs in one virtual desktop with a taskbar and its
    # notification area, as on Windows: Wine gives a taskbar to the desktop named "shell".
    if [ ! -f "$WINEPREFIX/.dropleaf-desktop" ]; then
      "$loader" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1 &&
        "$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1280x800 /f \
          >/dev/null 2>&1 && touch "$WINEPREFIX/.dropleaf-desktop"
    fi
    # A crash prints its backtrace and ends the process at once, instead of a crash dialog
    # that nobody closes holding the test until CTest's time-out.
    if [ ! -f "$WINEPREFIX/.dropleaf-crash" ]; then
      "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1 && touch "$WINEPREFIX/.dropleaf-crash"
    fi
    # Wine links the user's Desktop, Documents, Pictures... to the home folder (or its XDG
    # folders): the tests' files would land in the developer's own home. Folders of the prefix's
    # own instead; Wine makes the links only when it creates or updates a prefix.
    if [ ! -f "$WINEPREFIX/.dropleaf-folders" ]; then
      for link in "$WINEPREFIX"/drive_c/users/*/*; do
        if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
      done
      touch "$WINEPREFIX/.dropleaf-folders"
    fi
  ) 9>"$build_dir/.wineprefix.lock"
fi
# A second drive letter for the users' folders, as SUBST or a mapped drive gives on Windows: the
# setup test starts the installed copy through it, another spelling of the same file.
[ -e "$WINEPREFIX/dosdevices/y:" ] || ln -s ../drive_c/users "$WINEPREFIX/dosdevices/y:" 2>/dev/null
exec "$loader" "$@"
