#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and benchmarking need.
# Quick when everything is present: apt-get runs only for what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config       # toolchain
  qt6-base-dev libgl-dev                 # Qt 6 Widgets (its CMake package wants the GL headers)
  libgtest-dev libgmock-dev              # unit tests
  clang libclang-rt-14-dev               # fuzz targets (libFuzzer) and sanitizer runtimes
  qt6-serialport-dev                     # benchmark only: the port round trip against Qt's port
  fonts-liberation                       # metric-compatible faces for the window's fonts
  librsvg2-bin                           # renders the application icon's PNG sizes from its SVG
  desktop-file-utils appstream           # validate the installed menu entry and metadata
  dpkg-dev                               # dpkg-shlibdeps: the .deb's run-time dependencies
  locales                                # the German locale the suite also runs in
)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The suite runs a second time under a German locale (decimal comma, German system messages).
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "bootstrap: generating the locale de_DE.UTF-8"
  if grep -q '^# *de_DE\.UTF-8 UTF-8' /etc/locale.gen; then
    $sudo sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  $sudo locale-gen
fi
