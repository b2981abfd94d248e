#!/usr/bin/env bash
# Builds the Debian package: an optimised build without tests or benchmarks in build-release/,
# packed by CPack into build-release/tarnwick_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/bootstrap.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DTARNWICK_BENCH=OFF
cmake --build build-release
# One package in the directory, so that the README's install command names exactly one.
rm -f build-release/tarnwick_*.deb
(cd build-release && cpack -G DEB)
ls build-release/tarnwick_*.deb
