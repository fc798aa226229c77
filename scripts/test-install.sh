#!/usr/bin/env bash
# Installs the built program into a temporary root (DESTDIR) and runs it from
# there: --version and one query on a sample installation. Then builds the
# .deb, checks that it depends on the libraries the program links, installs
# it with dpkg into a clean root of its own and runs it from there: --version,
# a query, the manual page and the main window under Xvfb (skipped without
# xvfb-run).
# Usage: test-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/dovrane-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the program installed below $1 (a root): --version, --list and one
# query on a sample installation made by that root's dovrane-mkinstall.
run_installed() {
  local top=$1 bin=$1/usr/bin inst=$root/inst-$2
  [ -e "$top/usr/share/man/man1/dovrane.1.gz" ] || fail "not installed: /usr/share/man/man1/dovrane.1.gz"
  "$bin/dovrane" --version | grep -q '^dovrane ' || fail "--version failed ($2)"
  # The installed program finds its resources beside it, not in the sources.
  ( eval "$("$bin/dovrane-mkinstall" "$inst" --hosts 1 --projects 3)"
    unset DOVRANE_RES_DIR
    cd "$inst"
    [ "$("$bin/dovrane" --list | wc -l)" -eq 3 ] || fail "--list did not list 3 projects ($2)"
    name=$("$bin/dovrane" --list | head -1 | cut -f1)
    "$bin/dovrane" "$name" -exist || fail "-exist of <$name> failed ($2)"
    if "$bin/dovrane" Nobody -info 2>/dev/null; then fail "-info of a missing project succeeded ($2)"; fi )
}

DESTDIR="$root/dest" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/dovrane usr/share/dovrane/res/lang usr/share/man/man1/dovrane.1.gz usr/share/man/man1/dovrane-mkinstall.1.gz \
         usr/share/bash-completion/completions/dovrane usr/share/applications/dovrane.desktop \
         usr/share/metainfo/com.varnholtek.dovrane.metainfo.xml usr/share/icons/hicolor/scalable/apps/dovrane.svg \
         usr/share/doc/dovrane/copyright usr/share/doc/dovrane/changelog.gz; do
  [ -e "$root/dest/$f" ] || fail "not installed: /$f"
done
# The icon in every fixed size of the icon theme, each picture of its size.
for size in 16 22 24 32 48 64 128 256; do
  png=$root/dest/usr/share/icons/hicolor/${size}x${size}/apps/dovrane.png
  [ -s "$png" ] || fail "no ${size}x${size} icon"
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dims"
done
# The resources hold no desktop files: those are where the desktop looks.
[ ! -e "$root/dest/usr/share/dovrane/res/icons/hicolor" ] || fail "themed icons among the resources"
run_installed "$root/dest" destdir

# The manual page as man shows it.
if command -v man >/dev/null; then
  page=$(MANPATH="$root/dest/usr/share/man" MANWIDTH=80 man dovrane 2>/dev/null | col -b) || true
  grep -q 'dovrane' <<<"$page" && grep -q 'SYNOPSIS' <<<"$page" || fail "man dovrane shows no manual page"
fi

command -v dpkg-shlibdeps >/dev/null || { echo "installed and ran from $root/dest (no dpkg-shlibdeps: no .deb)"; exit 0; }

# The package: its dependencies are the Debian packages of the linked libraries.
(cd "$root" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$root/pkg" >/dev/null)
deb=$(ls "$root"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
wanted=()
objdump -p "$root/dest/usr/bin/dovrane" $(ls "$root"/dest/usr/lib*/dovrane/dovrane-window 2>/dev/null) >"$root/needed"
# The command-line program carries its own C++ runtime; the window's links the shared one.
grep -q 'NEEDED.*libstdc++' "$root/needed" && wanted+=(libstdc++6)
# SQLite is linked from its static archive where Debian ships one.
grep -q 'NEEDED.*libsqlite3' "$root/needed" && wanted+=(libsqlite3)
grep -q 'NEEDED.*libQt6Widgets' "$root/needed" && wanted+=(libqt6widgets6)
wanted+=(libsmbclient)  # loaded when the network is browsed
for lib in "${wanted[@]}"; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
if grep -q 'NEEDED.*libQt6Widgets' "$root/needed"; then
  # Qt's own buttons in German come from Qt's translations.
  [[ "$(dpkg-deb -f "$deb" Recommends)" == *qt6-translations-l10n* ]] || fail "Recommends lacks qt6-translations-l10n"
fi
dpkg-deb -c "$deb" >"$root/contents"
grep -q './usr/bin/dovrane$' "$root/contents" || fail "the package holds no program"
if grep -q 'NEEDED.*libQt6Widgets' "$root/needed"; then
  grep -q '/dovrane/dovrane-window$' "$root/contents" || fail "the package holds no window program"
fi

# dpkg installs the package into a root of its own, with a database of its
# own (the libraries it depends on are the running system's).
clean=$root/clean
mkdir -p "$clean/var/lib/dpkg/info" "$clean/var/lib/dpkg/updates"
touch "$clean/var/lib/dpkg/status"
dpkg --root="$clean" --force-depends --force-script-chrootless -i "$deb" >"$root/dpkg.log" 2>&1 ||
  { cat "$root/dpkg.log" >&2; fail "dpkg could not install the package"; }
dpkg --root="$clean" -s dovrane | grep -q '^Status: install ok installed' || fail "dpkg does not list the package as installed"
run_installed "$clean" package

# The window of the installed package: the program hands the run over to its
# window program beside it, which takes a picture of itself once filled.
if grep -q '/dovrane/dovrane-window$' "$root/contents"; then
  if command -v xvfb-run >/dev/null; then
    ( eval "$("$clean/usr/bin/dovrane-mkinstall" "$root/inst-window" --hosts 2 --projects 4)"
      unset DOVRANE_RES_DIR QT_QPA_PLATFORM
      cd "$root/inst-window"
      DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/dovrane-no-bus" DOVRANE_SCREENSHOT="$root/window.png" \
        DOVRANE_SCREENSHOT_CLOSE=1 timeout 60 xvfb-run -a -s "-screen 0 1280x1024x24" "$clean/usr/bin/dovrane" \
        >"$root/window.log" 2>&1 || { cat "$root/window.log" >&2; fail "the installed window did not run"; } )
    [ -s "$root/window.png" ] || fail "the installed window took no picture of itself"
  else
    echo "note: no xvfb-run; the installed window was not opened"
  fi
fi
echo "installed and ran from $root/dest and from the package in $clean"
