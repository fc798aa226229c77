#!/bin/bash
# The real network stage: several smbd instances on 127.0.0.2, 127.0.0.3 and
# 127.0.0.4, each with a private configuration (a guest share "cad" and a
# user share "priv"), and the network tests of dovrane_tests run against them.
# Besides, NetBIOS browsing (nmbd will not serve loopback): a bridge and one
# namespace per server with nmbd and smbd, addresses 10.77.0.0/24 only inside
# them; and the ping against a listening, a refusing and a silent address, and
# by ICMP echo in a namespace that allows it.
# Runs in network and process namespaces of its own: when the script ends,
# however it ends, the kernel ends whatever it started. Exits 77 (skipped) where it cannot
# run: not root, samba or smbclient missing, no namespace allowed. Every server it starts is stopped again (trap), within a time limit.
# Usage: smb_stage.sh DOVRANE_TESTS_BINARY
set -u
TESTS=${1:?the dovrane_tests program}
SKIP=77

[ "$(id -u)" = 0 ] || { echo "SKIP: the SMB stage needs root (smbd binds port 445)"; exit $SKIP; }
SMBD=$(command -v smbd || ls /usr/sbin/smbd 2>/dev/null)
NMBD=$(command -v nmbd || ls /usr/sbin/nmbd 2>/dev/null)
SMBPASSWD=$(command -v smbpasswd || ls /usr/bin/smbpasswd 2>/dev/null)
[ -x "${SMBD:-}" ] || { echo "SKIP: smbd missing (Debian package samba; scripts/install-deps.sh)"; exit $SKIP; }
command -v smbclient >/dev/null || { echo "SKIP: smbclient missing (Debian package smbclient)"; exit $SKIP; }
[ -x "${SMBPASSWD:-}" ] || { echo "SKIP: smbpasswd missing (Debian package samba)"; exit $SKIP; }
[ -x "${NMBD:-}" ] || { echo "SKIP: nmbd missing (Debian package samba)"; exit $SKIP; }
# A network namespace of its own: the servers' addresses exist only there,
# and nothing of the computer's own network is touched or seen.
if [ -z "${DOVRANE_SMB_NETNS:-}" ]; then
  command -v unshare >/dev/null && command -v nsenter >/dev/null && command -v ip >/dev/null ||
    { echo "SKIP: unshare, nsenter or ip missing (util-linux, iproute2)"; exit $SKIP; }
  NS_OPTS=(--net --pid --fork --mount-proc --kill-child)
  unshare "${NS_OPTS[@]}" true 2>/dev/null || { echo "SKIP: no network namespace may be made here"; exit $SKIP; }
  DOVRANE_SMB_NETNS=1 exec unshare "${NS_OPTS[@]}" "$0" "$@"
fi
ip link set lo up || exit 1
for a in 2 3 4; do ip addr add 127.0.0.$a/32 dev lo || exit 1; done

WORK=$(mktemp -d /tmp/dovrane-smb.XXXXXX)
# mktemp makes it 700; smbd reads browse.dat as the connected user (a guest
# is nobody), which must get through to it.
chmod 711 "$WORK"
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

# NetBIOS browsing. A namespace is a process holding it (ended by the trap).
NS=
new_ns() {
  unshare --net sleep 1000 </dev/null >/dev/null 2>&1 &
  NS=$!
  PIDS+=("$NS")
  for _ in $(seq 200); do
    [ "$(readlink /proc/$NS/ns/net)" != "$(readlink /proc/self/ns/net)" ] && return 0
    sleep 0.01
  done
  echo "FAIL: no namespace for a server"; exit 1
}
in_ns() { nsenter -t "$1" -n "${@:2}"; }
# Joins the newest namespace to the bridge as 10.77.0.$1.
join_bridge() {
  ip link add dvh$1 type veth peer name dvs$1 && ip link set dvs$1 netns "$NS" &&
    ip link set dvh$1 master dvbr0 up &&
    in_ns "$NS" sh -c "ip link set lo up && ip addr add 10.77.0.$1/24 brd + dev dvs$1 && ip link set dvs$1 up" ||
    { echo "FAIL: namespace 10.77.0.$1"; exit 1; }
}
ip link add dvbr0 type bridge && ip addr add 10.77.0.1/24 brd + dev dvbr0 && ip link set dvbr0 up ||
  { echo "FAIL: no bridge"; exit 1; }
for n in 11 12; do
  new_ns
  join_bridge $n
  d=$WORK/browse$n
  mkdir -p "$d"/{run,lock,state,cache,private,ncalrpc,share}
  chmod 755 "$d" "$d/state" "$d/cache" "$d/share"   # browse.dat is in the cache folder
  # The first is the preferred master browser, so the election is short.
  master=no; level=20
  [ $n = 11 ] && { master=yes; level=65; }
  cat > "$d/smb.conf" <<CONF
[global]
  workgroup = DOVWG
  netbios name = BROWSE$n
  interfaces = dvs$n
  bind interfaces only = yes
  server role = standalone server
  server min protocol = NT1
  local master = yes
  preferred master = $master
  os level = $level
  domain master = no
  map to guest = Bad User
  guest account = nobody
  pid directory = $d/run
  lock directory = $d/lock
  state directory = $d/state
  cache directory = $d/cache
  private dir = $d/private
  ncalrpc dir = $d/ncalrpc
  log file = $d/log.%m
  log level = 0
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
[cad]
  path = $d/share
  guest ok = yes
CONF
  for daemon in "$SMBD" "$NMBD"; do
    in_ns "$NS" setsid "$daemon" --foreground --no-process-group -s "$d/smb.conf" </dev/null \
      >"$d/$(basename "$daemon").out" 2>&1 &
    PIDS+=($!)
  done
done
# A silent address: its namespace's link is down, nothing ever answers.
new_ns
join_bridge 9
in_ns "$NS" ip link set dvs9 down
# The ICMP namespace: echo sockets allowed, every TCP packet to the bridge
# dropped, echo requests to itself ignored (as a firewall of Windows does).
new_ns
ICMP_NS=$NS
join_bridge 20
in_ns "$ICMP_NS" sh -c 'sysctl -q -w net.ipv4.ping_group_range="0 2147483647" net.ipv4.icmp_echo_ignore_all=1 &&
  ip rule add ipproto tcp lookup 100 && ip route add blackhole 10.77.0.0/24 table 100' ||
  { echo "FAIL: the ICMP namespace"; exit 1; }

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
  DOVRANE_SMB_PASSWORD=$PASSWORD DOVRANE_PING_REFUSED=127.0.0.9 DOVRANE_PING_SILENT=10.77.0.9 \
  DOVRANE_BROWSE="DOVWG BROWSE11 BROWSE12" timeout 240 "$TESTS" --gtest_filter='SmbStageTest.*' || exit 1
# The ICMP echo, from a namespace that allows it and sends no TCP to the bridge.
in_ns "$ICMP_NS" env DOVRANE_PING_ICMP=10.77.0.1 timeout 60 "$TESTS" --gtest_filter='IcmpStageTest.*'
