#!/bin/bash
# Checks a built applet: it imports only Windows system DLLs (the C and C++
# runtimes are linked in), exports exactly one name, CPlApplet, and carries
# its manifest as resource 123 (RT_MANIFEST, type 24), the one the Control
# Panel activates, and no other manifest.
#   check-pe.sh <objdump> <ctyset2.cpl>
set -euo pipefail
objdump=$1 file=$2
dump=$("$objdump" -p "$file")

system_dlls='^(kernel32|user32|gdi32|advapi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|uxtheme|version|imm32|winmm|setupapi|ws2_32|ntdll|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
for dll in $imports; do
  if ! grep -Eqi "$system_dlls" <<<"$dll"; then
    echo "imports a non-system DLL: $dll"
    status=1
  fi
done
echo "imports: $(echo $imports)"

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  awk '/^[ \t]*\[ *[0-9]+\] [^+]/ {print $NF}')
echo "exports: $(echo $exports)"
if [[ "$exports" != CPlApplet ]]; then
  echo "expected exactly one export, CPlApplet"
  status=1
fi
# Resource tree of `objdump -p`: type entries, then their name entries.
manifests=$(awk '/^[0-9a-f]+   Entry: ID:/ { type = $4 }
                 /^[0-9a-f]+     Entry: ID:/ && type == "0x000018," { print $4 }' <<<"$dump" |
  tr -d ,)
echo "manifest resources: $(echo $manifests)"
if [[ "$manifests" != 0x00007b ]]; then
  echo "expected exactly one manifest resource, ID 123 (0x7b)"
  status=1
fi
exit $status
