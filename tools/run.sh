#!/usr/bin/env bash
# Builds the console and the controller simulator and launches both: the simulator (GRBL 0.9j)
# runs in the background, listed in the console's port list, until the console closes.
#   TARNWICK_NO_SIM=1 bash tools/run.sh    the console alone
# Arguments go to the console; its exit status is the script's.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/bootstrap.sh
cmake -S . -B build -G Ninja -DTARNWICK_WERROR=ON

if [[ "${TARNWICK_NO_SIM:-0}" != 0 ]]; then
  cmake --build build --target tarnwick
  exec build/app/tarnwick "$@"
fi

cmake --build build --target tarnwick grblsim
build/tools/grblsim/grblsim &
sim=$!
# The simulator withdraws its port-list entry on SIGTERM; waiting makes sure it has when the
# script ends, whichever way it ends (console closed, Ctrl-C, killed).
trap 'kill -TERM "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

status=0
build/app/tarnwick "$@" || status=$?
exit "$status"
