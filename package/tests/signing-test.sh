#!/bin/bash
# Tests of Authenticode signing with a throw-away self-signed code-signing
# certificate made here (openssl), through the build's own signing path.
#
#   signing-test.sh build            the certificate, then a package tree of its
#                                    own (<package tree>/signing) configured with
#                                    it: signed DLLs, programs and packages
#   signing-test.sh verify           osslsigncode verify accepts each signed file
#                                    against the certificate; a copy changed by
#                                    one byte, or another certificate, fails
#   signing-test.sh contract <win64|win32>
#                                    the CPlApplet contract test of that tree run
#                                    under Wine against the signed DLL
#
# Environment (CTest sets it): as for msi-test.sh (CTYSET2_BUILD, CTYSET2_SOURCE,
# CTYSET2_WIN64_TREE, CTYSET2_WIN32_TREE, CTYSET2_VERSION, CTYSET2_MODEMSIM).
set -euo pipefail
scenario=${1:?usage: signing-test.sh build|verify|contract [win64|win32]}
build=$CTYSET2_BUILD src=$CTYSET2_SOURCE version=$CTYSET2_VERSION
tree=$build/signing
cert=$tree/certificate

fail() {
  echo "FAILED: $*"
  exit 1
}
step() { echo "== $*"; }

# The signed files: "<signed copy> <unsigned original>".
signed_files() {
  local t f
  for t in win64 win32; do
    for f in ctyset2/ctyset2.cpl cli/ctyset2.exe; do
      local upper=${t^^}
      local original=CTYSET2_${upper}_TREE
      echo "$tree/signed/$t/$f ${!original}/$f"
    done
  done
  echo "$tree/ctyset2-$version-x64.msi -"
  echo "$tree/ctyset2-$version-x86.msi -"
}

make_certificate() {
  local dir=$1 name=$2
  mkdir -p "$dir"
  openssl rand -hex 16 >"$dir/password"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$name/O=Tarn" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/cert.pem" -out "$dir/cert.pfx" \
    -passout "file:$dir/password"
}

verify() { osslsigncode verify -CAfile "$2" -in "$1" 2>&1; }

# Whether PE file $1 (a signature removed) is $2: signing pads the file to a
# multiple of 8 bytes and rewrites the header's checksum, so those are left out.
same_code() {
  local size lfanew
  size=$(stat -c %s "$2")
  lfanew=$(od -An -tu4 -j 60 -N4 "$2" | tr -d ' ')
  cp "$1" "$1.cut" && truncate -s "$size" "$1.cut"
  cmp -s -n $((lfanew + 88)) "$1.cut" "$2" &&
    cmp -s -i $((lfanew + 92)) "$1.cut" "$2" &&
    [[ -z "$(tail -c +$((size + 1)) "$1" | tr -d '\0')" ]]
  local same=$?
  rm -f "$1.cut"
  return $same
}

build_signed() {
  rm -rf "$tree"
  step "a throw-away code-signing certificate"
  make_certificate "$cert" "ctyset2 signing test"
  step "a package tree signing with it"
  cmake -S "$src" -B "$tree" -G Ninja -DCTYSET2_PACKAGES=ON -DCTYSET2_DEB=OFF -DCTYSET2_SIGNING_TESTS=OFF \
    -DCTYSET2_SIGN_PFX="$cert/cert.pfx" -DCTYSET2_SIGN_PASS_FILE="$cert/password" \
    -DCTYSET2_WIN64_TREE="$CTYSET2_WIN64_TREE" -DCTYSET2_WIN32_TREE="$CTYSET2_WIN32_TREE" \
    -DCTYSET2_MODEMSIM="$CTYSET2_MODEMSIM" >"$tree.log" 2>&1 || { cat "$tree.log"; fail "configure"; }
  grep -q "ctyset2: signing with" "$tree.log" || fail "the build did not say it signs"
  cmake --build "$tree" --target packages >>"$tree.log" 2>&1 || { cat "$tree.log"; fail "build"; }
  local signed original
  while read -r signed original; do
    [[ -f "$signed" ]] || fail "$signed was not made"
  done < <(signed_files)
  echo "signed tree built"
}

verify_signed() {
  local signed original out
  step "each file verifies against the certificate"
  while read -r signed original; do
    out=$(verify "$signed" "$cert/cert.pem") || { echo "$out"; fail "$signed does not verify"; }
    grep -q "^Signature verification: ok" <<<"$out" || { echo "$out"; fail "$signed: no ok"; }
    grep -q "Subject: .*CN *= *ctyset2 signing test" <<<"$out" || { echo "$out"; fail "$signed: signer"; }
    echo "ok ${signed#"$tree"/}"
    if [[ "$original" != - ]]; then
      # The DLL and program signed are the build's: the same code and resources.
      ! verify "$original" "$cert/cert.pem" >/dev/null || fail "$original is signed itself"
      osslsigncode remove-signature -in "$signed" -out "$tree/stripped" >/dev/null
      same_code "$tree/stripped" "$original" || fail "$signed without its signature is not $original"
      rm -f "$tree/stripped"
    fi
  done < <(signed_files)

  step "the packages hold the signed DLLs"
  local msi stream dll
  for msi in "$tree/ctyset2-$version-x64.msi" "$tree/ctyset2-$version-x86.msi"; do
    msiextract -C "$tree/extract" "$msi" >/dev/null
    while IFS= read -r dll; do
      verify "$dll" "$cert/cert.pem" | grep -q "^Signature verification: ok" ||
        fail "$(basename "$msi") installs an unsigned $dll"
    done < <(find "$tree/extract" -name ctyset2.cpl)
    [[ -n "$(find "$tree/extract" -name ctyset2.cpl)" ]] || fail "no DLL in $msi"
    rm -rf "$tree/extract"
  done

  step "a file changed by one byte fails verification"
  for signed in "$tree/signed/win64/ctyset2/ctyset2.cpl" "$tree/ctyset2-$version-x64.msi"; do
    cp "$signed" "$tree/changed"
    # One byte of the code (PE) or of the database (MSI), well inside the file.
    local at=$(($(stat -c %s "$signed") / 3))
    printf "\\x$(printf %02x $((($(od -An -tu1 -j "$at" -N1 "$signed") + 1) % 256)))" |
      dd of="$tree/changed" bs=1 seek="$at" conv=notrunc status=none
    ! cmp -s "$signed" "$tree/changed" || fail "the byte did not change"
    if out=$(verify "$tree/changed" "$cert/cert.pem"); then
      echo "$out"
      fail "$(basename "$signed") changed at byte $at still verifies"
    fi
    echo "changed $(basename "$signed") at byte $at: $(grep -m1 -iE 'mismatch|failed' <<<"$out" || echo refused)"
  done
  rm -f "$tree/changed"

  step "another certificate does not vouch for them"
  make_certificate "$tree/other" "someone else"
  ! verify "$tree/signed/win64/ctyset2/ctyset2.cpl" "$tree/other/cert.pem" >/dev/null ||
    fail "the signature verifies against a certificate that did not make it"
  echo "verification test passed"
}

contract() {
  local arch=${1:?flavour missing} dll_tree=$tree/signed/$1 program_tree
  if [[ $arch == win64 ]]; then program_tree=$CTYSET2_WIN64_TREE; else program_tree=$CTYSET2_WIN32_TREE; fi
  bash "$src/cmake/wine-harness.sh" fresh "$arch" "$build" "signed-contract-$arch" || exit
  # shellcheck source=/dev/null
  source "$build/prefixes/signed-contract-$arch.env"
  trap 'wineserver -k 2>/dev/null || true' EXIT
  step "cpl_applet_test ($arch) against $dll_tree/ctyset2/ctyset2.cpl"
  verify "$dll_tree/ctyset2/ctyset2.cpl" "$cert/cert.pem" | grep -q "^Signature verification: ok" ||
    fail "the DLL under test is not the signed one"
  local loader=/usr/lib/wine/wine64
  [[ $arch == win64 ]] || loader=/usr/lib/wine/wine
  CTYSET2_BUILD=$program_tree CTYSET2_SOURCE=$src CTYSET2_APPLET=$dll_tree/ctyset2/ctyset2.cpl \
    "$loader" "$program_tree/tests/win32/cpl_applet_test.exe" | tr -d '\r'
}

case "$scenario" in
  build) build_signed ;;
  verify) verify_signed ;;
  contract) contract "${2:-}" ;;
  *) fail "unknown scenario $scenario" ;;
esac
