#!/bin/bash
# The documents stay reachable: every docs/*.md is linked from README.md, and
# every relative link in README.md and docs/*.md names a file that exists.
#   check-docs.sh <source dir>
set -uo pipefail
cd "${1:-.}" || exit 2
status=0
for doc in docs/*.md; do
  if ! grep -qF "]($doc)" README.md; then
    echo "README.md does not link $doc"
    status=1
  fi
done
for file in README.md docs/*.md; do
  dir=$(dirname "$file")
  # Links of the form [text](target), leaving out web addresses and anchors.
  while read -r target; do
    target=${target%%#*}
    [[ -z $target || $target == *://* || $target == mailto:* ]] && continue
    if [[ ! -e $dir/$target ]]; then
      echo "$file links $target, which does not exist"
      status=1
    fi
  done < <(grep -o '](\([^)]*\))' "$file" | sed 's/^](//; s/)$//')
done
[[ $status -eq 0 ]] && echo "documents: all linked, every link resolves"
exit $status
