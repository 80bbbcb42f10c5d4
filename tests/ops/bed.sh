# Sourced by the tests in this folder: the standard test bed of scripts/testbed.sh (AP-1 and
# Cam-2 beside the host at 10.0.0.1/24, Far-3 in a foreign subnet; every vepsim with -v, so
# that its log in $TB_DIR lists each request) plus Fw-5 (00:0A:1B:2C:3D:53, 10.0.0.21), which
# takes firmware uploads into $TB_DIR/fw. Exits 77 (skipped) when this machine cannot have
# network namespaces or lacks a tool the test names in $OPS_TOOLS. Sets: build (the build
# folder), vepctl, host (the host namespace), fw_pid (Fw-5's simulator).
set -uo pipefail
ops_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:?usage: $0 BUILD-DIR}" && pwd)

ops_skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
ops_fail() {
  echo "FAILED: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || ops_skip "needs root for network namespaces"
command -v ip >/dev/null || ops_skip "needs ip (iproute2)"
for tool in ${OPS_TOOLS:-}; do
  command -v "$tool" >/dev/null || ops_skip "needs $tool"
done
vepctl=$build/tools/vepctl/vepctl
[ -x "$vepctl" ] || ops_fail "no vepctl in $build"

# shellcheck source=SCRIPTDIR/../../scripts/testbed.sh
. "$ops_dir/../../scripts/testbed.sh"
TB_VEPSIM=$build/tools/vepsim/vepsim
# shellcheck disable=SC2034 # read by tb_standard_layout
TB_VEPSIM_ARGS=-v
[ -x "$TB_VEPSIM" ] || ops_fail "no vepsim in $build"
# tb_init's own check ends the run with 1 where namespaces cannot be made: that is a skip here.
probe="ops$$-probe"
ip netns add "$probe" 2>/dev/null || ops_skip "'ip netns add' does not work here"
ip netns del "$probe"
tb_init
tb_standard_layout 1 0
host=$TB_HOST
tb_add_host fw
tb_attach "$TB_NS" "${TB_PREFIX}seg-lan1" eth0 10.0.0.20/24
mkdir "$TB_DIR/fw"
tb_vepsim "$TB_NS" -v --hold-addresses eth0 --tftp "$TB_DIR/fw" \
  --device "mac=00:0A:1B:2C:3D:53,name=Fw-5,type=Gateway,ip=10.0.0.21,mask=255.255.255.0,gw=10.0.0.1"
fw_pid=${TB_PIDS[-1]}

# in_host COMMAND...: runs COMMAND in the host namespace.
in_host() {
  ip netns exec "$host" "$@"
}
