#!/bin/bash
# The share stage: the tests whose host share is the FUSE file system
# fault_share (a share that hangs, dies or crawls under their control).
# Runs in mount and process namespaces of its own: when the script ends,
# however it ends, every mount it made and every process it started go with
# it. Exits 77 (skipped) where it cannot run: not root, no /dev/fuse, the
# test file system not built (libfuse3-dev missing), no namespace allowed.
# Usage: fuse_stage.sh FAULT_SHARE_BINARY DOVRANE_TESTS_BINARY [DOVRANE_GUI_TESTS_BINARY]
# (FAULT_SHARE_BINARY empty: it was not built)
set -u
SHARE=${1:-}
TESTS=${2:?the dovrane_tests program}
GUI_TESTS=${3:-}
SKIP=77

[ "$(id -u)" = 0 ] || { echo "SKIP: the share stage needs root (it mounts a FUSE file system)"; exit $SKIP; }
[ -c /dev/fuse ] || { echo "SKIP: no /dev/fuse here (the fuse kernel module)"; exit $SKIP; }
[ -n "$SHARE" ] && [ -x "$SHARE" ] ||
  { echo "SKIP: the test file system fault_share was not built (Debian package libfuse3-dev; scripts/install-deps.sh)"; exit $SKIP; }
if [ -z "${DOVRANE_FUSE_NS:-}" ]; then
  command -v unshare >/dev/null || { echo "SKIP: unshare missing (util-linux)"; exit $SKIP; }
  NS_OPTS=(--mount --propagation private --pid --fork --kill-child --mount-proc)
  unshare "${NS_OPTS[@]}" true 2>/dev/null || { echo "SKIP: no mount namespace may be made here"; exit $SKIP; }
  DOVRANE_FUSE_NS=1 exec unshare "${NS_OPTS[@]}" "$0" "$@"
fi

export DOVRANE_FUSE_STAGE=1
status=0
timeout 480 "$TESTS" --gtest_filter='*FuseStage*' || status=1
if [ -n "$GUI_TESTS" ]; then
  QT_QPA_PLATFORM=offscreen timeout 300 "$GUI_TESTS" --gtest_filter='*FuseStage*' || status=1
fi
exit $status
