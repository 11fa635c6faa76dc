#!/usr/bin/env bash
# cmake/run-dropleaf.sh on a headless display: Dropleaf runs and keeps running in the run
# prefix, a second run says that one runs, SIGINT ends it within seconds and leaves no process.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
export WINEPREFIX="$build/run-script-prefix" DROPLEAF_BUILD_DIR="$build" WINEDEBUG=-all
log="$build/run-script.log"
prefix_pids() {
  grep -lzx "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 |
    while read -r pid; do readlink "/proc/$pid/exe" | grep -q wine && echo "$pid"; done
}
stop_script() {
  kill -INT "$script" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$script" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}
fail() { echo "FAILED: $*"; cat "$log"; stop_script || /usr/lib/wine/wineserver -k; exit 1; }
# A background job ignores SIGINT unless told otherwise, as a terminal's foreground job would not.
env -u DISPLAY --default-signal=INT bash "$root/cmake/run-dropleaf.sh" >"$log" 2>&1 &
script=$!
dropleaf_runs() {  # inside the desktop the script's explorer made
  for pid in $(prefix_pids); do tr '\0' '\n' <"/proc/$pid/cmdline" | head -n 1; done |
    grep -q 'Dropleaf\.exe$'
}
for _ in $(seq 180); do dropleaf_runs && break; sleep 1; done
display=$(sed -n 's/.*display \(:[0-9]*\).*/\1/p' "$log" | head -1)
[ -n "$display" ] || fail "the script did not say where Dropleaf runs"
# Bounded: a second run that did not see the first would wait for that one's end.
second=$(DISPLAY=$display timeout 60 bash "$root/cmake/run-dropleaf.sh" 2>&1) && fail "a second run started"
echo "$second" | grep -q "already runs in $WINEPREFIX" || fail "the second run said: $second"
dropleaf_runs || fail "Dropleaf did not keep running in the run prefix"
stop_script || fail "the script still runs 10 s after SIGINT"
left=$(prefix_pids)
[ -z "$left" ] || fail "processes of the prefix left: $left"
echo "1 passed, 0 failed"
