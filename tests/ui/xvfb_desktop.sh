#!/usr/bin/env bash
# The desktop session of the real-X runs (xvfb_common.sh, run_x), inside the
# X server and the session bus: turns Qt's accessibility on, runs the drive
# script and fails unless the window showed itself on the accessibility bus,
# as the run would otherwise test nothing more than the bare one.
#   xvfb_desktop.sh DRIVE ARG...
set -euo pipefail

a11y=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress) ||
  { echo "FAIL: the session bus started no accessibility bus"; exit 1; }
a11y=$(echo $a11y)
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# The applications on the accessibility bus, asked while the window runs.
seen=$(mktemp)
trap 'rm -f "$seen"' EXIT
(
  for _ in $(seq 300); do
    count=$(dbus-send --bus="$a11y" --print-reply=literal --dest=org.a11y.atspi.Registry \
      /org/a11y/atspi/accessible/root org.freedesktop.DBus.Properties.Get \
      string:org.a11y.atspi.Accessible string:ChildCount 2>/dev/null | awk '{print $NF}') || true
    if [ "${count:-0}" -gt 0 ]; then echo "$count" >"$seen"; exit 0; fi
    sleep 0.1
  done
) &
watch=$!

status=0
bash "$@" || status=$?
kill "$watch" 2>/dev/null || true
wait "$watch" 2>/dev/null || true
[ "$status" -eq 0 ] || exit "$status"
[ -s "$seen" ] || { echo "FAIL: the window never appeared on the accessibility bus"; exit 1; }
