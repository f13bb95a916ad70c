#!/bin/bash
# Builds one Windows Installer package of the applet (ctyset2.wxs) with wixl,
# then writes into its database what wixl 0.101 leaves out:
# - File.Version and File.Language of each ctyset2.cpl, from the DLL's
#   version resource. Without them Windows Installer takes the DLL for an
#   unversioned file, which never replaces a versioned one already on disk
#   (such as a copy put there by hand).
# - Permanent and NeverOverwrite on the components of Ctyset2.ini. The INI is
#   the administrator's to edit: an existing one is never overwritten by an
#   install, upgrade or repair, and a removal leaves it in place.
#
#   build-msi.sh <x64|x86> <version> <upgrade-code> <product-code> <out.msi>
#                <i686 dll> [<x86_64 dll>]
set -euo pipefail
arch=$1 version=$2 upgrade_code=$3 product_code=$4 out=$5 applet32=$6 applet64=${7:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

msi_rows() { msiinfo export "$out" "$1" | tail -n +4; }  # rows after the 3 header lines

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
# wixl finds sources by names relative to the working directory only.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/i686" "$stage/x86_64"
ln -s "$root/ctyset2/res/ctyset2.ico" "$root/data/Ctyset2.ini" "$stage/"
ln -s "$(realpath "$applet32")" "$stage/i686/ctyset2.cpl"
[[ -z "$applet64" ]] || ln -s "$(realpath "$applet64")" "$stage/x86_64/ctyset2.cpl"
(cd "$stage" && wixl --arch "$arch" -o "$out" \
  -D Arch="$arch" -D Version="$version" -D UpgradeCode="$upgrade_code" -D ProductCode="$product_code" \
  -D Icon=ctyset2.ico -D Ini=Ctyset2.ini -D Applet32=i686/ctyset2.cpl -D Applet64=x86_64/ctyset2.cpl \
  "$here/ctyset2.wxs")

files=$(msi_rows File)
queries=()
declare -A source=([Applet32]=$applet32 [Applet64]=$applet64)
for file in "${!source[@]}"; do
  cut -f1 <<<"$files" | grep -qx "$file" || continue
  read -r file_version language < <(bash "$here/pe-version.sh" "${source[$file]}")
  queries+=(-q "UPDATE File SET Version = '$file_version', Language = '$language' WHERE File = '$file'")
done
# msidbComponentAttributesPermanent (16) | msidbComponentAttributesNeverOverwrite (128)
while IFS=$'\t' read -r component _ _ attributes _; do
  if awk -F'\t' -v c="$component" '$2 == c && $3 == "Ctyset2.ini" {f = 1} END {exit !f}' <<<"$files"; then
    queries+=(-q "UPDATE Component SET Attributes = $((attributes | 16 | 128)) WHERE Component = '$component'")
  fi
done < <(msi_rows Component)
msibuild "$out" "${queries[@]}"
