#!/bin/bash
# Wine environment for one Windows build tree, or fresh prefixes for tests
# that want a Windows of their own.
#
#   wine-harness.sh setup   <win64|win32> <build-dir> [source-dir]
#   wine-harness.sh cleanup <win64|win32> <build-dir>
#   wine-harness.sh setup-fresh <build-dir> [source-dir]
#   wine-harness.sh fresh   <win64|win32> <build-dir> <name>
#
# setup: private prefix <build>/wineprefix (created once), COM1..COM16 mapped to
# <build>/ports/com1..com16 (symlinks that tests create by starting modemsim),
# of which Windows lists only COM1..COM8 as serial ports (SERIALCOMM; a test
# lists more itself),
# a private Xvfb display (or the caller's display when CTYSET2_USE_DISPLAY=1),
# a persistent wineserver, data/Ctyset2.ini copied into the system directory
# of the flavour, Wine-drawn window frames on Xvfb. Everything a Wine process
# needs is written to <build>/wine.env.
# cleanup: stops simulators, wineservers and Xvfb started by any command here.
# setup-fresh: the display, and untouched prefixes made once as templates in
# <build>/templates: win64 (64-bit Windows with its 32-bit part where this
# machine runs 32-bit programs) and win32 (32-bit Windows, only there).
# fresh: a new prefix <build>/prefixes/<name> copied from the template, set up
# like setup's (ports, frames, fonts; no INI), its wineserver running;
# <build>/prefixes/<name>.env holds its environment. win32 exits 77 (skipped)
# where 32-bit programs cannot run.
set -euo pipefail

usage="usage: wine-harness.sh setup|cleanup win64|win32 build-dir [source-dir]
       wine-harness.sh setup-fresh build-dir [source-dir]
       wine-harness.sh fresh win64|win32 build-dir name"
cmd=${1:-} name=
case "$cmd" in
  setup-fresh) arch=fresh build_arg=${2:-} source_arg=${3:-} ;;
  fresh) arch=${2:-} build_arg=${3:-} name=${4:-} source_arg= ;;
  *) arch=${2:-} build_arg=${3:-} source_arg=${4:-} ;;
esac
if [[ -z "$arch" || -z "$build_arg" || ("$cmd" == fresh && -z "$name") ]]; then
  echo "$usage" >&2
  exit 2
fi
build=$(mkdir -p "$build_arg" && cd "$build_arg" && pwd)
source_dir=${source_arg:-$(cd "$(dirname "$0")/.." && pwd)}

wine64=/usr/lib/wine/wine64
loader=$wine64 # of the prefix in WINEPREFIX
envfile=$build/wine.env
log=$build/wine-harness.log
ports=$build/ports
# COM ports mapped into the build tree, and those of them that Windows lists.
mapped_ports=16
listed_ports=8
serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
# No Mono/Gecko install prompts, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

say() { echo "wine-harness[$arch]: $*"; }

# Stops what a previous setup of this tree left running (by recorded pids only).
stop_all() {
  local f pid
  for f in "$build"/sim/*/pid; do
    [[ -f "$f" ]] || continue
    pid=$(cat "$f" 2>/dev/null || true)
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill -TERM "$pid" 2>/dev/null || true; fi
    rm -f "$f"
  done
  for prefix in "$WINEPREFIX" "$build"/prefixes/*/; do
    [[ -d "$prefix" ]] || continue
    WINEPREFIX=${prefix%/} wineserver -k >>"$log" 2>&1 || true
    WINEPREFIX=${prefix%/} wineserver -w >>"$log" 2>&1 || true
  done
  if [[ -f "$build/xvfb.pid" ]]; then
    pid=$(cat "$build/xvfb.pid")
    if [[ -n "$pid" && "$(cat "/proc/$pid/comm" 2>/dev/null)" == Xvfb ]]; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$build/xvfb.pid"
  fi
  rm -f "$envfile"
}

create_prefix() {
  if [[ -f "$WINEPREFIX/.ctyset2-ready" ]]; then return; fi
  say "creating prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  "$loader" wineboot -i >>"$log" 2>&1
  wineserver -w >>"$log" 2>&1
  touch "$WINEPREFIX/.ctyset2-ready"
}

# Maps COM1..COM16 into the build tree. Wine's device manager reads the key when
# it starts, so this runs while no wineserver is up for the prefix. It gives
# the machine's own serial devices (/dev/ttyS*, ttyUSB*, ttyACM*) the next free
# numbers, from COM17 on; check_ports takes them out again.
# On Xvfb there is no window manager: Wine draws captions and frames itself
# (Managed=N; otherwise closing a window waits about 2 s for one). On the
# user's display the window manager does.
write_registry() {
  local reg=$build/prefix.reg i managed='"N"'
  [[ "${CTYSET2_USE_DISPLAY:-0}" == 1 && -n "${DISPLAY:-}" ]] && managed=-
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for i in $(seq "$mapped_ports"); do printf '"COM%d"="%s/com%d"\r\n' "$i" "$ports" "$i"; done
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"=%s\r\n' "$managed"
  } >"$reg"
  "$loader" regedit /S "$reg" >>"$log" 2>&1
  wineserver -w >>"$log" 2>&1
}

start_display() {
  if [[ "${CTYSET2_USE_DISPLAY:-0}" == 1 && -n "${DISPLAY:-}" ]]; then
    echo "$DISPLAY" >"$build/xvfb.display"
    return
  fi
  rm -f "$build/xvfb.display"
  # Xvfb picks a free display number itself and writes it to fd 3 when ready.
  setsid bash -c 'echo $$ >"$1"; exec Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    3>"$2"' xvfb "$build/xvfb.pid" "$build/xvfb.display.tmp" >>"$log" 2>&1 </dev/null &
  for _ in $(seq 100); do
    if grep -q '[0-9]' "$build/xvfb.display.tmp" 2>/dev/null; then
      echo ":$(tr -dc 0-9 <"$build/xvfb.display.tmp")" >"$build/xvfb.display"
      rm -f "$build/xvfb.display.tmp"
      return
    fi
    sleep 0.1
  done
  say "Xvfb did not start (see $log)"
  exit 1
}

# The COM ports Windows lists: "<value> COMn" lines of SERIALCOMM, which Wine's
# device manager fills when it starts, from Software\Wine\Ports and then the
# machine's devices.
serialcomm_values() {
  "$loader" reg query "$serialcomm" 2>>"$log" | tr -d '\r' |
    awk '$2 == "REG_SZ" && $3 ~ /^COM[0-9]+$/ { print $1, $3 }'
}

# Drops any COM link outside the build tree (Wine maps machine ports it finds,
# such as /dev/ttyS0, to the next free numbers) and checks COM1..COM16. Then
# leaves only COM1..COM8 in the list of serial ports, which the dialog walks
# above COM8: the machine's own ports are never listed, and the tests' scans
# see COM1..COM8 only unless a test lists more.
check_ports() {
  local link target value com n dev listed= unlisted=
  # The device manager fills the list as it starts; wait for our ports.
  for _ in $(seq 100); do
    [[ $(serialcomm_values | wc -l) -ge $mapped_ports ]] && break
    sleep 0.1
  done
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [[ -L "$link" ]] || continue
    target=$(readlink "$link")
    if [[ "$target" != "$ports"/* ]]; then
      rm -f "$link"
    fi
  done
  for i in $(seq "$mapped_ports"); do
    target=$(readlink "$WINEPREFIX/dosdevices/com$i" || true)
    if [[ "$target" != "$ports/com$i" ]]; then
      say "COM$i maps to '$target', expected $ports/com$i"
      exit 1
    fi
  done
  while read -r value com; do
    n=${com#COM}
    if ((n > listed_ports)); then
      "$loader" reg delete "$serialcomm" /v "$value" /f >>"$log" 2>&1
      unlisted+=" $com"
    fi
  done < <(serialcomm_values)
  [[ -z "$unlisted" ]] || say "serial ports no longer listed:$unlisted" >>"$log"
  listed=$(serialcomm_values | awk '{ print $2 }' | sort -V | tr '\n' ' ')
  if [[ "$listed" != "$(for i in $(seq "$listed_ports"); do printf 'COM%d ' "$i"; done)" ]]; then
    say "serial ports listed: '$listed', expected COM1..COM$listed_ports"
    exit 1
  fi
  # Run by make test in a namespace where the machine's devices are /dev/null.
  if [[ ${CTYSET2_SERIAL_DEVICES_HIDDEN:-} == 1 ]]; then
    for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
      [[ -e "$dev" ]] || continue
      if [[ "$(stat -c %t,%T "$dev")" != "1,3" ]]; then
        say "$dev is a real device, not /dev/null"
        exit 1
      fi
    done
  fi
}

# Wine's own TrueType fonts (package fonts-wine) into the prefix's Fonts
# directory, where this Wine looks for them: Marlett draws the caption
# buttons, Tahoma stands in for "MS Shell Dlg".
link_wine_fonts() {
  local font fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts"
  for font in /usr/share/wine/fonts/*.ttf; do
    [[ -e "$font" ]] && ln -sf "$font" "$fonts/"
  done
  return 0
}

# Writes the environment of the prefix in WINEPREFIX to $envfile, starts its
# persistent wineserver and its services and desktop (output to the log, so no
# test process becomes their parent), then checks the ports and links fonts.
start_wine() {
  cat >"$envfile" <<ENV
export WINEPREFIX='$WINEPREFIX'
export WINEDEBUG='$WINEDEBUG'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export DISPLAY='$(cat "$build/xvfb.display")'
export CTYSET2_BUILD='$build'
export CTYSET2_WINE='$loader'
ENV
  # shellcheck source=/dev/null
  source "$envfile"
  wineserver -p >>"$log" 2>&1
  "$loader" cmd /c exit >>"$log" 2>&1 </dev/null
  # The i686 tree runs its programs in the 32-bit part of its prefix.
  if [[ "$cmd" == setup && "$arch" == win32 ]]; then
    /usr/lib/wine/wine cmd /c exit >>"$log" 2>&1 </dev/null
  fi
  check_ports
  link_wine_fonts
}

# Fresh log, nothing left running from before, no stale simulator links.
reset_tree() {
  : >"$log"
  stop_all
  mkdir -p "$ports" "$build/sim"
  find "$ports" -maxdepth 1 -name 'com*' -exec rm -f {} +
}

setup() {
  reset_tree
  create_prefix
  write_registry
  start_display
  start_wine
  local sysdir=system32
  [[ "$arch" == win32 ]] && sysdir=syswow64
  if [[ -f "$source_dir/data/Ctyset2.ini" ]]; then
    cp "$source_dir/data/Ctyset2.ini" "$WINEPREFIX/drive_c/windows/$sysdir/Ctyset2.ini"
  fi
  say "ready: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
}

setup_fresh() {
  reset_tree
  mkdir -p "$build/templates"
  start_display
  (export WINEPREFIX=$build/templates/win64 WINEARCH=win64 && create_prefix)
  if bash "$source_dir/cmake/can-run-32bit.sh" >/dev/null; then
    (export WINEPREFIX=$build/templates/win32 WINEARCH=win32 && loader=/usr/lib/wine/wine &&
      create_prefix)
  fi
  say "ready: templates in $build/templates, DISPLAY=$(cat "$build/xvfb.display")"
}

# A copy of a template prefix. Wine's program files, which nothing writes in
# place, stay shared with the template through hard links; everything else
# (registry, INI files) is copied.
copy_prefix() {
  cp -al "$1" "$2"
  find "$2" -type f ! -iregex '.*\.\(dll\|exe\|sys\|drv\|cpl\|ocx\|acm\|ax\|tlb\|ds\|com\|nls\|msstyles\)' \
    -exec sh -c 'for f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f"; done' sh {} +
}

fresh() {
  local template=$build/templates/$arch
  if [[ ! -f "$template/.ctyset2-ready" ]]; then
    say "no template $template (wine-harness.sh setup-fresh makes it)"
    exit 1
  fi
  if [[ "$arch" == win32 ]]; then loader=/usr/lib/wine/wine; fi
  export WINEPREFIX=$build/prefixes/$name
  envfile=$WINEPREFIX.env log=$WINEPREFIX.log
  mkdir -p "$build/prefixes"
  : >"$log"
  if [[ -d "$WINEPREFIX" ]]; then
    wineserver -k >>"$log" 2>&1 || true
    wineserver -w >>"$log" 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  copy_prefix "$template" "$WINEPREFIX"
  write_registry
  start_wine
  say "ready: $envfile"
}

case "$cmd" in
  # Without 32-bit support the i686 flavour's Wine tests are skipped (exit 77).
  setup) bash "$source_dir/cmake/can-run-32bit.sh" "$arch" || exit; setup ;;
  setup-fresh) setup_fresh ;;
  fresh) bash "$source_dir/cmake/can-run-32bit.sh" "$arch" || exit; fresh ;;
  cleanup) stop_all; say "stopped" ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
