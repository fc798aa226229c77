#!/usr/bin/env bash
# Regenerates the pictures of the main window in docs/images/ (and the help
# pages' copies) from a sample installation, drawn offscreen: no display needed.
#   main-window.png      English
#   main-window-de.png   German
#   main-window-2x.png   English on a screen of twice the pixel density
#   scripts/screenshots.sh [OUTPUT_DIR]   default: docs/images
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/images}
[ -x build/dovrane ] && [ -x build/dovrane-mkinstall ] || {
  echo "build first: cmake -S . -B build -G Ninja && cmake --build build" >&2
  exit 1
}
mkdir -p "$out"
out=$(cd "$out" && pwd)  # the program works in its own folder
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
eval "$(build/dovrane-mkinstall "$work/inst" --hosts 3 --projects 40 --seed 7)"
user_settings=$DOVRANE_HKCU
[ -f "$user_settings" ] && cp "$user_settings" "$work/user.toml" || : >"$work/user.toml"

# picture FILE LCID [SCALE]: the window in that language saves a picture of
# itself once its trees are filled, and closes.
picture() {
  local file=$1 lcid=$2 scale=${3:-1}
  cp "$work/user.toml" "$user_settings"
  if grep -q '^\[Settings\]' "$user_settings"; then
    sed -i "s/^\[Settings\]\$/[Settings]\nInstalledLanguageLCID = $lcid/" "$user_settings"
  else
    printf '\n[Settings]\nInstalledLanguageLCID = %s\n' "$lcid" >>"$user_settings"
  fi
  rm -f "$out/$file"
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale DOVRANE_SCREENSHOT="$out/$file" DOVRANE_SCREENSHOT_CLOSE=1 \
    timeout 60 build/dovrane
  [ -s "$out/$file" ] || { echo "no picture was taken: $file" >&2; exit 1; }
  echo "picture of the main window: $out/$file"
}
picture main-window.png 1033
picture main-window-de.png 1031
picture main-window-2x.png 1033 2

if [ "$out" = "$PWD/docs/images" ]; then
  mkdir -p res/help/images
  cp "$out/main-window.png" "$out/main-window-de.png" res/help/images/
fi
