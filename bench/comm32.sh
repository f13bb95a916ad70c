#!/bin/bash
# Receive benchmark of TComm32 under Wine (win64 build) against a pty, and of a
# plain Linux reader of the same pty in the same run.
#   bench/comm32.sh [stream-bytes] [idle-seconds] [SLevel]
# Uses build/win64 and a private Wine prefix in build/bench; COM8 is mapped to
# a pty link inside build/bench.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
stream=${1:-4194304}
idle=${2:-10}
slevel=${3:-0}
build=$src/build/win64
work=$src/build/bench
mkdir -p "$work"

[[ -f $build/CMakeCache.txt ]] || cmake --preset win64 -S "$src" >/dev/null
cmake --build "$build" -j2 --target comm32_win >/dev/null
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Werror -I"$src" \
  "$src/bench/comm32_bench.cpp" "$build/comm32/libcomm32_win.a" "$build/comm32/libcomm32_core.a" \
  -static -o "$work/comm32_bench.exe"

export WINEPREFIX=$work/prefix WINEDEBUG=-all
link=$work/com8
if [[ ! -d $WINEPREFIX ]]; then
  wineboot -i >/dev/null 2>&1
fi
wineserver -k 2>/dev/null || true
wine reg add 'HKLM\Software\Wine\Ports' /v COM8 /t REG_SZ /d "$link" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
sleep 0.5

feeder_log=$work/feeder.log
python3 "$src/bench/ptyfeed.py" "$link" "$stream" >"$feeder_log" 2>&1 &
feeder=$!
for _ in $(seq 100); do [[ -L $link ]] && break; sleep 0.05; done

wineserver -f -p </dev/null >/dev/null 2>&1 &
server=$!
sleep 0.5
cleanup() {
  kill "$feeder" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

# The bench reads its own CPU time from /proc/self (the Wine process).
BENCH_WINESERVER_PID=$server xvfb-run -a /usr/lib/wine/wine64 "$work/comm32_bench.exe" \
  "$stream" "$idle" "$slevel" | tr -d '\r' | tee "$work/wine.out"
wait "$feeder" || true
cat "$feeder_log"

wine_rate=$(awk '/^wine_mib_per_s/ {print $2}' "$work/wine.out")
linux_rate=$(awk '/^linux_mib_per_s/ {print $2}' "$feeder_log")
if [[ -n $wine_rate && -n $linux_rate ]]; then
  awk -v w="$wine_rate" -v l="$linux_rate" 'BEGIN { printf "throughput_ratio_wine_to_linux %.3f\n", w / l }'
fi
