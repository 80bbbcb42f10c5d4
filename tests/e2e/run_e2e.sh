#!/usr/bin/env bash
# Runs tests/e2e/scoutor_e2e.py (or another script given after the build folder, with its own
# arguments) in the host namespace of the standard test bed of scripts/testbed.sh plus Mute-4,
# a device beside the PC that never answers a request for its settings. Exits 77 (skipped) when
# the machine cannot have namespaces or lacks the X, bus or accessibility tools.
# Usage: tests/e2e/run_e2e.sh BUILD-DIR [SCRIPT [ARGS...]]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
script=${1:-$here/scoutor_e2e.py}
shift || true

skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in Xvfb xdotool ip dbus-daemon dbus-send /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || skip "needs $tool"
done
# Debian's python3, which the python3-pyatspi package serves.
python=/usr/bin/python3
"$python" -c "import pyatspi" 2>/dev/null || skip "needs python3-pyatspi for $python"
[ -x "$build/ui/scoutor" ] || { echo "no scoutor in $build" >&2; exit 1; }

# shellcheck source=SCRIPTDIR/../../scripts/testbed.sh
. "$here/../../scripts/testbed.sh"
TB_VEPSIM=$build/tools/vepsim/vepsim
# shellcheck disable=SC2034 # read by tb_standard_layout
TB_VEPSIM_ARGS=-v
[ -x "$TB_VEPSIM" ] || { echo "no vepsim in $build" >&2; exit 1; }
tb_init
tb_standard_layout 1 0
host=$TB_HOST
tb_add_host mute
tb_attach "$TB_NS" "${TB_PREFIX}seg-lan1" eth0 10.0.0.10/24
tb_vepsim "$TB_NS" -v --ignore get-ip \
  --device "mac=00:0A:1B:2C:3D:52,name=Mute-4,type=Sensor,ip=10.0.0.10,mask=255.255.255.0,gw=10.0.0.1"
export TB_HOST=$host TB_DIR
# Within ctest's 600 s, so that the test bed is still removed after a time-out.
timeout --kill-after=10 540 ip netns exec "$TB_HOST" "$python" "$script" "$build" "$@"
