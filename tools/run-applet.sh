#!/bin/bash
# Opens the applet in Wine's Control Panel host (x86_64 build), with modemsim
# serving COM1. On a working X display the host shows there and this script
# waits until it is closed; otherwise it runs under Xvfb, leaves a screenshot
# in build/run/ and closes the host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win64
run=$root/build/run
modemsim=$root/build/native/tools/modemsim/modemsim
mkdir -p "$run"

sim_pid=
host_pid=
finish() {
  if [[ -n "$host_pid" ]]; then kill "$host_pid" 2>/dev/null || true; fi
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
  bash "$root/cmake/wine-harness.sh" cleanup win64 "$build" >/dev/null || true
}
trap finish EXIT

interactive=0
if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then interactive=1; fi
CTYSET2_USE_DISPLAY=$interactive bash "$root/cmake/wine-harness.sh" setup win64 "$build" "$root"
# shellcheck source=/dev/null
source "$build/wine.env"

if [[ -x "$modemsim" ]]; then
  setsid "$modemsim" --link "$build/ports/com1" --state-dir "$run/modem" >"$run/modemsim.log" 2>&1 \
    </dev/null &
  sim_pid=$!
  for _ in $(seq 100); do [[ -L "$build/ports/com1" ]] && break; sleep 0.05; done
  echo "run: modemsim serves COM1 (transcript in $run/modem)"
else
  echo "run: no modemsim built; COM ports are empty"
fi

if [[ $interactive == 0 ]]; then
  # No window manager on Xvfb: let Wine draw captions and frames itself.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi

applet="Z:${build//\//\\}\\ctyset2\\ctyset2.cpl"
/usr/lib/wine/wine64 control.exe "$applet" >"$run/host.log" 2>&1 &
host_pid=$!

if [[ $interactive == 1 ]]; then
  echo "run: the applet is open on $DISPLAY; close it to end"
  wait "$host_pid" || true
  host_pid=
  exit 0
fi

caption="Modem Regional Settings 2.3"
for _ in $(seq 150); do
  xwininfo -root -tree 2>/dev/null | grep -q "\"$caption\"" && break
  sleep 0.2
done
if ! xwininfo -root -tree 2>/dev/null | grep -q "\"$caption\""; then
  echo "run: the dialog did not appear (see $run/host.log)" >&2
  exit 1
fi
sleep 3  # let the dialog start its work before the picture
wid=$(xwininfo -root -tree | grep "\"$caption\"" | head -1 | awk '{print $1}')
import -display "$DISPLAY" -window "$wid" "$run/dialog.png"
import -display "$DISPLAY" -window root "$run/screen.png"
echo "run: screenshots in $run/dialog.png and $run/screen.png"
