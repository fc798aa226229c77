#!/usr/bin/env bash
# The acceptance run of the whole main window: opens dovrane (through its
# hand-over to the window program) on a sample installation under a real X
# server, in a desktop session with the accessibility bus, and drives every
# button, check box, menu, context menu, key and dialog through AT-SPI
# (tests/ui/atspi_drive.py), checking what the window shows and the files.
# Afterwards it checks the switches the window saved and its exit status.
#   xvfb_atspi.sh DOVRANE MKINSTALL
# Exit status 77 (skipped) when a tool it needs is missing. DOVRANE_ATSPI_SLOW
# stretches every wait (sanitizer builds).
set -euo pipefail
dovrane=$1 mkinstall=$2
here=$(cd "$(dirname "$0")" && pwd)

. "$here/xvfb_common.sh"
DOVRANE_X_SESSION=desktop
require_x_tools
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
  echo "SKIP: python3-pyatspi is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
eval "$("$mkinstall" "$work/inst" --hosts 2 --projects 8 --laptop)"
# Made-up host names answer no ping: pinging stays off, so every host shows
# its own kind. F1 finds a help folder without the document and says so.
set_user_setting PingIsAllowed 0
mkdir -p "$work/help"
sed -i "s|^\[InstallRoot\]\$|[InstallRoot]\nHelpPath = '$work/help'|" "$DOVRANE_HKLM"
# The projects of SRV2, which the run looks for after selecting that host.
"$mkinstall" --list-projects "$work/inst" | while IFS= read -r name; do
  if "$dovrane" "$name" -getpath 2>/dev/null | grep -q '\\SRV2\\'; then echo "$name"; fi
done >"$work/srv2-projects"
[ -s "$work/srv2-projects" ] || { echo "FAIL: the sample installation has no project on SRV2"; exit 1; }
export ATSPI_PROJECTS_SRV2="$work/srv2-projects"
# A data server without projects, which the run removes.
net=$("$dovrane" --where 2>/dev/null | awk -F'\t' 'NR == 1 {print $3}')
unc_root=${net%/SRV1/cad*}
mkdir -p "$unc_root/SRV9/cad/Prj" "$unc_root/SRV9/cad/Usr"
printf 'SRV9 \\cad\n' >>"$unc_root/SRV1/cad/Net/data.cfg"
# One that answers no ping once pinging is on (it has no projects), which the
# run removes from its menu.
mkdir -p "$unc_root/SRV7/cad/Prj" "$unc_root/SRV7/cad/Usr"
printf 'SRV7 \\cad\n' >>"$unc_root/SRV1/cad/Net/data.cfg"
# A share below the UNC root that no installation administers yet: the run
# registers it through the browse dialog, and WS05's on the second start.
mkdir -p "$unc_root/SRV8/cad/Prj" "$unc_root/SRV8/cad/Usr" "$unc_root/WS05/cad/Prj" "$unc_root/WS05/cad/Usr"

cat >"$work/drive.sh" <<'DRIVE'
set -euo pipefail
dovrane=$1 log=$2 driver=$3 run=${4:-}
unset QT_QPA_PLATFORM  # the test suite's offscreen choice; here the X server is real
"$dovrane" >"$log" 2>&1 &
pid=$!
# The window program the hand-over started (dovrane runs it as its child or in its place).
wid=$(timeout 60 xdotool search --sync --onlyvisible --name "Varnholtek Dovranix" | head -n 1)
[ -n "$wid" ] || { echo "FAIL: the window did not appear"; kill "$pid"; exit 1; }
window_pid=$(xdotool getwindowpid "$wid")
# No window manager: the keyboard goes to the window given the focus.
# A window just mapped may refuse the focus (BadMatch) for a moment.
for _ in $(seq 50); do xdotool windowfocus --sync "$wid" 2>/dev/null && break; sleep 0.1; done
status=0
/usr/bin/python3 "$driver" "$dovrane" "$window_pid" "$wid" $run || status=$?
if [ "$status" -ne 0 ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; exit "$status"; fi
# The close button was pressed last: the program ends by itself.
for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: the close button did not end the program"; kill "$pid"; exit 1; fi
wait "$pid"
DRIVE

status=0
run_x "$work/drive.sh" "$dovrane" "$work/log" "$here/atspi_drive.py" || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: exit status $status"
  cat "$work/log"
  find "$work" -name STDERR.OUT -exec cat {} +
  exit 1
fi
# A second start on a computer that is no data server yet: "Add this computer".
status=0
DOVRANE_COMPUTERNAME=WS05 run_x "$work/drive.sh" "$dovrane" "$work/log2" "$here/atspi_drive.py" second || status=$?
if [ "$status" -ne 0 ]; then
  echo "FAIL: exit status $status of the second start"
  cat "$work/log2"
  exit 1
fi
grep -q '^WS05 ' "$unc_root/SRV1/cad/Net/data.cfg" || { echo "FAIL: WS05 not in data.cfg"; exit 1; }
# Refresh switched off, ping switched on and off again: both saved at the close.
grep -q '^RefreshIsAllowed = 0' "$DOVRANE_HKCU" || { echo "FAIL: RefreshIsAllowed not saved"; cat "$DOVRANE_HKCU"; exit 1; }
grep -q '^PingIsAllowed = 0' "$DOVRANE_HKCU" || { echo "FAIL: PingIsAllowed not saved"; cat "$DOVRANE_HKCU"; exit 1; }
echo "PASS: every command of the window given through AT-SPI had its effect"
