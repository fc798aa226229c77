#!/usr/bin/env bash
# A laptop over a slow line: the host check-out and check-in of WS01 (about
# 200 projects of 50 files) with DELAY ms added to every call on the office's
# share (SRV1, which holds \Net and the office standard), against cp -a of the
# folders that cross the line, over the same mount, side by side in one run:
#   check-out  against cp -a of the network's \Net and office standard to the laptop;
#   check-in   against cp -a of the laptop's copy of \Net back onto the share,
#              and against the fair peer: that cp -a, plus removing as many
#              files from the share as the check-in removes information files,
#              plus reading and writing project.dat once (a check-in that
#              changed nothing still releases every project's mark and
#              deletes every project's information file; cp -a does neither).
# The share is the test file system fault_share (FUSE), so this needs root,
# /dev/fuse and a build with libfuse3; elsewhere it prints "skipped" and why.
# Names and attributes stay cached CACHE seconds (default 1, the kernel CIFS
# client's actimeo default; CACHE=0 sends every look-up over the line).
#   bench/slow_line_bench.sh [BUILD_DIR]   (REPS=3, DELAY=5, PROJECTS=400, CACHE=1 by default)
set -euo pipefail
build=${1:-build}
reps=${REPS:-3}
delay=${DELAY:-5}
projects=${PROJECTS:-400}
cache=${CACHE:-1}
skip() { echo "slow line: skipped ($1)"; exit 0; }
[ "$(id -u)" = 0 ] || skip "needs root to mount the test share"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for b in fault_share tree_probe dovrane-mkinstall; do
  [ -x "$build/$b" ] || skip "$build/$b not built (libfuse3-dev for fault_share)"
done
# Mounts made here go with the namespace, however the run ends.
if [ -z "${DOVRANE_SLOW_LINE_NS:-}" ]; then
  command -v unshare >/dev/null || skip "unshare missing"
  unshare --mount --propagation private true 2>/dev/null || skip "no mount namespace may be made here"
  DOVRANE_SLOW_LINE_NS=1 exec unshare --mount --propagation private --pid --fork --kill-child --mount-proc "$0" "$@"
fi
build=$(cd "$build" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/dovrane-slow-XXXXXX")
share_pid=
cleanup() {
  # The share's process may have ended with its mount already: a kill that
  # finds nothing is no failure of the bench.
  if [ -n "$share_pid" ]; then
    umount -l "$work/inst/unc/SRV1/cad" 2>/dev/null || true
    kill "$share_pid" 2>/dev/null || true
    wait 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
inst=$work/inst
"$build/dovrane-mkinstall" "$inst" --hosts 1 --projects "$projects" --laptop >/dev/null
eval "$("$build/dovrane-mkinstall" --env "$inst")"
# 50 files of 4 KiB in each of the laptop's projects.
head -c 4096 /dev/urandom >"$work/block"
laptop_projects=0
for p in "$inst"/unc/WS01/cad/Prj/*.prj; do
  laptop_projects=$((laptop_projects + 1))
  have=$(find "$p" -maxdepth 1 -type f | wc -l)
  for i in $(seq $((have + 1)) 50); do cp "$work/block" "$p/part$i.dat"; done
done

share=$inst/unc/SRV1/cad
FAULT_SHARE_CACHE_SECONDS=$cache "$build/fault_share" "$share" "$share" "$work/srv1.sock" >/dev/null 2>"$work/share.log" &
share_pid=$!
for _ in $(seq 200); do grep -qs " $share fuse" /proc/self/mounts && break; sleep 0.05; done
grep -qs " $share fuse" /proc/self/mounts || { cat "$work/share.log" >&2; skip "the test share could not be mounted"; }
control() { python3 -c 'import socket,sys; s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.sendall((sys.argv[2]+"\n").encode()); print(s.recv(200).decode().strip())' "$work/srv1.sock" "$1"; }
[[ "$(control "delay all $delay")" == ok* ]] || skip "the test share took no delay"

now() { date +%s%N; }
# Microseconds a command takes; its failure fails the bench.
timed() {
  local t0 t1
  t0=$(now)
  "$@" >"$work/out" 2>&1 || { cat "$work/out" >&2; echo "failed: $*" >&2; exit 1; }
  t1=$(now)
  echo $(((t1 - t0) / 1000))
}
median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%d", m}'; }
calls() { control calls | awk '{print $2}'; }

peer_out() {
  rm -rf "$work/peer"
  mkdir -p "$work/peer"
  cp -a "$share/Net" "$share/STD" "$work/peer/"
}
peer_in() {
  rm -rf "$share/peer.Net"
  cp -a "$inst/unc/WS01/cad/Net" "$share/peer.Net"
}
# Untimed: one empty file on the share for each information file there.
fair_in_prepare() {
  rm -rf "$share/peer.out"
  mkdir "$share/peer.out"
  for f in "$share"/Net/n*.out; do : >"$share/peer.out/${f##*/}"; done
}
fair_in() {
  peer_in
  rm -f "$share"/peer.out/*.out
  cat "$share/Net/project.dat" >"$share/peer.dat"
}
out=() in=() cp_out=() cp_in=() fair=() out_calls=() in_calls=() cp_out_calls=() cp_in_calls=() fair_calls=()
for _ in $(seq "$reps"); do
  c0=$(calls); out+=("$(timed "$build/tree_probe" checkout-host WS01)"); out_calls+=($(($(calls) - c0)))
  c0=$(calls); cp_out+=("$(timed peer_out)"); cp_out_calls+=($(($(calls) - c0)))
  c0=$(calls); cp_in+=("$(timed peer_in)"); cp_in_calls+=($(($(calls) - c0)))
  fair_in_prepare
  c0=$(calls); fair+=("$(timed fair_in)"); fair_calls+=($(($(calls) - c0)))
  c0=$(calls); in+=("$(timed "$build/tree_probe" checkin-host WS01)"); in_calls+=($(($(calls) - c0)))
done
rm -rf "$share/peer.Net" "$share/peer.out" "$share/peer.dat"

row() {
  local label=$1 ours peer calls_ours calls_peer
  ours=$(printf '%s\n' "${@:2:$reps}" | median)
  shift $((reps + 1))
  peer=$(printf '%s\n' "${@:1:$reps}" | median)
  shift "$reps"
  calls_ours=$1 calls_peer=$2
  awk -v l="$label" -v a="$ours" -v b="$peer" -v ca="$calls_ours" -v cb="$calls_peer" 'BEGIN {
    r = a / b
    printf "%-34s %10.3f %10.3f %7.2f %6s  %s  (calls on the share: %d against %d)\n", l, a / 1e6, b / 1e6, r, 1.2,
      (r <= 1.2 ? "ok" : "SLOW"), ca, cb }'
}
echo
echo "WS01 with $laptop_projects projects of 50 files; $delay ms added to every call on SRV1's share (attributes cached $cache s)"
printf '%-34s %10s %10s %7s %6s\n' "operation (plain tool)" "dovrane s" "plain s" "ratio" "goal"
row "slow line check-out (cp -a)" "${out[@]}" "${cp_out[@]}" "${out_calls[0]}" "${cp_out_calls[0]}"
row "slow line check-in (cp -a)" "${in[@]}" "${cp_in[@]}" "${in_calls[0]}" "${cp_in_calls[0]}"
row "slow line check-in (fair peer)" "${in[@]}" "${fair[@]}" "${in_calls[0]}" "${fair_calls[0]}"
echo "($reps runs each, median)"
