#!/bin/bash
# Prints the file version and the language of a Windows DLL's version
# resource, as Windows Installer's File table holds them: "2.3.0.0 1028".
#   pe-version.sh <dll>
# Reads the resource with MinGW's windres (WINDRES, default
# x86_64-w64-mingw32-windres, which reads PE files of both flavours).
set -euo pipefail
dll=${1:?usage: pe-version.sh <dll>}
resource=$("${WINDRES:-x86_64-w64-mingw32-windres}" -i "$dll" -J coff -O rc)
version=$(sed -n 's/^ *FILEVERSION \([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\) *$/\1.\2.\3.\4/p' \
  <<<"$resource")
language=$(sed -n 's/^ *VALUE "Translation", *\(0x[0-9a-fA-F]*\),.*/\1/p' <<<"$resource" | head -n 1)
if [[ -z "$version" || -z "$language" ]]; then
  echo "pe-version.sh: no version resource in $dll" >&2
  exit 1
fi
echo "$version $((language))"
