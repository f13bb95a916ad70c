#!/bin/bash
# Tells whether this machine can run the i686 flavour under Wine, that is
# whether its kernel runs 32-bit x86 programs at all.
#   can-run-32bit.sh     prints "yes" (exit 0) or "no: <reason>" (exit 1)
# CTYSET2_NO_32BIT=1 forces the "no" answer, so both paths can be tried on any
# machine. CTYSET2_RUN_WIN32 carries an answer found earlier (make test finds
# out once and exports it): "yes", or "no: <reason>".
set -uo pipefail

if [[ "${CTYSET2_NO_32BIT:-0}" == 1 ]]; then
  echo "no: forced by CTYSET2_NO_32BIT=1"
  exit 1
fi
case "${CTYSET2_RUN_WIN32:-}" in
  yes) echo yes; exit 0 ;;
  no*) echo "$CTYSET2_RUN_WIN32"; exit 1 ;;
esac

loader=/usr/lib/wine/wine
if [[ ! -x "$loader" ]]; then
  echo "no: the 32-bit Wine loader $loader is not installed"
  exit 1
fi
# bash's exec, unlike execvp, does not hand a binary it cannot run to /bin/sh.
out=$(timeout 60 bash -c 'exec "$0" --version' "$loader" 2>&1)
status=$?
if [[ $status -eq 0 ]]; then
  echo yes
  exit 0
fi
case $status in
  126) why="the kernel refuses 32-bit x86 programs: $loader --version gives Exec format error" ;;
  124) why="$loader --version did not answer within 60 s" ;;
  *) why="$loader --version failed (exit $status: $(tr -d '\r' <<<"$out" | grep -v '^$' | tail -n 1))" ;;
esac
echo "no: $why"
exit 1
