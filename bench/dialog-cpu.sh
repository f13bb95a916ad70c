#!/bin/bash
# CPU the dialog costs under Wine while it detects (the orbit animation runs),
# at the country prompt (nothing runs) and during the switch (the animation
# runs again): Wine's Control Panel host (control.exe, win64 build), the
# prefix's wineserver and the harness's Xvfb, each as % of one core, from
# /proc. One walk-through (tools/run-applet.sh --headless, modem on COM8)
# that reads the status line only once a second, takes no pictures and leaves
# the dialog alone at the prompt for 10 s. Fails when detection - prompt is
# above the target.
#   bench/dialog-cpu.sh [target %]      (default 5)
# Output in build/bench/dialog-cpu/.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-5}
build=$src/build/win64
prefix=$build/wineprefix
work=$src/build/bench/dialog-cpu
rm -rf "$work"
mkdir -p "$work"

cmake --preset win64 -S "$src" >/dev/null
cmake --build "$build" -j2 --target ctyset2 walkthrough >/dev/null
cmake --build "$src/build/native" -j2 --target modemsim >/dev/null

bash "$src/tools/run-applet.sh" --headless --com 8 --out "$work/walk" --no-pictures \
  --poll 1000 --prompt-pause 10 >"$work/walk.txt" 2>&1 &
walker=$!

# CPU ticks (user + system) of a process, or nothing once it has gone.
ticks() {
  local f
  [[ -n "$1" ]] && read -r -a f 2>/dev/null <"/proc/$1/stat" && echo $((f[13] + f[14]))
}
# The processes of this prefix: Xvfb from the harness's record, the
# wineserver by its working directory, the host by its environment.
find_pids() {
  if [[ -z "$xvfb" && -f "$build/xvfb.pid" ]]; then
    xvfb=$(cat "$build/xvfb.pid" 2>/dev/null || true)
    [[ "$(cat "/proc/$xvfb/comm" 2>/dev/null)" == Xvfb ]] || xvfb=''
  fi
  if [[ -z "$server" && -d "$prefix" ]]; then
    local dev ino p
    read -r dev ino < <(stat -c '%d %i' "$prefix")
    for p in $(pgrep wineserver || true); do
      [[ "$(readlink "/proc/$p/cwd" 2>/dev/null)" == */$(printf 'server-%x-%x' "$dev" "$ino") ]] &&
        server=$p
    done
  fi
  if [[ -z "$host" ]]; then
    local p
    for p in $(pgrep -x control.exe || true); do
      tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && host=$p
    done
  fi
  return 0
}

# Samples every 50 ms: Unix time, then the ticks of host, wineserver, Xvfb
# (the last value is kept once a process has gone).
xvfb='' server='' host=''
last=(0 0 0)
while kill -0 "$walker" 2>/dev/null; do
  [[ -z "$xvfb" || -z "$server" || -z "$host" ]] && find_pids
  # A process that has gone is looked for again (setup restarts the server).
  t=$(ticks "$host") && last[0]=$t || host=''
  t=$(ticks "$server") && last[1]=$t || server=''
  t=$(ticks "$xvfb") && last[2]=$t || xvfb=''
  echo "$EPOCHREALTIME ${last[*]}" >>"$work/samples.txt"
  sleep 0.05
done
if ! wait "$walker" || ! grep -q '^result:  OK' "$work/walk.txt"; then
  echo "dialog CPU bench: the walk-through failed:" >&2
  cat "$work/walk.txt" >&2
  exit 1
fi

# Phases from the walk's times (seconds after the dialog showed). The walk
# sees a change up to one poll (1 s) late, so a phase ends 1.1 s before the
# change that ends it was seen: detection from 1 s after showing (start-up
# done) to the prompt, the prompt from 0.5 s after it was seen to OK (the walk
# sleeps meanwhile), the switch from OK to the box.
zero=$(sed -n 's/.*clock zero at Unix time \([0-9.]*\).*/\1/p' "$work/walk.txt")
prompt=$(awk 'index($0, "status \"Please select your country") && $2 == "s" { print $1; exit }' \
  "$work/walk.txt")
ok=$(sed -n 's/.*OK pressed at \([0-9.]*\) s.*/\1/p' "$work/walk.txt")
box=$(sed -n 's/^ *\([0-9.]*\) s  Information box.*/\1/p' "$work/walk.txt")
hz=$(getconf CLK_TCK)

awk -v zero="$zero" -v prompt="$prompt" -v ok="$ok" -v box="$box" -v hz="$hz" \
  -v target="$target" '
  { t[NR] = $1; for (k = 2; k <= 4; ++k) c[NR, k] = $k; n = NR }
  # Ticks of column k at time x (the last sample at or before x).
  function at(x, k,   i) { for (i = n; i > 1 && t[i] > x; --i); return c[i, k] }
  function phase(name, from, to,   k, s) {
    from += zero; to += zero
    printf "%-10s %5.1f s", name, to - from
    s = 0
    for (k = 2; k <= 4; ++k) {
      v = 100 * (at(to, k) - at(from, k)) / hz / (to - from); s += v
      printf " %11.1f", v
    }
    printf " %7.1f\n", s
    return s
  }
  END {
    printf "dialog CPU under Wine (control.exe, wineserver, Xvfb), %% of one core, 1 run\n"
    printf "%-10s %7s %11s %11s %11s %7s\n", "phase", "length", "host", "wineserver", "Xvfb", "total"
    d = phase("detection", 1.0, prompt - 1.1)
    p = phase("prompt", prompt + 0.5, ok - 0.1)
    phase("switch", ok + 0.1, box - 1.1)
    printf "detection - prompt: %.1f %% of one core (target <= %s)\n", d - p, target
    exit (d - p > target)
  }' "$work/samples.txt"
