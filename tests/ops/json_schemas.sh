#!/usr/bin/env bash
# Every record kind that vepctl --json prints, made by real commands in the test bed, is valid
# against its schema in tools/vepctl/schema and declares every field it holds.
# Usage: tests/ops/json_schemas.sh BUILD-DIR
OPS_TOOLS="python3 timeout"
. "$(dirname "$0")/bed.sh"
python3 -c "import jsonschema" 2>/dev/null || ops_skip "needs python3-jsonschema"
schemas=$ops_dir/../../tools/vepctl/schema
out=$TB_DIR/records
mkdir "$out"
failures=0

# expect EXIT NAME KIND... -- VEPCTL-ARGS...: runs vepctl --json in the host namespace, checks
# its exit status and its records. SIGINT ends it after $OPS_STOP_AFTER s (default 120): a
# command that runs until stopped then exits 0.
expect() {
  local want=$1 name=$2 kinds=() status
  shift 2
  while [ "$1" != -- ]; do kinds+=("$1"); shift; done
  shift
  timeout --preserve-status -s INT "${OPS_STOP_AFTER:-120}" \
    ip netns exec "$host" "$vepctl" --json "$@" >"$out/$name" 2>"$out/$name.err"
  status=$?
  if [ "$status" -ne "$want" ]; then
    echo "FAILED: vepctl $* exited $status, not $want: $(cat "$out/$name.err")" >&2
    failures=$((failures + 1))
  fi
  python3 "$ops_dir/check_records.py" "$schemas" "$out/$name" "${kinds[@]}" ||
    failures=$((failures + 1))
}

# An xdg-open that opens nothing, so that web runs to its end.
mkdir "$TB_DIR/bin"
printf '#!/bin/sh\nexit 0\n' >"$TB_DIR/bin/xdg-open"
chmod +x "$TB_DIR/bin/xdg-open"
export PATH="$TB_DIR/bin:$PATH"
head -c 5000 /dev/urandom >"$TB_DIR/firmware.bin"
cat >"$TB_DIR/plan.csv" <<'PLAN'
id,dhcp,ip,mask,gateway
00:0A:1B:2C:3D:4F,0,10.0.0.31,255.255.255.0,10.0.0.1
PLAN

expect 0 discover discover-device -- discover --ping
expect 1 discover-none error -- discover --filter 'nothing*'
expect 0 get-ip get-ip -- get-ip 00:0A:1B:2C:3D:4F
expect 0 set-ip set-ip -- set-ip 00:0A:1B:2C:3D:4F --ip 10.0.0.30 --mask 255.255.255.0 --gateway 10.0.0.1
expect 2 set-ip-refused error -- set-ip 00:0A:1B:2C:3D:4F --ip 10.0.0.255 --mask 255.255.255.0 --gateway 10.0.0.1
expect 0 plan-check set-ip-plan-check -- set-ip --plan "$TB_DIR/plan.csv" --dry-run
expect 0 plan set-ip-plan-summary set-ip-plan-device -- set-ip --plan "$TB_DIR/plan.csv"
expect 0 ping ping -- ping 10.0.0.7
expect 0 choose-ip choose-ip -- choose-ip 10.0.0.1
expect 0 mac-to-id mac-to-id -- mac-to-id 00:0a:1b:2c:3d:4e
expect 0 web web -- web 00:0A:1B:2C:3D:4E
expect 0 upgrade upgrade -- upgrade "$TB_DIR/firmware.bin" 10.0.0.21
expect 0 upgrade-fleet upgrade-summary upgrade-device -- upgrade "$TB_DIR/firmware.bin" --device 00:0A:1B:2C:3D:53 --verify-timeout 30
expect 1 upgrade-missing upgrade-device -- upgrade "$TB_DIR/firmware.bin" --device 00:0A:1B:2C:3D:99 --wait 1000
expect 0 auto-ip auto-ip -- auto-ip 00:0A:1B:2C:3D:50
OPS_STOP_AFTER=4 expect 0 watch watch-event -- watch --every 3 --wait 2000
OPS_STOP_AFTER=2 expect 0 exporter exporter -- exporter --listen 127.0.0.1:9785 --every 3
[ "$failures" -eq 0 ] || ops_fail "$failures checks failed"
echo "every record matches its schema"
