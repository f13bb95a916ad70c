#!/bin/bash
# Starts and stops modemsim on behalf of Wine test programs. A Windows program
# can launch a Linux program under Wine but cannot wait for it or signal it,
# so this script reports through marker files in the state directory.
#
#   simctl.sh start <modemsim> <link> <state-dir> [modemsim options...]
#       -> <state-dir>/started once <link> exists, or <state-dir>/failed
#   simctl.sh stop <state-dir> <link>
#       -> <state-dir>/stopped once the simulator has exited
set -u

stop_running() {
  local state=$1 pid
  [[ -f "$state/pid" ]] || return 0
  pid=$(cat "$state/pid")
  rm -f "$state/pid"
  [[ -n "$pid" ]] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
}

case "${1:-}" in
  start)
    modemsim=$2 link=$3 state=$4
    shift 4
    stop_running "$state"
    rm -rf "$state" "$link"
    mkdir -p "$state"
    if [[ ! -x "$modemsim" ]]; then
      echo "simctl: no simulator at $modemsim" >"$state/log"
      touch "$state/failed"
      exit 1
    fi
    setsid "$modemsim" --link "$link" --state-dir "$state" "$@" >"$state/log" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >"$state/pid"
    for _ in $(seq 200); do
      if [[ -L "$link" ]]; then
        touch "$state/started"
        exit 0
      fi
      if ! kill -0 "$pid" 2>/dev/null; then break; fi
      sleep 0.05
    done
    echo "simctl: $link did not appear" >>"$state/log"
    stop_running "$state"
    touch "$state/failed"
    exit 1
    ;;
  stop)
    state=$2 link=$3
    stop_running "$state"
    rm -f "$link"
    touch "$state/stopped"
    ;;
  *)
    echo "usage: simctl.sh start|stop ..." >&2
    exit 2
    ;;
esac
