#!/usr/bin/env bash
# Shows vepctl at work without any real device: a private network of Linux network namespaces
# (scripts/testbed.sh: a PC at 10.0.0.1/24 and three simulated devices, one of them in a
# foreign subnet) where vepctl lists the devices with their reachability, gives the unreachable
# one a working address with Auto IP, and shows that it answers afterwards. Everything it
# creates is removed on exit, also on failure or Ctrl+C. Needs root (network namespaces).
#
# Usage: scripts/demo.sh [BUILD-DIR]   (default: build)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
vepctl=$build/tools/vepctl/vepctl

# shellcheck source=testbed.sh
. "$here/testbed.sh"
TB_VEPSIM=$build/tools/vepsim/vepsim
TB_VEPSIM_ARGS=""

fail() {
  echo "demo: $*" >&2
  exit 1
}

[ -x "$vepctl" ] && [ -x "$TB_VEPSIM" ] ||
  fail "build vepctl and vepsim first (cmake --build $build --target vepctl vepsim)"

# Each step is bounded in time.
run() {
  echo
  echo "\$ vepctl $*"
  timeout 60 ip netns exec "$TB_HOST" "$vepctl" "$@"
}

tb_init
echo "Building a private network: a PC at 10.0.0.1/24 and three simulated devices."
tb_standard_layout 1 0
echo "Far-3 sits in a foreign subnet (192.168.77.0/24): it hears broadcasts but cannot answer pings."

run discover --ping || fail "no device answered the scan"
run auto-ip 00:0A:1B:2C:3D:50 || fail "Auto IP did not make Far-3 reachable"
run discover --ping --json || fail "no device answered the scan"
echo
echo "Far-3 now has an address in the PC's subnet and answers pings."
