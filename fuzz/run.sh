#!/bin/sh
# Builds every fuzz target with clang and runs each for <seconds> (default 20).
# Seeds: fuzz/corpus/<target without _fuzz>/ (read only); new inputs go to
# build/fuzz/corpus/, crash inputs to build/fuzz/artifacts/; extra flags from
# fuzz/<target without _fuzz>.options. Fails when a
# target finds a crash, a leak or a sanitizer error.
set -eu
seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

mkdir -p "$build/artifacts"
status=0
for target in "$build"/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  base=${name%_fuzz}
  work=$build/corpus/$base
  mkdir -p "$work"
  set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "$work"
  [ -d "$root/fuzz/corpus/$base" ] && set -- "$@" "$root/fuzz/corpus/$base"
  dict=$root/fuzz/$base.dict
  [ -f "$dict" ] && set -- -dict="$dict" "$@"
  # Extra libFuzzer flags of a target, one or more a line.
  options=$root/fuzz/$base.options
  [ -f "$options" ] && set -- $(cat "$options") "$@"
  echo "== $name: $seconds s"
  if ! "$target" "$@" >"$build/$name.log" 2>&1; then
    echo "$name FAILED (see $build/$name.log)"
    tail -n 40 "$build/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$build/$name.log" | tail -n 2
  fi
done
exit $status
