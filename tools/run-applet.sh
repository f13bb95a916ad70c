#!/bin/bash
# Opens the applet (x86_64 build) in Wine's Control Panel host with modemsim
# (FAXLINK profile) serving a COM port.
#
#   tools/run-applet.sh [--com N] [--headless] [--out DIR] [--no-pictures]
#                       [walkthrough options]
#
# On a working X display (and without --headless) the host shows there and
# this script waits until it is closed. Otherwise, under Xvfb,
# tools/walkthrough drives the dialog to the end and prints what happened;
# its pictures land in DIR (default build/run) as PNG files. Needs the native
# and win64 trees built (make run does that).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
run=$root/build/run
modemsim=$root/build/native/tools/modemsim/modemsim
walkthrough=$build/tools/walkthrough/walkthrough.exe

com=1
headless=0
pictures=1
walk_options=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --com) com=$2; shift 2 ;;
    --headless) headless=1; shift ;;
    --out) run=$2; shift 2 ;;
    --no-pictures) pictures=0; shift ;;
    *) walk_options+=("$1"); shift ;;
  esac
done
mkdir -p "$run"
run=$(cd "$run" && pwd)
state=$run/modem

interactive=0
if [[ $headless == 0 && -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then interactive=1; fi

sim_pid=
finish() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
  bash "$root/cmake/wine-harness.sh" cleanup win64 "$build" >/dev/null || true
}
trap finish EXIT

CTYSET2_USE_DISPLAY=$interactive bash "$root/cmake/wine-harness.sh" setup win64 "$build" "$root" \
  >"$run/harness.log"
# shellcheck source=/dev/null
source "$build/wine.env"

rm -rf "$state"
rm -f "$run"/*.png "$run"/*.bmp
link=$build/ports/com$com
setsid "$modemsim" --link "$link" --state-dir "$state" >"$run/modemsim.log" 2>&1 </dev/null &
sim_pid=$!
for _ in $(seq 100); do [[ -L "$link" ]] && break; sleep 0.05; done
if [[ ! -L "$link" ]]; then
  echo "run: modemsim did not start (see $run/modemsim.log)" >&2
  exit 1
fi
echo "run: modemsim serves COM$com, country $(cat "$state/country"); its files in $state"

if [[ $interactive == 1 ]]; then
  applet="Z:${build//\//\\}\\ctyset2\\ctyset2.cpl"
  echo "run: the applet is open on $DISPLAY; close it to end"
  /usr/lib/wine/wine64 control.exe "$applet" >"$run/host.log" 2>&1 || true
  echo "run: host closed; modem country now $(cat "$state/country")"
  exit 0
fi

status=0
if [[ $pictures == 1 ]]; then walk_options+=(--pictures "$run"); fi
CTYSET2_SOURCE=$root /usr/lib/wine/wine64 "$walkthrough" --sim-state "$state" \
  "${walk_options[@]}" | tr -d '\r' || status=$?
for bmp in "$run"/*.bmp; do
  [[ -e "$bmp" ]] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "run: pictures $(cd "$run" && ls ./*.png 2>/dev/null | sed 's|^\./||' | tr '\n' ' ')in $run"
exit "$status"
