#!/bin/bash
# make run's walk-through as a test: modemsim on COM1, tools/walkthrough drives
# the applet in this flavour's Control Panel host to the success box.
#   run.sh <win64|win32> <walkthrough.exe> <build-dir> <source-dir> <modemsim>
set -euo pipefail
arch=$1 exe=$2 build=$3 src=$4 modemsim=$5
state=$build/sim/walkthrough
link=$build/ports/com1
simctl=$src/tests/win32/support/simctl.sh
bash "$src/cmake/can-run-32bit.sh" "$arch" || exit
bash "$simctl" start "$modemsim" "$link" "$state"
trap 'bash "$simctl" stop "$state" "$link"' EXIT
CTYSET2_SOURCE=$src bash "$src/cmake/wine-run.sh" "$arch" "$exe" --sim-state "$state" | tr -d '\r'
