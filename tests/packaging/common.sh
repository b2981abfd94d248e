# Shared by the packaging checks: the names every installed file is derived from, and the
# relative paths that must be installed for a build tree.
app_id=io.github.tarnwick.tarnwick

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expected_files HAS_TARNWICK HAS_GRBLSIM: one path per line, relative to the prefix.
expected_files() {
  [ "$1" = 1 ] && echo "bin/tarnwick"
  [ "$2" = 1 ] && echo "bin/grblsim"
  echo "share/applications/$app_id.desktop"
  echo "share/metainfo/$app_id.metainfo.xml"
  echo "share/icons/hicolor/scalable/apps/$app_id.svg"
  for size in 48 128 256; do
    echo "share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  done
}
