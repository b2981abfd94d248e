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
if [ "$dir" = build-tsan ]; then
  # The same options as the tests' CTest environment (tests/CMakeLists.txt), here also for the
  # tests added outside that helper. Why the suppressions are not races of ours: the file.
  export TSAN_OPTIONS="suppressions=$PWD/tools/tsan.supp:halt_on_error=1"
fi
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
