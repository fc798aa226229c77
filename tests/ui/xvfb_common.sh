# Shared by the real-X runs (sourced by them).

# Skips the run (status 77) when xvfb-run or xdotool is missing.
require_x_tools() {
  local tool
  for tool in xvfb-run xdotool; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
      exit 77
    fi
  done
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
