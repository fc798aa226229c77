#!/usr/bin/env bash
# Runs inside xvfb-run (run_x in xvfb_common.sh): waits until the new X server
# answers, then runs the command. Exits 125 when it never answers, so that
# run_x can start another server.
#   xvfb_ready.sh COMMAND ARG...
for _ in $(seq 50); do
  if xdotool getdisplaygeometry >/dev/null 2>&1; then exec "$@"; fi
  sleep 0.1
done
echo "note: the X server on $DISPLAY does not answer"
exit 125
