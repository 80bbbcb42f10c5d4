#!/usr/bin/env bash
# testbed.sh: a private network of namespaces with simulated VEP devices, for demos and
# benchmarks. Nothing is sent from or to the machine's own network: every namespace, bridge and
# vepsim process is created here, named with the prefix tb<PID>-, and removed on exit (also on
# failure or Ctrl-C). Needs root (ip netns).
#
# As a command:
#   scripts/testbed.sh run [OPTIONS] -- COMMAND [ARGS...]   run COMMAND in the host namespace
#   scripts/testbed.sh shell [OPTIONS]                        an interactive shell there
# Options:
#   --segments 1|2     segments the host is on (default 1)
#   --count N          also a namespace "bulk" with N generated devices (vepsim --count N)
#   --vepsim PATH      the simulator (default: $VEPSIM, else build/tools/vepsim/vepsim)
#   --vepsim-args "A"  extra arguments for every vepsim, e.g. "--jitter 50 -v"
# The standard layout:
#   host  eth0 10.0.0.1/24 on segment lan1; with --segments 2 also eth1 10.1.0.1/24 on lan2
#   dev1  on lan1, 10.0.0.5 (+10.0.0.7, 10.0.0.8): AP-1 (Bridge) 10.0.0.7, Cam-2 (Camera)
#         10.0.0.8, both re-addressed for real by a set-IP
#   far   on lan1, 192.168.77.7/24: Far-3 (Sensor), a device outside the host's subnet
#   dev2  on lan2, 10.1.0.5 (+10.1.0.9): Sw-4 (Switch) 10.1.0.9
#   bulk  on lan1, 10.0.0.6: N devices SIM-1.. from 02:00:00:01:00:00, 10.2.0.1/16
# COMMAND sees the host namespace's name in $TB_HOST and the vepsim logs' folder in $TB_DIR,
# which is removed at the end unless TB_KEEP_LOGS=1.
#
# Sourced (". scripts/testbed.sh"), it only defines the tb_* functions below for a script of
# your own: tb_init (checks, names, teardown trap), tb_add_host NAME, tb_add_segment NAME,
# tb_attach HOST SEGMENT IFNAME ADDRESS/PREFIX, tb_vepsim NS ARGS..., tb_teardown.

tb_fail() {
  echo "testbed.sh: $*" >&2
  exit 1
}

tb_init() {
  [ "$(id -u)" -eq 0 ] || tb_fail "needs root: network namespaces are made with 'ip netns'"
  command -v ip >/dev/null || tb_fail "'ip' (iproute2) is not installed"
  TB_PREFIX="tb$$-"
  ip netns add "${TB_PREFIX}probe" 2>/dev/null || tb_fail "'ip netns add' does not work here"
  ip netns del "${TB_PREFIX}probe"
  TB_NAMESPACES=()
  TB_PIDS=()
  TB_PEERS=0
  TB_DIR=$(mktemp -d "/tmp/testbed-$$-XXXX")
  trap tb_teardown EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

tb_teardown() {
  local pid i
  for pid in "${TB_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${TB_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  for ((i = ${#TB_NAMESPACES[@]} - 1; i >= 0; i--)); do
    ip netns del "${TB_NAMESPACES[i]}" 2>/dev/null
  done
  TB_PIDS=()
  TB_NAMESPACES=()
  [ "${TB_KEEP_LOGS:-0}" = 1 ] || rm -rf "$TB_DIR"
}

# A namespace with loopback up; prints nothing, sets TB_NS to its full name.
tb_add_host() {
  TB_NS="${TB_PREFIX}$1"
  ip netns add "$TB_NS" || tb_fail "cannot create namespace $TB_NS"
  TB_NAMESPACES+=("$TB_NS")
  ip -n "$TB_NS" link set lo up
}

# A switched segment: a bridge br0 in a namespace of its own (TB_NS).
tb_add_segment() {
  tb_add_host "seg-$1"
  if ! { ip -n "$TB_NS" link add br0 type bridge && ip -n "$TB_NS" link set br0 up; }; then
    tb_fail "cannot create the bridge of segment $1"
  fi
}

# tb_attach HOST_NS SEGMENT_NS IFNAME ADDRESS/PREFIX: a veth from the host to the bridge.
tb_attach() {
  local host=$1 segment=$2 ifname=$3 address=$4 peer="p$TB_PEERS"
  TB_PEERS=$((TB_PEERS + 1))
  if ! { ip -n "$host" link add "$ifname" type veth peer name "$peer" netns "$segment" &&
    ip -n "$segment" link set "$peer" master br0 &&
    ip -n "$segment" link set "$peer" up &&
    ip -n "$host" addr add "$address" dev "$ifname" &&
    ip -n "$host" link set "$ifname" up; }; then
    tb_fail "cannot attach $host to $segment"
  fi
}

# tb_vepsim NS ARGS...: starts vepsim in NS and waits (at most 10 s) until it listens.
tb_vepsim() {
  local ns=$1 log="$TB_DIR/vepsim-${1#"$TB_PREFIX"}.log" i
  shift
  ip netns exec "$ns" "$TB_VEPSIM" "$@" >"$log" 2>&1 &
  TB_PIDS+=($!)
  for ((i = 0; i < 1000; i++)); do
    grep -q listening "$log" 2>/dev/null && return 0
    kill -0 "${TB_PIDS[-1]}" 2>/dev/null || break
    sleep 0.01
  done
  tb_fail "vepsim did not start in $ns: $(cat "$log")"
}

tb_standard_layout() {
  local segments=$1 count=$2 lan1 lan2 dev
  # shellcheck disable=SC2206 # extra arguments are split on purpose
  local extra=($TB_VEPSIM_ARGS)
  tb_add_host host
  TB_HOST=$TB_NS
  tb_add_segment lan1
  lan1=$TB_NS
  tb_attach "$TB_HOST" "$lan1" eth0 10.0.0.1/24

  tb_add_host dev1
  dev=$TB_NS
  tb_attach "$dev" "$lan1" eth0 10.0.0.5/24
  ip -n "$dev" addr add 10.0.0.7/24 dev eth0
  ip -n "$dev" addr add 10.0.0.8/24 dev eth0
  tb_vepsim "$dev" --readdress eth0 "${extra[@]}" \
    --device "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge,ip=10.0.0.7,mask=255.255.255.0,gw=10.0.0.1" \
    --device "mac=00:0A:1B:2C:3D:4F,name=Cam-2,type=Camera,ip=10.0.0.8,mask=255.255.255.0,gw=10.0.0.1"

  tb_add_host far
  tb_attach "$TB_NS" "$lan1" eth0 192.168.77.7/24
  tb_vepsim "$TB_NS" --readdress eth0 "${extra[@]}" \
    --device "mac=00:0A:1B:2C:3D:50,name=Far-3,type=Sensor,ip=192.168.77.7,mask=255.255.255.0,gw=192.168.77.1"

  if [ "$segments" -ge 2 ]; then
    tb_add_segment lan2
    lan2=$TB_NS
    tb_attach "$TB_HOST" "$lan2" eth1 10.1.0.1/24
    tb_add_host dev2
    tb_attach "$TB_NS" "$lan2" eth0 10.1.0.5/24
    ip -n "$TB_NS" addr add 10.1.0.9/24 dev eth0
    tb_vepsim "$TB_NS" --readdress eth0 "${extra[@]}" \
      --device "mac=00:0A:1B:2C:3D:51,name=Sw-4,type=Switch,ip=10.1.0.9,mask=255.255.255.0,gw=10.1.0.1"
  fi

  if [ "$count" -gt 0 ]; then
    tb_add_host bulk
    tb_attach "$TB_NS" "$lan1" eth0 10.0.0.6/24
    tb_vepsim "$TB_NS" "${extra[@]}" --count "$count" --mac-base 02:00:00:01:00:00 \
      --ip-base 10.2.0.1 --mask 255.255.0.0
  fi
}

tb_main() {
  local command=${1:-} segments=1 count=0
  shift || true
  TB_VEPSIM=${VEPSIM:-$(dirname "$0")/../build/tools/vepsim/vepsim}
  TB_VEPSIM_ARGS=""
  while [ $# -gt 0 ]; do
    case $1 in
      --segments) segments=$2; shift 2 ;;
      --count) count=$2; shift 2 ;;
      --vepsim) TB_VEPSIM=$2; shift 2 ;;
      --vepsim-args) TB_VEPSIM_ARGS=$2; shift 2 ;;
      --) shift; break ;;
      *) tb_fail "unknown option '$1' (see the header of $0)" ;;
    esac
  done
  case $command in
    run) [ $# -gt 0 ] || tb_fail "run needs a command after --" ;;
    shell) set -- "${SHELL:-/bin/bash}" ;;
    *) tb_fail "usage: $0 run [OPTIONS] -- COMMAND... | $0 shell [OPTIONS]" ;;
  esac
  [[ $segments =~ ^[12]$ ]] || tb_fail "--segments is 1 or 2"
  [[ $count =~ ^[0-9]+$ ]] || tb_fail "--count is a number"
  [ -x "$TB_VEPSIM" ] || tb_fail "no simulator at $TB_VEPSIM (build it, or give --vepsim)"

  tb_init
  tb_standard_layout "$segments" "$count"
  export TB_HOST TB_DIR
  echo "testbed.sh: host namespace $TB_HOST, vepsim logs in $TB_DIR" >&2
  ip netns exec "$TB_HOST" "$@"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  tb_main "$@"
fi
