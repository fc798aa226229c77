#!/usr/bin/env bash
# Installs what is missing, builds dovrane, makes a demo installation and runs
# a few command-line operations on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" >/dev/null
cmake --build build -j "$(nproc)" --target dovrane dovrane_res $( [ -f app/mkinstall_main.cpp ] && echo dovrane-mkinstall )

demo=${DEMO_DIR:-/tmp/dovrane-demo}
rm -rf "$demo"
eval "$(build/dovrane-mkinstall "$demo" --hosts 3 --projects 40)"
cd "$demo"
run() { echo "\$ dovrane $*"; local rc=0; "$OLDPWD/build/dovrane" "$@" || rc=$?; echo "exit status: $rc"; echo; }
first=$("$OLDPWD/build/dovrane-mkinstall" --list-projects "$demo" | head -n 1)
run -update
run "$first" -info
run "$first" -getnumber
run "$first" -getpath
run "Demo project" -create SRV2
run "Demo project" -move_y SRV3
run "Demo project" -info
run "Demo project" -erase_y
run "No such project" -exist
echo "The demo installation stays in $demo; point dovrane at it with:"
"$OLDPWD/build/dovrane-mkinstall" --env "$demo"
echo
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # With a display: the main window on the demo installation (no arguments).
  echo "\$ dovrane    (the main window; close it to end the demo)"
  "$OLDPWD/build/dovrane" || echo "exit status: $?"
else
  # Without one: pictures of the main window, drawn offscreen.
  QT_QPA_PLATFORM=offscreen DOVRANE_SCREENSHOT="$demo/main-window.png" DOVRANE_SCREENSHOT_CLOSE=1 \
    timeout 60 "$OLDPWD/build/dovrane" || true
  if [ -s "$demo/main-window.png" ]; then
    echo "No display: a picture of the main window is in $demo/main-window.png"
  else
    echo "No display, and no picture of the main window could be taken."
  fi
fi
