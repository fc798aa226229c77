#!/usr/bin/env bash
# The main window under a real X server: opens dovrane (no arguments) on a
# sample installation, types into the search edit, clicks the close button,
# and checks the exit status, the saved switches and the screenshot.
#   xvfb_end_to_end.sh DOVRANE MKINSTALL SCREENSHOT
# On a bare X server or in a desktop session (DOVRANE_X_SESSION, see
# xvfb_common.sh); exit status 77 (skipped) when a tool it needs is missing.
set -euo pipefail
dovrane=$1 mkinstall=$2 screenshot=$3

. "$(dirname "$0")/xvfb_common.sh"
require_x_tools

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
eval "$("$mkinstall" "$work/inst" --hosts 2 --projects 6)"
# A stored switch the window must read at the start and write back at the end.
set_user_setting RefreshIsAllowed 0
rm -f "$screenshot"

cat >"$work/drive.sh" <<'DRIVE'
set -euo pipefail
dovrane=$1 screenshot=$2 log=$3
unset QT_QPA_PLATFORM  # the test suite's offscreen choice; here the X server is real
DOVRANE_SCREENSHOT="$screenshot" "$dovrane" >"$log" 2>&1 &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name "Varnholtek Dovranix" | head -n 1)
[ -n "$wid" ] || { echo "FAIL: the window did not appear"; kill "$pid"; exit 1; }
# A window just mapped may refuse the focus (BadMatch) for a moment.
for _ in $(seq 50); do xdotool windowfocus --sync "$wid" 2>/dev/null && break; sleep 0.1; done
# The screenshot is taken after the first fill, half a second after showing.
for _ in $(seq 100); do [ -s "$screenshot" ] && break; sleep 0.1; done
eval "$(xdotool getwindowgeometry --shell "$wid")"
# The search edit lies below the menu bar and the tab strip, left.
xdotool mousemove --window "$wid" 60 82 click 1
xdotool type --delay 20 "n000"
# The close button: bottom right, above the status bar.
xdotool mousemove --window "$wid" $((WIDTH - 52)) $((HEIGHT - 50)) click 1
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: the close button did not close the window"; kill "$pid"; exit 1; fi
wait "$pid"
DRIVE

status=0
run_x "$work/drive.sh" "$dovrane" "$screenshot" "$work/log" || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: exit status $status"
  cat "$work/log"
  # The program's own trace file (its standard error goes there), where
  # sanitizer reports land.
  find "$work" -name STDERR.OUT -exec cat {} +
  exit 1
fi
grep -q '^PingIsAllowed = 1' "$DOVRANE_HKCU" || { echo "FAIL: PingIsAllowed not saved"; cat "$DOVRANE_HKCU"; exit 1; }
grep -q '^RefreshIsAllowed = 0' "$DOVRANE_HKCU" || { echo "FAIL: RefreshIsAllowed not kept"; cat "$DOVRANE_HKCU"; exit 1; }
grep -q 'wp.left' "$DOVRANE_HKCU" || { echo "FAIL: no window placement saved"; cat "$DOVRANE_HKCU"; exit 1; }
[ -s "$screenshot" ] || { echo "FAIL: no screenshot in $screenshot"; exit 1; }
echo "PASS: window opened, typed into, closed with status 0; screenshot $screenshot"
