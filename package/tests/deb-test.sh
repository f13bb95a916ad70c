#!/bin/bash
# Tests of the Debian package of the command line, without installing it on
# this machine: its files, control data and lintian's verdict; the manual
# page; the program unpacked into a scratch root (dpkg -x) running list on
# its own INI file and detect against modemsim; the bash completion; one
# version in the package, the program and the DLLs' version resources.
#
# Environment (CTest sets it): CTYSET2_DEB (the package), CTYSET2_SOURCE,
# CTYSET2_MODEMSIM, CTYSET2_VERSION, CTYSET2_WIN64_TREE, CTYSET2_WIN32_TREE, WINDRES.
set -euo pipefail
deb=$CTYSET2_DEB src=$CTYSET2_SOURCE version=$CTYSET2_VERSION

fail() {
  echo "FAILED: $*"
  exit 1
}
step() { echo "== $*"; }

work=$(mktemp -d)
sim=$work/sim
cleanup() {
  bash "$src/tests/win32/support/simctl.sh" stop "$sim" "$work/modem" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

step "dpkg-deb -c: exactly the files"
listing=$(dpkg-deb -c "$deb" | awk '{print $1, $2, $NF}' | LC_ALL=C sort -k3)
expected=$(LC_ALL=C sort -k3 <<'LIST'
drwxr-xr-x root/root ./
drwxr-xr-x root/root ./etc/
drwxr-xr-x root/root ./etc/ctyset2/
-rw-r--r-- root/root ./etc/ctyset2/Ctyset2.ini
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/ctyset2
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/bash-completion/
drwxr-xr-x root/root ./usr/share/bash-completion/completions/
-rw-r--r-- root/root ./usr/share/bash-completion/completions/ctyset2
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/ctyset2/
-rw-r--r-- root/root ./usr/share/doc/ctyset2/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/ctyset2/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/ctyset2.1.gz
LIST
)
if [[ "$listing" != "$expected" ]]; then
  diff <(echo "$expected") <(echo "$listing") || true
  fail "the package's files are not as expected"
fi

step "control: version, architecture, Depends, conffiles"
field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == ctyset2 ]] || fail "Package $(field Package)"
[[ "$(field Version)" == "$version" ]] || fail "Version $(field Version), the project $version"
[[ "$(field Architecture)" == "$(dpkg --print-architecture)" ]] || fail "Architecture"
depends=$(field Depends)
for lib in libc6 libstdc++6 libgcc-s1; do
  sed 's/, /\n/g' <<<"$depends" | grep -qF "$lib (>= " || fail "Depends '$depends' lacks $lib"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles >"$work/conffiles"
[[ "$(cat "$work/conffiles")" == /etc/ctyset2/Ctyset2.ini ]] || fail "conffiles: $(cat "$work/conffiles")"

step "lintian"
# Warnings kept, by tag, each with its reason (none now). Tags of the
# informational level are not shown.
kept=()
lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1 || true)
echo "${lintian_out:-(nothing)}"
! grep -q '^E: ' <<<"$lintian_out" || fail "lintian reports errors"
unexpected=$(grep '^W: ' <<<"$lintian_out" || true)
for tag in "${kept[@]}"; do unexpected=$(grep -vF ": $tag" <<<"$unexpected" || true); done
[[ -z "$unexpected" ]] || fail "lintian warnings not accounted for: $unexpected"

step "unpacked into a scratch root"
root=$work/root
dpkg -x "$deb" "$root"
cli=$root/usr/bin/ctyset2
ini=$root/etc/ctyset2/Ctyset2.ini
cmp "$ini" "$src/data/Ctyset2.ini" || fail "the packaged INI is not data/Ctyset2.ini"
[[ "$("$cli" --version)" == "ctyset2 $version" ]] || fail "--version says '$("$cli" --version)'"

step "list against its own INI"
families=$("$cli" --ini "$ini" list)
echo "$families"
[[ "$families" == "$("$cli" --ini "$src/data/Ctyset2.ini" list)" && -n "$families" ]] ||
  fail "list of the packaged INI"
"$cli" --ini "$ini" list "$(head -n 1 <<<"$families")" | grep -q '^B5  North America (USA)$' ||
  fail "list FAMILY"

step "detect against modemsim"
bash "$src/tests/win32/support/simctl.sh" start "$CTYSET2_MODEMSIM" "$work/modem" "$sim"
for _ in $(seq 100); do [[ -e "$sim/started" || -e "$sim/failed" ]] && break; sleep 0.05; done
[[ -e "$sim/started" ]] || fail "modemsim did not start: $(cat "$sim/log" 2>/dev/null)"
mkdir "$work/locks"
status=0
detected=$(CTYSET2_LOCK_DIR=$work/locks "$cli" --ini "$ini" --port "$work/modem" detect 2>"$work/err") ||
  status=$?
echo "$detected"
[[ $status -eq 0 ]] || fail "detect exited with $status: $(cat "$work/err")"
grep -qx "Family:  FAXLINK 336" <<<"$detected" || fail "detect found no FAXLINK 336"
[[ -z "$(ls -A "$work/locks")" ]] || fail "a lock file is left: $(ls -A "$work/locks")"

step "manual page"
zcat "$root/usr/share/man/man1/ctyset2.1.gz" >"$work/ctyset2.1"
warnings=$(groff -man -ww -z "$work/ctyset2.1" 2>&1)
[[ -z "$warnings" ]] || fail "groff: $warnings"
rendered=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/ctyset2.1.gz" 2>"$work/man-err")
[[ ! -s "$work/man-err" ]] || fail "man -l: $(cat "$work/man-err")"
for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" "JSON OUTPUT" FILES EXAMPLES; do
  grep -qx "$section" <<<"$rendered" || fail "the manual page has no $section section"
done
grep -q "ctyset2 $version" <<<"$rendered" || fail "the manual page does not name version $version"
# Each option and exit code of the program is in the page.
for word in --ini --port --json --help --version detect set list; do
  grep -qF -- "$word" <<<"$rendered" || fail "the manual page does not mention $word"
done
for code in $(sed -n 's/^ *kExit[A-Za-z]* = \([0-9]*\),.*/\1/p' "$src/cli/Commands.h"); do
  grep -qE "^ {7}$code( |$)" <<<"$rendered" || fail "the manual page lacks exit code $code"
done

step "bash completion"
complete_line() {
  # Completions bash offers for the command line $1 (completing its last word).
  PATH=$root/usr/bin:$PATH bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_LINE=$2 COMP_POINT=${#2}
    read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _ctyset2 ctyset2 "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$root/usr/share/bash-completion/completions/ctyset2" "$1"
}
expect_completion() {
  local got
  got=$(complete_line "$1" | LC_ALL=C sort | tr '\n' ' ')
  [[ "$got" == "$2" ]] || fail "completing '$1' offers '$got', expected '$2'"
}
expect_completion "ctyset2 " "detect list set "
expect_completion "ctyset2 --j" "--json "
expect_completion "ctyset2 --ini $ini list --" "--help --ini --json --version "
expect_completion "ctyset2 --ini $ini list " "$(printf '%s\n' "$families" | sed 's/ /\\ /g' | LC_ALL=C sort | tr '\n' ' ')"
expect_completion "ctyset2 --ini $ini set germ" "Germany "
expect_completion "ctyset2 --ini=$ini set united" 'United\ Kingdom\ \(U.K.\) '
expect_completion "ctyset2 --port /dev/ttyS" \
  "$(compgen -G '/dev/ttyS[0-7]' | LC_ALL=C sort | tr '\n' ' ')"

step "one version: the program, the package and the DLLs' version resources"
for tree in "$CTYSET2_WIN64_TREE" "$CTYSET2_WIN32_TREE"; do
  resource=$(bash "$src/package/pe-version.sh" "$tree/ctyset2/ctyset2.cpl")
  [[ "${resource% *}" == "$version.0" ]] ||
    fail "$tree/ctyset2/ctyset2.cpl has version ${resource% *}, the package $version"
done
echo "Debian package test passed"
