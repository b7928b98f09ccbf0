#!/usr/bin/env bash
# Builds the program and starts it with the simulated device on COM1.
# Closing the program ends the simulator.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
build_into "$TOP/build"

state="${XDG_RUNTIME_DIR:-/tmp}/trellikon-$$"
mkdir -p "$state"
memory="$TOP/build/simulated-device.sbn"
[ -f "$memory" ] || "$TOP/build/tools/trellikon-cli" demo "$memory" >/dev/null

# The simulator prints its pseudo-terminal on its first line.
coproc SIM { exec "$TOP/build/tools/trellikon-sim" --memory "$memory" --link "$state/COM1" </dev/null; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$state"' EXIT
read -r pty <&"${SIM[0]}"
echo "Simulated device on $pty (COM1)" >&2

TRELLIKON_COM1="$pty" "$TOP/build/app/trellikon" "$@"
