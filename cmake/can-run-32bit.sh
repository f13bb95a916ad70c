#!/bin/bash
# Tells whether this machine can run the i686 flavour under Wine, that is
# whether its kernel runs 32-bit x86 programs at all.
#   can-run-32bit.sh          prints "yes" (exit 0) or "no: <reason>" (exit 1)
#   can-run-32bit.sh FLAVOUR  for a test of flavour win64 or win32: silent exit
#                             0 when it can run, else a notice and exit 77 (the
#                             Wine tests' SKIP_RETURN_CODE)
# CTYSET2_NO_32BIT=1 forces the "no" answer, so both paths can be tried on any
# machine. CTYSET2_RUN_WIN32 carries an answer found earlier (make test finds
# out once and exports it): "yes", or "no: <reason>".
set -uo pipefail

if [[ $# -gt 0 ]]; then
  [[ "$1" == win32 ]] || exit 0
  answer=$(bash "$0") && exit 0
  echo "skipped: the i686 flavour cannot run here: ${answer#no: }"
  exit 77
fi

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
