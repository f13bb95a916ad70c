#!/bin/sh
# Receive timing of the command-line program's POSIX serial port on a pty.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/build/native/bench/serialport_bench" "${1:-20}"
