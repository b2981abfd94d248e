#!/usr/bin/env bash
# Renders the console window offscreen to PNG files at 96 and 120 DPI, disconnected and
# connected (a pseudo-terminal plays the controller for a moment), and a small job running,
# paused, held at an error and ended.
#   tools/render-window.sh [out dir]     default: build/window-pictures
# The README's picture is docs/window-96dpi.png: copy window-96dpi.png from the output there.
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-build/window-pictures}"
cmake -S . -B build -G Ninja -DTARNWICK_WERROR=ON > /dev/null
cmake --build build --target tarnwick_render
mkdir -p "$out"
for dpi in 96 120; do
  QT_QPA_PLATFORM=offscreen QT_FONT_DPI=$dpi build/app/tarnwick_render "$out/window-${dpi}dpi.png"
  for state in connected running paused error ended; do
    QT_QPA_PLATFORM=offscreen QT_FONT_DPI=$dpi build/app/tarnwick_render "$out/window-${dpi}dpi-${state}.png" $state
  done
done
ls -1 "$out"/*.png
