#!/usr/bin/env bash
# One command from a fresh Debian machine to a Dropleaf you can try under Wine: installs what
# is missing, builds, and runs the program in a Wine desktop with a taskbar and notification
# area, in a Wine prefix of its own (Simplified Chinese, kept between runs), on your display
# or else on a headless X server. Ctrl+C ends Dropleaf and everything this script started.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
export DROPLEAF_BUILD_DIR=${DROPLEAF_BUILD_DIR:-$root/build}
"$root/cmake/setup-debian.sh"
"$root/cmake/build.sh" Dropleaf >/dev/null

# Never the user's own prefix unless WINEPREFIX says so.
export WINEPREFIX=${WINEPREFIX:-${XDG_DATA_HOME:-$HOME/.local/share}/dropleaf/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
{ export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8; } 2>/dev/null  # Dropleaf's users' locale
loader=/usr/lib/wine/wine64
desktop_size=1280x800

# Every process of the prefix: Wine's programs and server that carry this WINEPREFIX.
prefix_pids() {
  local pid
  for pid in $(grep -lzx "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3); do
    case $(readlink "/proc/$pid/exe" 2>/dev/null) in */wine*) echo "$pid" ;; esac
  done
}
dropleaf_runs() {
  local pid
  for pid in $(prefix_pids); do  # the program itself, not a command line that names it
    tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1 | grep -q 'Dropleaf\.exe$' && return 0
  done
  return 1
}
if [ -n "$(prefix_pids)" ]; then
  echo "Dropleaf (or another Wine program) already runs in $WINEPREFIX." >&2
  echo "Use that one, or end it first: WINEPREFIX='$WINEPREFIX' /usr/lib/wine/wineserver -k" >&2
  exit 1
fi

xserver=""
finish() {
  trap - INT TERM EXIT
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  for _ in $(seq 50); do [ -z "$(prefix_pids)" ] && break; sleep 0.1; done
  [ -z "$xserver" ] || kill "$xserver" 2>/dev/null || true
}
trap 'finish; exit 130' INT
trap 'finish; exit 143' TERM
trap finish EXIT

if [ -n "${DISPLAY:-}" ]; then
  where="on your display $DISPLAY, in the Wine desktop window \"Dropleaf\""
else
  n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${desktop_size}x24" -nolisten tcp >/dev/null 2>&1 &
  xserver=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  where="on a headless X server, display :$n (no display was set)"
fi

if [ ! -f "$WINEPREFIX/.dropleaf-run-ready" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (a minute at most, once)..."
  mkdir -p "$WINEPREFIX"
  "$loader" wineboot --init >/dev/null 2>&1
  # The desktop "Dropleaf" gets Wine's taskbar with its notification area.
  "$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Dropleaf /d "$desktop_size" /f \
    >/dev/null 2>&1
  "$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops\Dropleaf' /v EnableShell /t REG_DWORD \
    /d 1 /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  touch "$WINEPREFIX/.dropleaf-run-ready"
fi
desktop_folder=$(readlink -f "$WINEPREFIX/drive_c/users/$(id -un)/Desktop")

cat <<EOF
Dropleaf runs $where.
- Its tray icon (a green drop) sits at the right end of the Wine desktop's taskbar: right-click
  it for the menu, double-click it for the usage text.
- To try a paste: put an image on the clipboard, for example
      xclip -selection clipboard -t image/png -i picture.png
  (Wine offers image/png as "PNG", which is saved as it is; image/bmp becomes a DIB), click
  the Wine desktop, press Ctrl+V. The PNG lands in $desktop_folder
- To try an upload: with an image on the clipboard, open Wine's notepad in that desktop,
      WINEPREFIX='$WINEPREFIX' $loader explorer /desktop=Dropleaf,$desktop_size notepad
  choose 文件 > 打开 (File > Open), press Ctrl+V, then Enter: the image is saved in
  %TEMP%\Dropleaf and its path fills the File name box.
- It talks to the real message service, as the product does.
- Ctrl+C stops it.
EOF
# explorer makes the desktop and its taskbar first, then starts Dropleaf (started the other
# way round, the icon would be lost: Wine's taskbar announces no "TaskbarCreated"), and
# returns when Dropleaf has ended. Waiting in the background lets the traps run at once.
"$loader" explorer "/desktop=Dropleaf,$desktop_size" "$DROPLEAF_BUILD_DIR/Dropleaf.exe" &
wait $! || true
# Had another program of the prefix made the desktop first, explorer returned at once.
while dropleaf_runs; do sleep 1; done
