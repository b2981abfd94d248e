#!/usr/bin/env bash
# Builds the console and launches it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/bootstrap.sh
cmake -S . -B build -G Ninja -DTARNWICK_WERROR=ON
cmake --build build --target tarnwick
exec build/app/tarnwick "$@"
