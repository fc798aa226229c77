#!/usr/bin/env bash
# Regenerates the pictures of the main window in docs/images/ (and the help
# page's copies) from a sample installation, drawn offscreen: no display needed.
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
# The window saves a picture of itself once its trees are filled and closes.
QT_QPA_PLATFORM=offscreen DOVRANE_SCREENSHOT="$out/main-window.png" DOVRANE_SCREENSHOT_CLOSE=1 \
  timeout 60 build/dovrane
[ -s "$out/main-window.png" ] || { echo "no picture was taken" >&2; exit 1; }
if [ "$out" = "$PWD/docs/images" ]; then
  mkdir -p res/help/images
  cp "$out/main-window.png" res/help/images/main-window.png
fi
echo "pictures of the main window: $out/main-window.png"
