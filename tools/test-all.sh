#!/bin/bash
# make test: every tree, every test; fails when anything fails, after running
# the rest. Run from the repository root.
#   test-all.sh <jobs> <fuzz-seconds>
set -uo pipefail
jobs=${1:-2} fuzz_seconds=${2:-15}

# Found out once; the Wine harness and launcher of the i686 tree read it.
if answer=$(bash cmake/can-run-32bit.sh); then
  export CTYSET2_RUN_WIN32=yes
else
  export CTYSET2_RUN_WIN32="$answer"
  echo "make test: this machine cannot run the i686 flavour under Wine (${answer#no: });" \
       "its Wine tests will be reported as skipped"
fi

status=0
ran_wine=()
# The package tree makes its packages from the two Windows trees, so it comes last.
for p in native win64 win32 package; do
  echo "=== $p ==="
  if ! { cmake --preset "$p" && cmake --build --preset "$p" -j "$jobs"; }; then
    status=1
    continue
  fi
  if [[ $p == native ]]; then
    ctest --preset "$p" -j "$jobs" || status=1
    bash fuzz/run.sh "$fuzz_seconds" || status=1
  else
    # Wine maps this machine's serial devices to COM ports: the tests run
    # where those devices are /dev/null.
    bash cmake/without-serial-devices.sh ctest --preset "$p" || status=1
    bash cmake/wine-harness.sh cleanup "$p" "build/$p" >/dev/null || true
    if [[ $p != win32 || $CTYSET2_RUN_WIN32 == yes ]]; then ran_wine+=("$p"); fi
  fi
done

echo
if [[ $CTYSET2_RUN_WIN32 != yes ]]; then
  echo "make test: the i686 flavour (win32 tree, x86 package) was built and checked statically" \
       "(exports, imports, resources, calling convention, package tables) but not run under Wine:" \
       "${CTYSET2_RUN_WIN32#no: }"
fi
echo "make test: ran under Wine: ${ran_wine[*]:-none}"
if [[ $status -ne 0 ]]; then echo "make test: FAILED"; else echo "make test: all passed"; fi
exit $status
