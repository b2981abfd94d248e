#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks its file list and its
# dependencies: run-time packages only, nothing of the tool chain.
# usage: deb_package.sh BUILD_DIR HAS_TARNWICK(0|1) HAS_GRBLSIM(0|1)
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 has_tarnwick=$2 has_grblsim=$3

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
  fail "cpack failed:
$(cat "$out/cpack.log")"
debs=("$out"/*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $out"
deb=${debs[0]}

want=$(expected_files "$has_tarnwick" "$has_grblsim" | sed 's|^|./usr/|' | sort)
have=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[ "$want" = "$have" ] || fail "package files differ from the expected layout:
$(diff <(echo "$want") <(echo "$have"))"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Package names alone, one a line (versions and alternatives dropped).
names=$(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g' | sed '/^$/d')
need=(qt6-qpa-plugins fonts-liberation)
# Read from the console's binary, so only there when it is in the package. (Qt Gui comes in
# through Widgets; whether it is also named depends on what the linker recorded.)
[ "$has_tarnwick" = 1 ] && need+=(libqt6widgets6 libqt6core6 libstdc++6 libc6)
for n in "${need[@]}"; do
  grep -qx "$n" <<<"$names" || fail "Depends does not name $n"
done
bad=$(grep -E -e '-dev$' -e '^(gcc|g\+\+|cpp|clang|llvm|cmake|ninja-build|make|pkg-config|dpkg-dev|build-essential)(-[0-9.]+)?$' \
        -e '^lib(gtest|gmock)' <<<"$names" || true)
[ -z "$bad" ] || fail "Depends names build-time packages: $bad"
echo "package ok: $(basename "$deb")"
