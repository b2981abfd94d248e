#!/usr/bin/env bash
# Builds and runs every test.
#   tools/test.sh          normal build in build/
#   tools/test.sh --asan   address + undefined-behaviour sanitizers, in build-asan/
#   tools/test.sh --tsan   thread sanitizer, in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/bootstrap.sh

dir=build
flags=(-DTARNWICK_WERROR=ON)
case "${1:-}" in
  --asan) dir=build-asan; flags+=(-DTARNWICK_SANITIZE=ON -DTARNWICK_BENCH=OFF) ;;
  --tsan) dir=build-tsan; flags+=(-DTARNWICK_TSAN=ON -DTARNWICK_BENCH=OFF) ;;
  "") ;;
  *) echo "usage: $0 [--asan|--tsan]" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
