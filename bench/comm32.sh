#!/bin/bash
# Receive benchmark of TComm32 under Wine (win64 build) against a pty, and of a
# plain Linux reader of the same pty in the same run.
#   bench/comm32.sh [stream-bytes] [idle-seconds] [SLevel]
# Uses build/win64 and its test harness prefix; COM8 is the pty of
# bench/ptyfeed.py; results also land in build/bench.
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
  "$src/bench/Comm32Bench.cpp" "$build/comm32/libcomm32_win.a" "$build/comm32/libcomm32_core.a" \
  -static -o "$work/comm32_bench.exe"

# The test harness's Wine environment of the win64 tree: private prefix,
# COM1..COM8 mapped to <build>/ports, persistent wineserver, Xvfb.
bash "$src/cmake/wine-harness.sh" setup win64 "$build" "$src" >"$work/harness.log"
# shellcheck source=/dev/null
source "$build/wine.env"
link=$build/ports/com8

feeder_log=$work/feeder.log
python3 "$src/bench/ptyfeed.py" "$link" "$stream" >"$feeder_log" 2>&1 &
feeder=$!
for _ in $(seq 100); do [[ -L $link ]] && break; sleep 0.05; done
cleanup() {
  kill "$feeder" 2>/dev/null || true
  rm -f "$link"
  bash "$src/cmake/wine-harness.sh" cleanup win64 "$build" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# The wineserver of this prefix (its CPU time counts as the component's too).
# wineserver works in a directory named after the prefix's device and inode.
read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
serverdir=$(printf 'server-%x-%x' "$dev" "$ino")
server=
for p in $(pgrep wineserver || true); do
  [[ "$(readlink "/proc/$p/cwd" 2>/dev/null)" == */"$serverdir" ]] && server=$p
done

# The bench reads its own CPU time from /proc/self (the Wine process).
BENCH_WINESERVER_PID=$server /usr/lib/wine/wine64 "$work/comm32_bench.exe" \
  "$stream" "$idle" "$slevel" | tr -d '\r' | tee "$work/wine.out"
wait "$feeder" || true
cat "$feeder_log"

wine_rate=$(awk '/^wine_mib_per_s/ {print $2}' "$work/wine.out")
linux_rate=$(awk '/^linux_mib_per_s/ {print $2}' "$feeder_log")
if [[ -n $wine_rate && -n $linux_rate ]]; then
  awk -v w="$wine_rate" -v l="$linux_rate" 'BEGIN { printf "throughput_ratio_wine_to_linux %.3f\n", w / l }'
fi
