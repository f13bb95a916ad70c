#!/bin/bash
# ctyset2.exe of this flavour under Wine against modemsim on COM2: detect with
# the dialog's scan of COM1..COM8, then set on the port named. What the program
# reports is checked against the simulator's own state.
#   run.sh <win64|win32> <ctyset2.exe> <build-dir> <source-dir> <modemsim>
set -euo pipefail
arch=$1 exe=$2 build=$3 src=$4 modemsim=$5
bash "$src/cmake/can-run-32bit.sh" "$arch" || exit
state=$build/sim/cli
link=$build/ports/com2
simctl=$src/tests/win32/support/simctl.sh
bash "$simctl" start "$modemsim" "$link" "$state"
trap 'bash "$simctl" stop "$state" "$link"' EXIT

failed=0
# run <expected exit> <expected text in stdout> args...
run() {
  local want=$1 text=$2 out code=0
  shift 2
  out=$(CTYSET2_BUILD=$build CTYSET2_SOURCE=$src bash "$src/cmake/wine-run.sh" "$arch" "$exe" "$@" |
    tr -d '\r') || code=$?
  echo "ctyset2 $* -> $code: $out"
  if [[ $code -ne $want || $out != *"$text"* ]]; then
    echo "FAILED: expected exit $want and output with: $text"
    failed=1
  fi
}

run 0 '{"command":"detect","port":"COM2","family":"FAXLINK 336","country":"North America (USA)","code":"B5","exit":0}' \
  --json detect
run 0 '"country":"Germany","code":"04","previous_country":"North America (USA)","previous_code":"B5","result":"ok"' \
  --port com2 --json set germany
country=$(cat "$state/country")
echo "modem's country now: $country"
[[ $country == 04 ]] || failed=1
# COM1 has no modem: narrowed to it, the scan finds none.
run 3 'No modem detect ??' --port COM1 detect
exit $failed
