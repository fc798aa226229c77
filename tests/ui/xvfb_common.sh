# Shared by the real-X runs (sourced by them).

# Each run is made in one of two sessions, named by DOVRANE_X_SESSION:
#   bare     (the default) an X server alone: no session bus, so Qt starts no
#            accessibility; one that dbus-x11 would start for the display is
#            kept away by a bus address that leads nowhere.
#   desktop  as on a desktop: a session bus, the accessibility bus
#            (at-spi2-core) and Qt's accessibility on, whose D-Bus thread then
#            runs beside the window's own.

# Without a language setting the locale chooses the window's language: English
# here, whatever the tester's, as the drivers look for English names.
export LANG=C.UTF-8
unset LC_ALL LC_MESSAGES LANGUAGE

# Skips the run (status 77) when a tool the session needs is missing.
require_x_tools() {
  local tool tools=(xvfb-run xdotool)
  [ "${DOVRANE_X_SESSION:-bare}" = desktop ] && tools+=(dbus-run-session dbus-send)
  for tool in "${tools[@]}"; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
      exit 77
    fi
  done
  if [ "${DOVRANE_X_SESSION:-bare}" = desktop ] && [ ! -e /usr/share/dbus-1/services/org.a11y.Bus.service ]; then
    echo "SKIP: no accessibility bus (at-spi2-core; scripts/install-deps.sh installs it)"
    exit 77
  fi
}

# run_x DRIVE ARG...: runs the script DRIVE with its arguments under a new X
# server (1280x1024) in the chosen session; its exit status is the run's.
# xvfb-run does not wait for the server it ends, and a server may start
# without ever answering: a run whose server does not answer is started again
# on another one, up to three times, with the server's own messages shown.
run_x() {
  local here x_err status attempt
  here=$(dirname "${BASH_SOURCE[0]}")
  x_err=$(mktemp)
  for attempt in 1 2 3; do
    : >"$x_err"
    local x=(xvfb-run -a -e "$x_err" -s "-screen 0 1280x1024x24" bash "$here/xvfb_ready.sh")
    status=0
    case "${DOVRANE_X_SESSION:-bare}" in
      bare)
        DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/dovrane-no-bus" \
          env -u AT_SPI_BUS_ADDRESS -u QT_LINUX_ACCESSIBILITY_ALWAYS_ON -u QT_ACCESSIBILITY \
          "${x[@]}" bash "$@" || status=$? ;;
      desktop)
        "${x[@]}" dbus-run-session -- bash "$here/xvfb_desktop.sh" "$@" || status=$? ;;
      *) echo "FAIL: DOVRANE_X_SESSION=$DOVRANE_X_SESSION (bare or desktop)"; rm -f "$x_err"; return 2 ;;
    esac
    [ "$status" -eq 125 ] || break
    echo "note: attempt $attempt: no X server answered; its messages:"
    cat "$x_err"
  done
  rm -f "$x_err"
  return "$status"
}

# Puts "key = value" into the [Settings] table of the user settings file.
# The file may hold that table already: a second one would make the whole
# file unreadable.
set_user_setting() {
  if grep -q '^\[Settings\]' "$DOVRANE_HKCU" 2>/dev/null; then
    sed -i "s/^\[Settings\]\$/[Settings]\n$1 = $2/" "$DOVRANE_HKCU"
  else
    printf '[Settings]\n%s = %s\n' "$1" "$2" >>"$DOVRANE_HKCU"
  fi
}
