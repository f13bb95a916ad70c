#!/bin/bash
# Checks a built applet from the file alone, without running it, so that both
# flavours are checked on any machine:
# - it imports only Windows system DLLs (the C and C++ runtimes are linked in);
# - it exports exactly one name, CPlApplet, undecorated;
# - its resources: strings 1-6, icon group 101 and the version, in language
#   1028, and one manifest, resource 123: the one the Control Panel (and
#   rundll32) activates for a DLL;
# - CPlApplet keeps the Win32 calling convention: on i686 (stdcall) every
#   return pops its 16 bytes of arguments (ret $0x10); on x86_64 the caller
#   cleans up (plain ret).
#   check-pe.sh <objdump> <ctyset2.cpl>
set -euo pipefail
objdump=$1 file=$2
dump=$("$objdump" -p "$file")
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

system_dlls='^(kernel32|user32|gdi32|advapi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|uxtheme|version|imm32|winmm|setupapi|ws2_32|ntdll|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
for dll in $imports; do
  grep -Eqi "$system_dlls" <<<"$dll" || fail "imports a non-system DLL: $dll"
done
echo "imports: $(echo $imports)"

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  awk '/^[ \t]*\[ *[0-9]+\] [^+]/ {print $NF}')
echo "exports: $(echo $exports)"
[[ "$exports" == CPlApplet ]] || fail "expected exactly one export, CPlApplet"

# Resources, as wrestool (icoutils) lists them: --type=T --name=N --language=L.
resources=$(wrestool -l "$file")
has_resource() { grep -Eq -- "--type=$1 --name=$2 --language=$3( |$)" <<<"$resources"; }
has_resource 14 101 1028 || fail "icon group 101 (language 1028) missing"
has_resource 16 1 1028 || fail "version resource (language 1028) missing"
manifests=$(grep -Eo -- '--type=24 --name=[^ ]+' <<<"$resources" || true)
[[ "$manifests" == "--type=24 --name=123" ]] || fail "expected one manifest, 123: $(echo $manifests)"
# Strings 1-6 live in string block 1 (ids 0-15): 16 counted UTF-16 strings.
strings=$(wrestool -x --raw --type=6 --name=1 --language=1028 "$file" | od -An -v -tu2 |
  awk '{ for (i = 1; i <= NF; i++) w[n++] = $i }
       END { p = 0
             for (id = 0; id < 16 && p < n; id++) {
               len = w[p++]; s = ""
               for (k = 0; k < len; k++) s = s sprintf("%c", w[p++])
               if (len) print id "=" s } }')
expected=$'1=Modem Regional Settings\n2=Modem Regional Settings Descript\n3=Tarn Regional Settings
4=Brio Modem Regional Settings\n5=Modem Regional Settings\n6=Halcyon Regional Settings'
[[ "$strings" == "$expected" ]] || fail "string table differs: $(echo $strings)"
echo "resources: icon group 101, version, manifest 123, strings 1-6 (language 1028)"

# Calling convention: every return of the exported function.
# (Its cold part, split off by the optimiser, counts too.)
code=$("$objdump" -d --no-show-raw-insn "$file" |
  awk '/^[0-9a-f]+ <(_CPlApplet@16|CPlApplet)(\.cold)?>:$/ {on = 1; next} /^$/ {on = 0} on')
[[ -n "$code" ]] || fail "no code for CPlApplet found (symbols stripped?)"
rets=$(grep -E '\sret' <<<"$code" | awk '{$1 = ""; print}' | sort | uniq -c || true)
if grep -q 'file format pei-i386' <<<"$dump"; then want='ret +\$0x10'; else want='ret *$'; fi
if [[ -z "$rets" ]] || grep -Ev "^ *[0-9]+ +$want" <<<"$rets" >/dev/null; then
  fail "CPlApplet returns with: $(echo $rets) (expected only ${want//\\/})"
fi
echo "CPlApplet returns: $(echo $rets)"
exit $status
