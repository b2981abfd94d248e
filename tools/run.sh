#!/usr/bin/env bash
# Builds everything and launches the console.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/bootstrap.sh
cmake -S . -B build -G Ninja -DTARNWICK_WERROR=ON
cmake --build build

if [ -x build/app/tarnwick ]; then
  exec build/app/tarnwick "$@"
fi
echo "Built the serial component and its tests. The console window is not there yet."
