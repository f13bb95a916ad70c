#!/bin/bash
# Signs one Windows file (PE program or DLL, or Windows Installer package)
# with Authenticode, SHA-256, by osslsigncode.
#   sign.sh <certificate.pfx> <password file> <in> <out> [<time-stamp URL>]
# The password file holds the PKCS#12 password (one line; may be empty).
# With a time-stamp URL the signature is counter-signed there (RFC 3161), so
# that it stays valid after the certificate expires.
set -euo pipefail
pfx=$1 pass_file=$2 in=$3 out=$4 timestamp=${5:-}
args=(sign -pkcs12 "$pfx" -readpass "$pass_file" -h sha256 -n "Tarn Regional Settings")
[[ -z "$timestamp" ]] || args+=(-ts "$timestamp")
mkdir -p "$(dirname "$out")"
rm -f "$out"
osslsigncode "${args[@]}" -in "$in" -out "$out" >/dev/null
