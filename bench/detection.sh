#!/bin/bash
# Detection and switch timeline of the applet under Wine (win64 build, Wine's
# Control Panel host, Xvfb) against the figures the dialog's timers imply.
#   bench/detection.sh [runs]      (default 1 run per case)
# Each run is one `make run` walk-through (tools/run-applet.sh --headless)
# with modemsim (FAXLINK profile) on COM1, and one with it on COM3 (COM1 and
# COM2 then have nothing behind them and fail to open). Output of each walk
# in build/bench/detection/.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-1}
work=$src/build/bench/detection
mkdir -p "$work"

cmake --preset win64 -S "$src" >/dev/null
cmake --build "$src/build/win64" -j2 --target ctyset2 walkthrough >/dev/null
cmake --build "$src/build/native" -j2 --target modemsim >/dev/null

# Design figures, in seconds. Timer1 500 ms per port step; an opened port:
# "AT", then 5 ladder ticks of 800 ms, evaluation 2000 ms later, next port
# step 500 ms later, plus 1 ms per character sent (23 for the ladder).
# After OK: the first script step comes when Timer2 fires with the interval
# detection left on it (2000 ms; no "ERROR" from this modem), then each of the
# two steps ends 100 ms after its "OK" arrives, which the receive thread
# delivers 250 ms after the last byte (11 + 6 characters sent).
design_step=0.5
design_com1=$(awk 'BEGIN { print 0.5 + 5 * 0.8 + 2.0 + 0.5 + 0.023 }')
design_ok=$(awk 'BEGIN { print 2.0 + (0.011 + 0.25 + 0.1) + (0.006 + 0.25 + 0.1) }')

# Seconds of the walk-through line that ends with the given text.
at() { awk -v want="$2" 'index($0, want) && $2 == "s" { print $1; exit }' "$1"; }

walk() {
  local com=$1 run=$2 out=$work/com$1-run$2
  if ! bash "$src/tools/run-applet.sh" --headless --com "$com" --out "$out" >"$out.txt" 2>&1 ||
    ! grep -q '^result:  OK' "$out.txt"; then
    echo "detection bench: the walk with the modem on COM$com failed:" >&2
    cat "$out.txt" >&2
    exit 1
  fi
  local first prompt
  first=$(at "$out.txt" 'status "Detecting COM1..."')
  prompt=$(at "$out.txt" 'status "Please select your country')
  echo "$com $first $prompt $(sed -n 's/.*, \([0-9.]*\) s after OK$/\1/p' "$out.txt")"
}

results=$work/results.txt
: >"$results"
for run in $(seq "$runs"); do
  walk 1 "$run" >>"$results"
  walk 3 "$run" >>"$results"
done

awk -v step="$design_step" -v com1="$design_com1" -v ok="$design_ok" -v runs="$runs" '
  function span(key) { return min[key] == max[key] ? sprintf("%.2f", min[key]) \
                                                   : sprintf("%.2f-%.2f", min[key], max[key]) }
  function add(key, v) {
    if (!(key in min) || v < min[key]) min[key] = v
    if (!(key in max) || v > max[key]) max[key] = v
  }
  { add($1 ":first", $2); add($1 ":prompt", $3 - $2); add($1 ":shown", $3); add($1 ":ok", $4) }
  END {
    printf "detection timeline under Wine, win64 host, %d run(s) per case; seconds\n", runs
    fmt = "%-6s %-42s %-8s %s\n"
    printf fmt, "modem", "figure", "design", "measured"
    printf fmt, "COM1", "first port step, from the dialog showing", sprintf("<%.2f", step), span("1:first")
    printf fmt, "COM1", "country prompt, from the first port step", sprintf("%.2f", com1 - step), span("1:prompt")
    printf fmt, "COM1", "country prompt, from the dialog showing", sprintf("<%.2f", com1), span("1:shown")
    printf fmt, "COM3", "country prompt, from the first port step", sprintf("%.2f", com1 - step + 1), span("3:prompt")
    printf fmt, "COM3", "country prompt, from the dialog showing", sprintf("<%.2f", com1 + 1), span("3:shown")
    printf fmt, "COM1", "OK to the success box", sprintf("%.2f", ok), span("1:ok")
    printf fmt, "COM3", "OK to the success box", sprintf("%.2f", ok), span("3:ok")
  }' "$results"
