#!/bin/bash
# The real network stage: several smbd instances on 127.0.0.2, 127.0.0.3 and
# 127.0.0.4, each with a private configuration (a guest share "cad" and a
# user share "priv"), and the network tests of dovrane_tests run against them.
# Runs in a network namespace of its own. Exits 77 (skipped) where it cannot
# run: not root, samba or smbclient missing, no namespace allowed. Every server it starts is stopped again (trap), within a time limit.
# Usage: smb_stage.sh DOVRANE_TESTS_BINARY
set -u
TESTS=${1:?the dovrane_tests program}
SKIP=77

[ "$(id -u)" = 0 ] || { echo "SKIP: the SMB stage needs root (smbd binds port 445)"; exit $SKIP; }
SMBD=$(command -v smbd || ls /usr/sbin/smbd 2>/dev/null)
SMBPASSWD=$(command -v smbpasswd || ls /usr/bin/smbpasswd 2>/dev/null)
[ -x "${SMBD:-}" ] || { echo "SKIP: smbd missing (Debian package samba; scripts/install-deps.sh)"; exit $SKIP; }
command -v smbclient >/dev/null || { echo "SKIP: smbclient missing (Debian package smbclient)"; exit $SKIP; }
[ -x "${SMBPASSWD:-}" ] || { echo "SKIP: smbpasswd missing (Debian package samba)"; exit $SKIP; }
# A network namespace of its own: the servers' addresses exist only there,
# and nothing of the computer's own network is touched or seen.
if [ -z "${DOVRANE_SMB_NETNS:-}" ]; then
  command -v unshare >/dev/null && command -v ip >/dev/null ||
    { echo "SKIP: unshare or ip missing (util-linux, iproute2)"; exit $SKIP; }
  unshare --net true 2>/dev/null || { echo "SKIP: no network namespace may be made here"; exit $SKIP; }
  DOVRANE_SMB_NETNS=1 exec unshare --net "$0" "$@"
fi
ip link set lo up || exit 1
for a in 2 3 4; do ip addr add 127.0.0.$a/32 dev lo || exit 1; done

WORK=$(mktemp -d /tmp/dovrane-smb.XXXXXX)
PIDS=()
stop_all() {
  for pid in "${PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  done
  rm -rf "$WORK"
}
trap stop_all EXIT
trap 'exit 1' INT TERM

PASSWORD=dovrane-stage-pw
ADDRS=()
SHARES=()
for a in 2 3 4; do
  ip=127.0.0.$a
  d=$WORK/srv$a
  mkdir -p "$d"/{run,lock,state,cache,private,ncalrpc,share/cad,share/priv}
  chmod 755 "$d" "$d/state" "$d/share" "$d/share/cad"   # guests read the state folder
  chmod 700 "$d/share/priv"
  cat > "$d/smb.conf" <<CONF
[global]
  interfaces = $ip
  bind interfaces only = yes
  smb ports = 445
  server role = standalone server
  disable netbios = yes
  server min protocol = SMB2
  map to guest = Bad User
  guest account = nobody
  pid directory = $d/run
  lock directory = $d/lock
  state directory = $d/state
  cache directory = $d/cache
  private dir = $d/private
  ncalrpc dir = $d/ncalrpc
  passdb backend = tdbsam:$d/private/passdb.tdb
  log file = $d/log.%m
  log level = 0
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
[cad]
  path = $d/share/cad
  guest ok = yes
  read only = no
  force user = root
[priv]
  path = $d/share/priv
  valid users = root
  read only = no
CONF
  printf '%s\n%s\n' "$PASSWORD" "$PASSWORD" | "$SMBPASSWD" -c "$d/smb.conf" -a -s root >/dev/null ||
    { echo "FAIL: smbpasswd for $ip"; exit 1; }
  # Its own session: on SIGTERM smbd signals its whole process group.
  setsid "$SMBD" --foreground --no-process-group -s "$d/smb.conf" </dev/null >"$d/smbd.out" 2>&1 &
  PIDS+=($!)
  ADDRS+=("$ip")
  SHARES+=("$d/share/cad")
done

# Ready when a real share listing answers, not when the port opens.
CLIENT=$WORK/client
mkdir -p "$CLIENT"
printf '[global]\n  cache directory = %s\n  lock directory = %s\n  state directory = %s\n  private dir = %s\n' \
  "$CLIENT" "$CLIENT" "$CLIENT" "$CLIENT" > "$CLIENT/smb.conf"
for ip in "${ADDRS[@]}"; do
  ok=
  for _ in $(seq 150); do
    alive=1
    for pid in "${PIDS[@]}"; do kill -0 "$pid" 2>/dev/null || alive=; done
    [ -n "$alive" ] || break
    if timeout 5 smbclient -s "$CLIENT/smb.conf" -N -L "//$ip" 2>/dev/null | grep -q "cad"; then ok=1; break; fi
    sleep 0.1
  done
  [ -n "$ok" ] || { echo "FAIL: smbd on $ip gives no share listing"; tail -n 20 "$WORK"/srv*/smbd.out "$WORK"/srv*/log.*; exit 1; }
done

DOVRANE_SMB_STAGE="${ADDRS[*]}" DOVRANE_SMB_SHARES="${SHARES[*]}" DOVRANE_SMB_USER=root \
  DOVRANE_SMB_PASSWORD=$PASSWORD timeout 240 "$TESTS" --gtest_filter='SmbStageTest.*'
