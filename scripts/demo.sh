#!/usr/bin/env bash
# Shows vepctl at work without any real device: builds a private network of Linux network
# namespaces (a PC and three simulated devices on one switched segment, one of them in a
# foreign subnet), lists the devices with their reachability, gives the unreachable one a
# working address with Auto IP and shows that it answers afterwards. Everything it creates is
# removed on exit, also on failure or Ctrl+C. Needs root (network namespaces).
#
# Usage: scripts/demo.sh [BUILD-DIR]   (default: build)
set -euo pipefail

build=${1:-build}
vepctl=$build/tools/vepctl/vepctl
vepsim=$build/tools/vepsim/vepsim

fail() { echo "demo: $*" >&2; exit 1; }

[ -x "$vepctl" ] && [ -x "$vepsim" ] ||
  fail "build vepctl and vepsim first (cmake --build $build --target vepctl vepsim)"
[ "$(id -u)" -eq 0 ] || fail "needs root: it creates network namespaces (try: sudo $0 $*)"
command -v ip >/dev/null || fail "needs the 'ip' command (iproute2)"

prefix=scdemo$$-
lan=${prefix}lan
pc=${prefix}pc
namespaces=()
pids=()
logs=$(mktemp -d /tmp/scoutor-demo-XXXXXX)

cleanup() {
  local pid ns
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$logs"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

add_ns() {
  ip netns add "$1" || fail "cannot create network namespaces here"
  namespaces+=("$1")
  ip -n "$1" link set lo up
}

# attach HOST IFNAME ADDRESS: a veth from HOST into the segment's bridge.
peer=0
attach() {
  local port=p$((peer++))
  ip -n "$1" link add name "$2" type veth peer name "$port" netns "$lan"
  ip -n "$lan" link set "$port" master br0 up
  ip -n "$1" addr add "$3" dev "$2"
  ip -n "$1" link set "$2" up
}

# device NAME ADDRESS MAC TYPE GATEWAY: a namespace of its own with a simulated device whose
# address is real there, so that it answers pings; a static set-IP really moves it.
device() {
  local ns=${prefix}$1
  add_ns "$ns"
  attach "$ns" eth0 "$2/24"
  ip netns exec "$ns" "$vepsim" --readdress eth0 \
    --device "mac=$3,name=$1,type=$4,ip=$2,mask=255.255.255.0,gw=$5" >"$logs/$1.log" 2>&1 &
  pids+=($!)
}

run() {
  echo
  echo "\$ vepctl $*"
  timeout 60 ip netns exec "$pc" "$vepctl" "$@"
}

echo "Building a private network: PC 10.0.0.1/24 and three simulated devices"
add_ns "$lan"
ip -n "$lan" link add name br0 type bridge
ip -n "$lan" link set br0 up
add_ns "$pc"
attach "$pc" eth0 10.0.0.1/24
# A default route, as on any LAN, so that broadcasts to 255.255.255.255 leave the PC. The
# router itself is not there.
ip -n "$pc" route add default via 10.0.0.254
device Sensor-1 10.0.0.7 00:0A:1B:2C:3D:4E Bridge 10.0.0.254
device Display-2 10.0.0.8 00:0A:1B:2C:3D:4F Display 10.0.0.254
device Camera-3 192.168.50.9 00:0A:1B:2C:3D:50 Camera 192.168.50.1
echo "Camera-3 sits in a foreign subnet (192.168.50.0/24): it hears broadcasts but not pings."

# Bounded wait until the three simulators listen.
for _ in $(seq 100); do
  ready=0
  for ns in "${prefix}Sensor-1" "${prefix}Display-2" "${prefix}Camera-3"; do
    ip netns exec "$ns" ss -Huan | grep -q ':17784' && ready=$((ready + 1))
  done
  [ "$ready" -eq 3 ] && break
  sleep 0.05
done
[ "$ready" -eq 3 ] || { cat "$logs"/*.log >&2; fail "the simulated devices did not start"; }

run discover --ping
run auto-ip 00:0A:1B:2C:3D:50 || fail "Auto IP did not make Camera-3 reachable"
run discover --ping --json
echo
echo "Camera-3 moved into the PC's subnet and answers pings now."
