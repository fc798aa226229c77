#!/usr/bin/env bash
# Renders the program's icon (res/icons/dovrane.svg) into the fixed sizes the
# desktops' icon theme looks for (res/icons/hicolor/NxN/apps/dovrane.png).
# The pictures are kept in the sources; run this after changing the icon.
# Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 16 22 24 32 48 64 128 256; do
  dir=res/icons/hicolor/${size}x${size}/apps
  mkdir -p "$dir"
  rsvg-convert -w "$size" -h "$size" res/icons/dovrane.svg -o "$dir/dovrane.png"
done
