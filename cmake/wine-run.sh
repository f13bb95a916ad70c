#!/bin/bash
# Runs a Windows program under the test harness's Wine environment.
#   wine-run.sh win64|win32 program.exe [args...]
# The environment (prefix, display) comes from <build>/wine.env, written by
# wine-harness.sh setup; <build> is $CTYSET2_BUILD or found above the program.
set -euo pipefail

arch=${1:?usage: wine-run.sh win64|win32 program [args...]}
shift
program=${1:?usage: wine-run.sh win64|win32 program [args...]}

bash "$(dirname "$0")/can-run-32bit.sh" "$arch" || exit

build=${CTYSET2_BUILD:-}
if [[ -z "$build" ]]; then
  dir=$(cd "$(dirname "$program")" && pwd)
  while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir=$(dirname "$dir"); done
  build=$dir
fi
if [[ ! -f "$build/wine.env" ]]; then
  echo "wine-run.sh: $build/wine.env missing; the wine_setup test has not run" >&2
  exit 1
fi
# shellcheck source=/dev/null
source "$build/wine.env"

case "$arch" in
  win64) loader=/usr/lib/wine/wine64 ;;
  win32) loader=/usr/lib/wine/wine ;;
  *) echo "wine-run.sh: unknown flavour '$arch'" >&2; exit 2 ;;
esac
exec "$loader" "$@"
