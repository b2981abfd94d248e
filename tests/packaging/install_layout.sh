#!/usr/bin/env bash
# Installs the build tree into a scratch root, as a package would (prefix /usr), and checks
# the layout, the icon sizes and that the desktop entry and metadata validate as installed.
# usage: install_layout.sh BUILD_DIR HAS_TARNWICK(0|1) HAS_GRBLSIM(0|1)
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 has_tarnwick=$2 has_grblsim=$3

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root "${CMAKE:-cmake}" --install "$build" --prefix /usr >/dev/null
usr=$root/usr

# Exactly these files, nothing else: no test, benchmark or fuzz program slips in.
want=$(expected_files "$has_tarnwick" "$has_grblsim" | sort)
have=$(cd "$usr" && find . -type f -printf '%P\n' | sort)
[ "$want" = "$have" ] || fail "installed files differ from the expected layout:
$(diff <(echo "$want") <(echo "$have"))"

# Each rendered icon is a PNG of its directory's size (width and height from the IHDR chunk).
for size in 48 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  read -r -a b <<<"$(od -An -tu1 -N24 "$png" | tr -s ' \n' '  ')"
  [ "${b[*]:0:8}" = "137 80 78 71 13 10 26 10" ] || fail "$png is not a PNG"
  w=$(( (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19] ))
  h=$(( (b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23] ))
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$png is ${w}x$h, not ${size}x$size"
done

desktop=$usr/share/applications/$app_id.desktop
grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry does not name the installed icon"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
# The tree check validates the metadata and that the desktop entry it launches is installed.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli rejects the installed metadata"
echo "install layout ok: $(echo "$have" | wc -l) files"
