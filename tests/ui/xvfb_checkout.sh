#!/usr/bin/env bash
# A host check-out from the main window under a real X server: opens dovrane
# on a sample installation whose laptop host WS01 is this computer (selected at
# the start), presses "Check Out", answers the questions with Enter, types a
# comment, confirms the office standard, waits for the check-out to finish
# and checks what it left behind, then presses the same button to check the
# host back in and checks that the marks are gone and the report was kept.
#   xvfb_checkout.sh DOVRANE MKINSTALL SCREENSHOT
# On a bare X server or in a desktop session (DOVRANE_X_SESSION, see
# xvfb_common.sh); exit status 77 (skipped) when a tool it needs is missing.
set -euo pipefail
dovrane=$1 mkinstall=$2 screenshot=$3

. "$(dirname "$0")/xvfb_common.sh"
require_x_tools

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
eval "$("$mkinstall" "$work/inst" --hosts 2 --projects 8 --laptop)"
# No pinging of the made-up hosts (WS01 would not answer and could not be
# checked out). The user settings may hold [Settings] already: a second table
# of that name would make the whole file unreadable.
set_user_setting PingIsAllowed 0
rm -f "$screenshot"

cat >"$work/drive.sh" <<'DRIVE'
set -euo pipefail
dovrane=$1 screenshot=$2 log=$3 net=$4
unset QT_QPA_PLATFORM  # the test suite's offscreen choice; here the X server is real
DOVRANE_SCREENSHOT="$screenshot" "$dovrane" >"$log" 2>&1 &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name "Varnholtek Dovranix" | head -n 1)
[ -n "$wid" ] || { echo "FAIL: the window did not appear"; kill "$pid"; exit 1; }
# A window just mapped may refuse the focus (BadMatch) for a moment.
for _ in $(seq 50); do xdotool windowfocus --sync "$wid" 2>/dev/null && break; sleep 0.1; done
for _ in $(seq 100); do [ -s "$screenshot" ] && break; sleep 0.1; done
eval "$(xdotool getwindowgeometry --shell "$wid")"
main_width=$WIDTH main_height=$HEIGHT
# A window of the program other than the main one (a question, a dialog, the
# progress window); a tooltip (no name) is none.
other_window() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$pid" --name "" 2>/dev/null || true); do
    [ "$w" != "$wid" ] && [ -n "$(xdotool getwindowname "$w" 2>/dev/null || true)" ] && return 0
  done
  return 1
}
# "Check Out": left of the close button, above the status bar. It is enabled
# once the hosts' checks are in: pressed again until its question shows.
for _ in $(seq 60); do
  xdotool mousemove --window "$wid" $((main_width - 148)) $((main_height - 50)) click 1
  for _ in $(seq 10); do other_window && break 2; sleep 0.1; done
done
other_window || { echo "FAIL: the Check Out button asked nothing"; kill "$pid"; exit 1; }
# Every window the program opens on top is answered: the boxes with Enter
# (Yes), the comment dialog (500 x 260) with a comment, Tab to OK and Enter,
# the office standard with Enter until its sizes are measured. The progress
# window (titled with a path) is left alone.
comment_done=0
answer_top() {
  local top="" w name
  for w in $(xdotool search --onlyvisible --pid "$pid" --name "" 2>/dev/null || true); do
    [ "$w" = "$wid" ] && continue
    name=$(xdotool getwindowname "$w" 2>/dev/null || true)
    case "$name" in "\\"*|"") continue ;; esac
    top=$w
  done
  [ -n "$top" ] || return 1
  xdotool windowfocus --sync "$top" 2>/dev/null || true
  eval "$(xdotool getwindowgeometry --shell "$top")"
  if [ "$WIDTH" = 500 ] && [ "$HEIGHT" = 260 ] && [ "$comment_done" = 0 ]; then
    xdotool type --delay 20 "Xvfb"
    xdotool key Tab Return
    comment_done=1
  else
    xdotool key Return
  fi
}
for _ in $(seq 600); do
  grep -q '^CheckedOutPath' "$DOVRANE_HKLM" && break
  answer_top || true
  sleep 0.2
done
grep -q '^CheckedOutPath' "$DOVRANE_HKLM" || { echo "FAIL: the check-out did not finish"; kill "$pid"; exit 1; }
[ "$comment_done" = 1 ] || { echo "FAIL: no comment dialog"; kill "$pid"; exit 1; }
grep -q 'Xvfb' "$net/WS01.out" || { echo "FAIL: the comment is not in WS01.out"; kill "$pid"; exit 1; }
# The check-out's own end (progress window, refill) before the same button
# checks the host back in; its boxes, the report last, get Enter.
for _ in $(seq 100); do answer_top || break; sleep 0.2; done
# A window just mapped may refuse the focus (BadMatch) for a moment.
for _ in $(seq 50); do xdotool windowfocus --sync "$wid" 2>/dev/null && break; sleep 0.1; done
# The button is enabled again once the refill after the check-out has checked
# the hosts: pressed until the check-in asks.
for _ in $(seq 60); do
  xdotool mousemove --window "$wid" $((main_width - 148)) $((main_height - 50)) click 1
  for _ in $(seq 10); do other_window && break 2; sleep 0.1; done
done
for _ in $(seq 600); do
  grep -q '^CheckedOutPath\|^CheckingInPath' "$DOVRANE_HKLM" || [ -e "$net/WS01.out" ] || break
  answer_top || true
  sleep 0.2
done
for _ in $(seq 50); do answer_top || break; sleep 0.2; done
if grep -q '^CheckedOutPath\|^CheckingInPath' "$DOVRANE_HKLM" || [ -e "$net/WS01.out" ]; then
  echo "FAIL: the check-in did not finish"
  for w in $(xdotool search --onlyvisible --pid "$pid" --name "" 2>/dev/null || true); do
    echo "  window $w: $(xdotool getwindowname "$w" 2>/dev/null)"
  done
  grep 'Checked\|Checking' "$DOVRANE_HKLM" || true
  ls "$net"
  kill "$pid"; exit 1
fi
ls "$net" | grep -q '^WS01-checkin-.*\.txt$' || { echo "FAIL: no check-in report in $net"; kill "$pid"; exit 1; }
# The check-in's report may come a moment after its end: whatever is still
# open is answered, and the close button pressed until the program ends.
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  if ! answer_top; then
    xdotool windowfocus --sync "$wid" 2>/dev/null || true
    xdotool mousemove --window "$wid" $((main_width - 52)) $((main_height - 50)) click 1 2>/dev/null || true
  fi
  for _ in $(seq 10); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: the close button did not close the window"; kill "$pid"; exit 1; fi
wait "$pid"
DRIVE

net=$(find "$work/inst" -type d -path '*/SRV1/cad/Net' | head -n 1)
status=0
run_x "$work/drive.sh" "$dovrane" "$screenshot" "$work/log" "$net" || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: exit status $status"
  cat "$work/log"
  find "$work" -name STDERR.OUT -exec cat {} +
  exit 1
fi
[ -s "$screenshot" ] || { echo "FAIL: no screenshot in $screenshot"; exit 1; }
echo "PASS: host WS01 checked out and back in from the window; screenshot $screenshot"
