#!/bin/bash
# Builds the Debian package of the command-line program:
#   /usr/bin/ctyset2                                (stripped)
#   /etc/ctyset2/Ctyset2.ini                        (a conffile: edits survive upgrades)
#   /usr/share/man/man1/ctyset2.1.gz                (cli/doc/ctyset2.1)
#   /usr/share/bash-completion/completions/ctyset2  (cli/doc/ctyset2.bash-completion)
#   /usr/share/doc/ctyset2/copyright, changelog.gz  (package/deb/)
# Depends comes from dpkg-shlibdeps; the changelog's latest entry must be
# this version (write one for each release).
#
#   build-deb.sh <version> <architecture> <ctyset2 program> <out.deb>
set -euo pipefail
version=$1 arch=$2 program=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

latest=$(sed -n '1s/^ctyset2 (\([^)]*\)).*/\1/p' "$here/changelog")
if [[ "$latest" != "$version" ]]; then
  echo "build-deb.sh: package/deb/changelog's latest entry is '$latest', the version $version:" \
       "add an entry for $version" >&2
  exit 1
fi
# The changelog's date stands for the package's files.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p' "$here/changelog" | head -n 1)" +%s)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
umask 022
install -d "$stage/DEBIAN" "$stage/usr/bin" "$stage/etc/ctyset2" "$stage/usr/share/man/man1" \
  "$stage/usr/share/bash-completion/completions" "$stage/usr/share/doc/ctyset2"
install -m 0755 "$program" "$stage/usr/bin/ctyset2"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage/usr/bin/ctyset2"
install -m 0644 "$root/data/Ctyset2.ini" "$stage/etc/ctyset2/Ctyset2.ini"
sed "s/@VERSION@/$version/" "$root/cli/doc/ctyset2.1" | gzip -9n >"$stage/usr/share/man/man1/ctyset2.1.gz"
install -m 0644 "$root/cli/doc/ctyset2.bash-completion" \
  "$stage/usr/share/bash-completion/completions/ctyset2"
install -m 0644 "$here/copyright" "$stage/usr/share/doc/ctyset2/copyright"
gzip -9n <"$here/changelog" >"$stage/usr/share/doc/ctyset2/changelog.gz"
chmod 0644 "$stage/usr/share/man/man1/ctyset2.1.gz" "$stage/usr/share/doc/ctyset2/changelog.gz"

# dpkg-shlibdeps reads debian/control of a source package: a minimal one.
mkdir -p "$work/src/debian"
printf 'Source: ctyset2\n\nPackage: ctyset2\nArchitecture: any\n' >"$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O "$stage/usr/bin/ctyset2" | sed -n 's/^shlibs:Depends=//p')
[[ -n "$depends" ]] || { echo "build-deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

size=$(du -s -k --apparent-size --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" \
  -e "s/@DEPENDS@/$depends/" "$here/control" >"$stage/DEBIAN/control"
echo /etc/ctyset2/Ctyset2.ini >"$stage/DEBIAN/conffiles"
(cd "$stage" && find . -type f ! -path './DEBIAN/*' -printf '%P\n' | LC_ALL=C sort |
  xargs md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/"*
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$(dirname "$out")"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$out" >/dev/null
