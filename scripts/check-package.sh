#!/usr/bin/env bash
# The distribution's checks of what the package installs. One check a run:
#   check-package.sh lintian BUILD_DIR   the .deb: no error; every warning
#                                        is explained in docs/packaging.md
#   check-package.sh desktop             desktop-file-validate on the entry
#   check-package.sh appstream           appstreamcli validate on the metainfo
# Exit status 77 (skipped) when the check's tool is not installed
# (scripts/install-deps.sh installs them).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
need() { command -v "$1" >/dev/null || { echo "SKIP: $1 is not installed"; exit 77; }; }

case "${1:-}" in
  desktop)
    need desktop-file-validate
    # Hints too: the validator prints nothing for a clean entry.
    out=$(desktop-file-validate "$src/res/dovrane.desktop" 2>&1) || { echo "$out"; exit 1; }
    [ -z "$out" ] || { echo "$out"; exit 1; }
    ;;
  appstream)
    need appstreamcli
    # --no-net: the check must not depend on reaching the addresses it names.
    appstreamcli validate --no-net --pedantic "$src/res/com.varnholtek.dovrane.metainfo.xml"
    ;;
  lintian)
    need lintian
    need dpkg-shlibdeps
    build=$(cd "$2" && pwd)
    work=$(mktemp -d "${TMPDIR:-/tmp}/dovrane-lintian.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null)
    deb=$(ls "$work"/pkg/*.deb)
    # Run as root here: lintian only warns about that.
    lintian --allow-root --tag-display-limit 0 "$deb" >"$work/report" 2>&1 || true
    cat "$work/report"
    if grep -q '^E: ' "$work/report"; then
      echo "FAIL: lintian reports errors"
      exit 1
    fi
    # Each warning tag left is one the packaging notes explain.
    missing=0
    for tag in $(sed -n 's/^W: [^ ]*: \([a-z0-9-]*\).*/\1/p' "$work/report" | sort -u); do
      if ! grep -q "\`$tag\`" "$src/docs/packaging.md"; then
        echo "FAIL: lintian warning $tag is not explained in docs/packaging.md"
        missing=1
      fi
    done
    exit $missing
    ;;
  *)
    echo "usage: $0 lintian BUILD_DIR | desktop | appstream" >&2
    exit 2
    ;;
esac
