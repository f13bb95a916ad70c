#!/bin/sh
# Reply lookups over a transcript that a flood filled to its bound.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/build/native/bench/transcript_bench" "${1:-2000}"
