#!/usr/bin/env bash
# One real drag under a real X server: opens dovrane (no arguments) on a
# sample installation with one project on SRV1, presses the mouse on that
# project in the project tree, moves onto the host SRV2 in the host tree,
# releases, answers the question with Enter, closes the window and checks
# that the administration and the folders show the project on SRV2.
#   xvfb_drag.sh DOVRANE MKINSTALL
# On a bare X server or in a desktop session (DOVRANE_X_SESSION, see
# xvfb_common.sh); exit status 77 (skipped) when a tool it needs is missing.
set -euo pipefail
dovrane=$(realpath "$1") mkinstall=$(realpath "$2")

. "$(dirname "$0")/xvfb_common.sh"
require_x_tools

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
eval "$("$mkinstall" "$work/inst" --hosts 2 --projects 0)"
# The program's own trace file lands in the folder it starts in.
mkdir -p "$work/run"
cd "$work/run"
"$dovrane" "Dragged project" -create SRV1 >/dev/null
# No ping: no host goes "not answering" while the drag waits.
set_user_setting PingIsAllowed 0

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
# The trees are filled when the screenshot is there.
for _ in $(seq 100); do [ -s "$screenshot" ] && break; sleep 0.1; done
eval "$(xdotool getwindowgeometry --shell "$wid")"
# Window coordinates: both trees start 100 pixels below the tab control's top
# (the menu bar's 20 and the margin's 7 above it); rows are 18 pixels high.
# The host tree holds SRV1 and SRV2, the project tree the one project of SRV1.
top=$((20 + 7 + 100))
xdotool mousemove --window "$wid" 290 $((top + 8)) mousedown 1
for step in 1 2 3 4 5 6 7 8; do
  xdotool mousemove --window "$wid" $((290 - step * 26)) $((top + 8 + step * 2))
  sleep 0.05
done
xdotool mousemove --window "$wid" 76 $((top + 28))
sleep 0.3
xdotool mousemove --window "$wid" 78 $((top + 27))
sleep 0.3
xdotool mouseup 1
# The question: Yes is its default button.
box=""
for _ in $(seq 100); do
  box=$(xdotool search --onlyvisible --name "Varnholtek Dovranix" | grep -vx "$wid" | head -n 1 || true)
  [ -n "$box" ] && break
  sleep 0.1
done
[ -n "$box" ] || { echo "FAIL: the drop asked nothing"; kill "$pid"; exit 1; }
# Found as soon as it is mapped, it may refuse the focus (BadMatch) for a moment too.
for _ in $(seq 50); do xdotool windowfocus --sync "$box" 2>/dev/null && break; sleep 0.1; done
xdotool key Return
# The move runs on a worker; then the close button (bottom right).
sleep 2
# A window just mapped may refuse the focus (BadMatch) for a moment.
for _ in $(seq 50); do xdotool windowfocus --sync "$wid" 2>/dev/null && break; sleep 0.1; done
xdotool mousemove --window "$wid" $((WIDTH - 52)) $((HEIGHT - 50)) click 1
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: the close button did not close the window"; kill "$pid"; exit 1; fi
wait "$pid"
DRIVE

status=0
run_x "$work/drive.sh" "$dovrane" "$work/shot.png" "$work/log" || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: exit status $status"
  cat "$work/log"
  find "$work" -name STDERR.OUT -exec cat {} +
  exit 1
fi
path=$("$dovrane" "Dragged project" -getpath 2>/dev/null || true)
case "$path" in
  *SRV2*) echo "PASS: the dragged project lies on SRV2 ($path)" ;;
  *) echo "FAIL: the project was not moved: $path"; grep -a "Dragged" "$DOVRANE_UNC_ROOT/SRV1/cad/Net/project.dat" || true; exit 1 ;;
esac
