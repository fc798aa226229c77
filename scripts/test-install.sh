#!/usr/bin/env bash
# Installs the built program into a temporary root (DESTDIR) and runs it from
# there: --version and one query on a sample installation; then builds the
# .deb and checks that it depends on the libraries the program links.
# Usage: test-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/dovrane-install.XXXXXX")
trap 'rm -rf "$root"' EXIT

DESTDIR="$root/dest" cmake --install "$build" --prefix /usr >/dev/null
bin="$root/dest/usr/bin"
for f in usr/bin/dovrane usr/share/dovrane/res/lang usr/share/man/man1/dovrane.1 \
         usr/share/bash-completion/completions/dovrane; do
  [ -e "$root/dest/$f" ] || { echo "not installed: /$f" >&2; exit 1; }
done
"$bin/dovrane" --version | grep -q '^dovrane ' || { echo "--version failed" >&2; exit 1; }

# The installed program finds its resources beside it, not in the sources.
eval "$("$bin/dovrane-mkinstall" "$root/inst" --hosts 1 --projects 3)"
unset DOVRANE_RES_DIR
cd "$root/inst"
[ "$("$bin/dovrane" --list | wc -l)" -eq 3 ] || { echo "--list did not list 3 projects" >&2; exit 1; }
name=$("$bin/dovrane" --list | head -1 | cut -f1)
"$bin/dovrane" "$name" -exist || { echo "-exist of <$name> failed" >&2; exit 1; }
"$bin/dovrane" Nobody -info 2>/dev/null && { echo "-info of a missing project succeeded" >&2; exit 1; }

# The package: its dependencies are the Debian packages of the linked libraries.
if command -v dpkg-shlibdeps >/dev/null; then
  (cd "$root" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$root/pkg" >/dev/null)
  deb=$(ls "$root"/pkg/*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  wanted=()
  objdump -p "$bin/dovrane" $(ls "$root"/dest/usr/lib*/dovrane/dovrane-window 2>/dev/null) >"$root/needed"
  # The command-line program carries its own C++ runtime; the window's links the shared one.
  grep -q 'NEEDED.*libstdc++' "$root/needed" && wanted+=(libstdc++6)
  # SQLite is linked from its static archive where Debian ships one.
  grep -q 'NEEDED.*libsqlite3' "$root/needed" && wanted+=(libsqlite3)
  grep -q 'NEEDED.*libQt6Widgets' "$root/needed" && wanted+=(libqt6widgets6)
  wanted+=(libsmbclient)  # loaded when the network is browsed
  for lib in "${wanted[@]}"; do
    [[ $depends == *"$lib"* ]] || { echo "Depends lacks $lib: $depends" >&2; exit 1; }
  done
  dpkg-deb -c "$deb" >"$root/contents"
  grep -q './usr/bin/dovrane$' "$root/contents" || { echo "the package holds no program" >&2; exit 1; }
  if grep -q 'NEEDED.*libQt6Widgets' "$root/needed"; then
    grep -q '/dovrane/dovrane-window$' "$root/contents" || { echo "the package holds no window program" >&2; exit 1; }
  fi
fi
echo "installed and ran from $root/dest"
