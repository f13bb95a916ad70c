#!/bin/bash
# Tests of one Windows Installer package of the applet.
#
#   msi-test.sh static  <x64|x86>  its tables, versions and icon (msitools, no Wine)
#   msi-test.sh install <x64|x86>  unattended install into a fresh prefix: files,
#                                  Programs and Features, the Control Panel's list,
#                                  `control ctyset2.cpl` against modemsim; removal
#   msi-test.sh upgrade <x64|x86>  in a fresh prefix: the older version with an
#                                  edited INI, the upgrade, the same version again,
#                                  repair, a refused downgrade, removal
#
# Environment (CTest sets it): CTYSET2_BUILD (the package tree), CTYSET2_SOURCE,
# CTYSET2_MODEMSIM, CTYSET2_WIN64_TREE, CTYSET2_WIN32_TREE, CTYSET2_VERSION,
# CTYSET2_OLDER_VERSION, CTYSET2_UPGRADE_CODE, WINDRES. The Wine tests of the
# x86 package exit 77 (skipped) where this machine cannot run 32-bit programs.
# Packages made elsewhere (signed ones): CTYSET2_PACKAGES_DIR holds them,
# CTYSET2_WIN64_FILES and CTYSET2_WIN32_FILES the DLLs they were made of (in
# the trees' layout), CTYSET2_PREFIX_TAG tells their prefixes apart.
set -euo pipefail
scenario=${1:?usage: msi-test.sh static|install|upgrade x64|x86} arch=${2:?flavour missing}
build=$CTYSET2_BUILD src=$CTYSET2_SOURCE version=$CTYSET2_VERSION older=$CTYSET2_OLDER_VERSION
packages=${CTYSET2_PACKAGES_DIR:-$build}
msi=$packages/ctyset2-$version-$arch.msi
older_msi=$packages/older/ctyset2-$older-$arch.msi
files64=${CTYSET2_WIN64_FILES:-$CTYSET2_WIN64_TREE}
files32=${CTYSET2_WIN32_FILES:-$CTYSET2_WIN32_TREE}
prefix_name=$arch-$scenario${CTYSET2_PREFIX_TAG:+-$CTYSET2_PREFIX_TAG}
product_name="Tarn Regional Settings"
publisher=Tarn

fail() {
  echo "FAILED: $*"
  exit 1
}
step() { echo "== $*"; }

# Rows of a table of a package, without the three header lines; "-" stands
# for an empty field.
rows() {
  msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r' |
    awk -F'\t' -v OFS='\t' '{ for (i = 1; i <= NF; ++i) if ($i == "") $i = "-"; print }'
}
property() { rows "$1" Property | awk -F'\t' -v p="$2" '$1 == p {print $2}'; }
expect_property() {
  local got
  got=$(property "$1" "$2")
  [[ "$got" == "$3" ]] || fail "$(basename "$1"): $2 is '$got', expected '$3'"
}

# Where the package puts each build: "<system directory> <its files>".
# The flavour of Windows and the build tree of its programs.
if [[ $arch == x64 ]]; then
  placements=("system32 $files64" "syswow64 $files32")
  folders=(System64Folder SystemFolder)
  wine_arch=win64 tree=$CTYSET2_WIN64_TREE
else
  placements=("system32 $files32")
  folders=(SystemFolder)
  wine_arch=win32 tree=$CTYSET2_WIN32_TREE
fi

static_checks() {
  step "summary and properties"
  local template
  template=$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p' | tr -d '\r')
  [[ "$template" == "$([[ $arch == x64 ]] && echo x64 || echo Intel);1033" ]] ||
    fail "platform and language '$template'"
  expect_property "$msi" ProductVersion "$version"
  expect_property "$msi" ProductName "$product_name"
  expect_property "$msi" Manufacturer "$publisher"
  expect_property "$msi" UpgradeCode "{$CTYSET2_UPGRADE_CODE}"
  expect_property "$older_msi" UpgradeCode "{$CTYSET2_UPGRADE_CODE}"
  [[ "$(property "$msi" ProductCode)" != "$(property "$older_msi" ProductCode)" ]] ||
    fail "the older version has the same product code"
  local icon
  icon=$(property "$msi" ARPPRODUCTICON)
  cmp <(msiinfo extract "$msi" "Icon.$icon") "$src/ctyset2/res/ctyset2.ico" ||
    fail "the Programs and Features icon '$icon' is not ctyset2/res/ctyset2.ico"

  step "directories"
  local directories
  directories=$(rows "$msi" Directory | cut -f1 | sort | tr '\n' ' ')
  [[ "$directories" == "$(printf '%s\n' "${folders[@]}" TARGETDIR | sort | tr '\n' ' ')" ]] ||
    fail "directories $directories"

  step "components and files"
  # One line per file: name, directory, size, version and language, and what
  # its component's attributes say.
  local layout="" expected="" component directory attributes file_name size file_version language
  declare -A directory_of attributes_of
  while IFS=$'\t' read -r component _ directory attributes _; do
    directory_of[$component]=$directory attributes_of[$component]=$attributes
  done < <(rows "$msi" Component)
  while IFS=$'\t' read -r _ component file_name size file_version language _; do
    attributes=${attributes_of[$component]}
    layout+="$file_name ${directory_of[$component]} $size $file_version $language"
    if ((attributes & 256)); then layout+=" 64-bit"; else layout+=" 32-bit"; fi
    if ((attributes & 16)); then layout+=" permanent"; fi
    if ((attributes & 128)); then layout+=" never-overwrite"; fi
    layout+=$'\n'
  done < <(rows "$msi" File)
  local folder dll bits
  declare -A resource_of # "<file version> <language>" of each build's DLL
  for ((i = 0; i < ${#folders[@]}; ++i)); do
    folder=${folders[i]}
    dll=${placements[i]#* }/ctyset2/ctyset2.cpl
    resource_of[$dll]=$(bash "$src/package/pe-version.sh" "$dll")
    if [[ $folder == System64Folder ]]; then bits=64-bit; else bits=32-bit; fi
    expected+="ctyset2.cpl $folder $(stat -c %s "$dll") ${resource_of[$dll]} $bits"$'\n'
    expected+="Ctyset2.ini $folder $(stat -c %s "$src/data/Ctyset2.ini") - - $bits permanent never-overwrite"$'\n'
  done
  layout=$(sort <<<"${layout%$'\n'}") expected=$(sort <<<"${expected%$'\n'}")
  if [[ "$layout" != "$expected" ]]; then
    echo "files in the package:"$'\n'"$layout"$'\n'"expected:"$'\n'"$expected"
    fail "the package's files are not as expected"
  fi
  echo "$layout"

  step "the DLLs' version resources and the ProductVersion agree"
  for dll in "${!resource_of[@]}"; do
    file_version=${resource_of[$dll]% *}
    [[ "$file_version" == "$version.0" ]] ||
      fail "$dll has version $file_version, the package $version"
  done

  step "launch conditions"
  local conditions
  conditions=$(rows "$msi" LaunchCondition | cut -f1 | sort | tr '\n' ';')
  if [[ $arch == x64 ]]; then
    [[ "$conditions" == "NOT WIX_DOWNGRADE_DETECTED;" ]] || fail "conditions $conditions"
  else
    [[ "$conditions" == "NOT VersionNT64;NOT WIX_DOWNGRADE_DETECTED;" ]] ||
      fail "conditions $conditions"
  fi
  echo "static checks passed"
}

# --- Wine -----------------------------------------------------------------

start_prefix() {
  bash "$src/cmake/wine-harness.sh" fresh "$wine_arch" "$build" "$prefix_name" || exit
  # shellcheck source=/dev/null
  source "$build/prefixes/$prefix_name.env"
  trap 'wineserver -k 2>/dev/null || true' EXIT
  code=$(property "$msi" ProductCode)
  older_code=$(property "$older_msi" ProductCode)
}

winpath() {
  local p=${1//\//\\}
  echo "Z:$p"
}
wine_quiet() { "$CTYSET2_WINE" "$@" 2>/dev/null | tr -d '\r'; }

# msiexec with its exit code (Wine hands the low byte of it to Linux).
msiexec_qn() {
  local status=0
  "$CTYSET2_WINE" msiexec "$@" /qn >/dev/null 2>&1 || status=$?
  echo "$status"
}
expect_msiexec() {
  local status
  status=$(msiexec_qn "${@:2}")
  [[ "$status" == "$1" || ("$1" == fail && "$status" != 0) ]] ||
    fail "msiexec ${*:2} exited with $status"
}

sysfile() { echo "$WINEPREFIX/drive_c/windows/$1/$2"; }

# Each build where it belongs, with the INI beside it (the shipped one unless
# the INI given as $2 is expected).
expect_files() {
  local dlldir=$1 ini=${2:-$src/data/Ctyset2.ini} placement dir
  for placement in "${placements[@]}"; do
    dir=${placement%% *}
    cmp "$(sysfile "$dir" ctyset2.cpl)" "${placement#* }/$dlldir/ctyset2.cpl" ||
      fail "$dir/ctyset2.cpl is not the build from ${placement#* }/$dlldir"
    cmp "$(sysfile "$dir" Ctyset2.ini)" "$ini" || fail "$dir/Ctyset2.ini is not $ini"
  done
}
expect_no_dll() {
  local placement
  for placement in "${placements[@]}"; do
    [[ ! -e "$(sysfile "${placement%% *}" ctyset2.cpl)" ]] ||
      fail "${placement%% *}/ctyset2.cpl is still there"
  done
}

uninstall_key() {
  echo "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"
}
reg_value() {
  wine_quiet reg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# Programs and Features as Wine's uninstaller lists it: "{code}|||name".
entries() { wine_quiet uninstaller --list | grep -F "|||$product_name" || true; }

# The one entry in Programs and Features is the product `code` at `ver`.
expect_entry() {
  local code=$1 ver=$2 listed
  listed=$(entries)
  [[ "$listed" == "$code|||$product_name" ]] ||
    fail "Programs and Features lists '$listed', expected $code only"
  [[ "$(reg_value "$(uninstall_key "$code")" DisplayVersion)" == "$ver" ]] ||
    fail "the entry's version is not $ver"
}
expect_no_entry() {
  [[ -z "$(entries)" ]] || fail "Programs and Features still lists: $(entries)"
}

# msiexec /x: the DLLs and the entry go, the INI stays as given.
expect_removal() {
  local placement
  expect_msiexec 0 /x "$(winpath "$msi")"
  expect_no_dll
  expect_no_entry
  for placement in "${placements[@]}"; do
    cmp "$(sysfile "${placement%% *}" Ctyset2.ini)" "$1" ||
      fail "after removal ${placement%% *}/Ctyset2.ini is not $1"
  done
}

install_scenario() {
  start_prefix
  if [[ $arch == x64 ]]; then
    step "the x86 package refuses 64-bit Windows"
    expect_msiexec fail /i "$(winpath "$packages/ctyset2-$version-x86.msi")"
    expect_no_dll
  fi

  step "msiexec /i $(basename "$msi") /qn"
  expect_msiexec 0 /i "$(winpath "$msi")"
  expect_files ctyset2

  step "Programs and Features: name, publisher, version, icon"
  expect_entry "$code" "$version"
  local key icon
  key=$(uninstall_key "$code")
  [[ "$(reg_value "$key" DisplayName)" == "$product_name" ]] || fail "display name"
  [[ "$(reg_value "$key" Publisher)" == "$publisher" ]] || fail "publisher"
  icon=$(wine_quiet reg query 'HKLM\Software\Classes\Installer\Products' /s |
    sed -n "s/^ *ProductIcon *REG_SZ *\(.*$code.*\)$/\1/p" || true)
  [[ -n "$icon" ]] || fail "no product icon registered"
  cmp "$(wine_quiet winepath -u "$icon")" "$src/ctyset2/res/ctyset2.ico" ||
    fail "the product icon $icon is not ctyset2/res/ctyset2.ico"

  step "the Control Panel, started without arguments, lists the applet"
  local listed
  listed=$(wine_quiet "$tree/tests/win32/control_panel_list.exe" || true)
  echo "$listed"
  grep -qxF "$product_name" <<<"$listed" || fail "'$product_name' is not in the list"

  # The walk-through of each host that can run here: `control ctyset2.cpl`
  # against modemsim, a full detection and a country switch.
  local walks=()
  [[ $arch == x64 ]] && walks+=("/usr/lib/wine/wine64 $CTYSET2_WIN64_TREE")
  if [[ $arch == x86 ]] || bash "$src/cmake/can-run-32bit.sh" >/dev/null; then
    walks+=("/usr/lib/wine/wine $CTYSET2_WIN32_TREE")
  fi
  local walk sim=$build/sim/$arch-install link=$build/ports/com1
  for walk in "${walks[@]}"; do
    step "control ctyset2.cpl (${walk%% *}) against modemsim on COM1"
    bash "$src/tests/win32/support/simctl.sh" start "$CTYSET2_MODEMSIM" "$link" "$sim"
    local status=0
    CTYSET2_SOURCE=$src ${walk%% *} "${walk#* }/tools/walkthrough/walkthrough.exe" \
      --sim-state "$sim" --applet ctyset2.cpl | tr -d '\r' || status=$?
    bash "$src/tests/win32/support/simctl.sh" stop "$sim" "$link"
    [[ $status -eq 0 ]] || fail "the walk-through failed"
  done

  step "msiexec /x: the DLL and the entry go, the INI stays"
  expect_removal "$src/data/Ctyset2.ini"
  echo "install test passed"
}

upgrade_scenario() {
  start_prefix
  step "the older version $older, then the administrator edits Ctyset2.ini"
  expect_msiexec 0 /i "$(winpath "$older_msi")"
  expect_files ctyset2/older
  expect_entry "$older_code" "$older"
  local edited=$build/prefixes/$prefix_name-edited.ini placement
  cp "$src/data/Ctyset2.ini" "$edited"
  printf '\r\n[OWN MODEM 56K]\r\nCOUNT=1\r\nCTY1=Iceland,ICELAND,52\r\n' >>"$edited"
  for placement in "${placements[@]}"; do cp "$edited" "$(sysfile "${placement%% *}" Ctyset2.ini)"; done

  step "upgrade to $version: the DLL is replaced, the edit survives"
  expect_msiexec 0 /i "$(winpath "$msi")"
  expect_files ctyset2 "$edited"
  expect_entry "$code" "$version"

  step "the same version again changes nothing"
  local before after
  before=$(cd "$WINEPREFIX/drive_c/windows" && stat -c '%n %s %Y' system32/ctyset2.cpl system32/Ctyset2.ini)
  expect_msiexec 0 /i "$(winpath "$msi")"
  after=$(cd "$WINEPREFIX/drive_c/windows" && stat -c '%n %s %Y' system32/ctyset2.cpl system32/Ctyset2.ini)
  [[ "$before" == "$after" ]] || fail "files changed: $before -> $after"
  expect_files ctyset2 "$edited"
  expect_entry "$code" "$version"

  # What `msiexec /f` does on Windows; Wine 8's msiexec /f does not repair (a
  # product code is not implemented, a package path is taken for a product
  # code and fails with ERROR_UNKNOWN_PRODUCT).
  step "repair restores a deleted ctyset2.cpl and keeps the edit"
  for placement in "${placements[@]}"; do rm -f "$(sysfile "${placement%% *}" ctyset2.cpl)"; done
  expect_msiexec 0 /i "$(winpath "$msi")" REINSTALL=ALL REINSTALLMODE=omus
  expect_files ctyset2 "$edited"

  step "the older version does not replace the newer"
  expect_msiexec fail /i "$(winpath "$older_msi")"
  expect_files ctyset2 "$edited"
  expect_entry "$code" "$version"

  step "removal: the DLL and the entry go, the edited INI stays"
  expect_removal "$edited"
  echo "upgrade test passed"
}

case "$scenario" in
  static) static_checks ;;
  install) install_scenario ;;
  upgrade) upgrade_scenario ;;
  *) fail "unknown scenario $scenario" ;;
esac
