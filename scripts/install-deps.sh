#!/usr/bin/env bash
# Installs the Debian packages dovrane needs to build, test and run.
# Idempotent: does nothing when everything is already there.
#   scripts/install-deps.sh          build, tests, demo
#   scripts/install-deps.sh --fuzz   the same and clang's libFuzzer (fuzz/run.sh)
set -euo pipefail

packages=(
  cmake ninja-build gcc g++ pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev
  # Qt's own buttons (Yes, No, Cancel) in German.
  qt6-translations-l10n
  # The distribution's checks of the package, its desktop entry and its
  # AppStream data (appstream); rsvg-convert renders the themed icons.
  lintian desktop-file-utils appstream librsvg2-bin
  xvfb xauth xdotool
  # The window's runs as on a desktop (session bus, accessibility bus), and
  # dbus-x11, with which libdbus starts a bus for an X display that has none:
  # the runs on a bare X server must keep that one away.
  dbus-daemon dbus-bin dbus-x11 at-spi2-core
  # The acceptance run drives the window through AT-SPI from Python.
  python3 python3-pyatspi
  libsqlite3-dev libtomlplusplus-dev libsmbclient-dev
  # The share stage's test file system (tests/fuse/): FUSE 3.
  libfuse3-dev fuse3
  nlohmann-json3-dev
  samba smbclient
)
case "${1:-}" in
  --fuzz) packages+=(clang libclang-rt-dev) ;;
  "") ;;
  *) echo "usage: $0 [--fuzz]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
