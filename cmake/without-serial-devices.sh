#!/bin/bash
# Runs a command in a private mount namespace in which this machine's serial
# devices are /dev/null. Wine maps /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM*
# to the first free COM numbers (COM17 on in the test prefixes), and no test
# may reach a real device through one. Where no mount namespace can be made,
# the command runs as it is, with a note: the harness still removes those
# ports' links and list entries at every start.
#   without-serial-devices.sh command [args...]
set -uo pipefail

devices() { compgen -G '/dev/ttyS*' ; compgen -G '/dev/ttyUSB*' ; compgen -G '/dev/ttyACM*' ; }

if [[ ${CTYSET2_SERIAL_DEVICES_HIDDEN:-} != 1 ]]; then
  if unshare --mount --propagation private true 2>/dev/null; then
    exec unshare --mount --propagation private \
      env CTYSET2_SERIAL_DEVICES_HIDDEN=1 bash "$0" "$@"
  fi
  echo "without-serial-devices.sh: no private mount namespace here;" \
       "the Wine harness's port checks alone keep the tests off this machine's serial devices" >&2
  exec "$@"
fi
while read -r dev; do
  [[ -n $dev ]] || continue
  if ! mount --bind /dev/null "$dev"; then
    echo "without-serial-devices.sh: cannot hide $dev" >&2
    exit 1
  fi
done < <(devices)
exec "$@"
