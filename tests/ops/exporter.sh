#!/usr/bin/env bash
# vepctl exporter in the test bed: its /metrics text passes promtool, has one vep_device_info
# series per device of the bed and one vep_device_reachable each, and a device that goes away
# (its simulator stopped) has no series from the next scan on.
# Usage: tests/ops/exporter.sh BUILD-DIR
OPS_TOOLS="curl promtool timeout"
. "$(dirname "$0")/bed.sh"
url=http://127.0.0.1:9784/metrics
metrics=$TB_DIR/metrics.txt

ip netns exec "$host" "$vepctl" exporter --listen 127.0.0.1:9784 --every 3 --wait 2000 \
  >"$TB_DIR/exporter.log" 2>&1 &
TB_PIDS+=($!)

# fetch: the metrics now, into $metrics; false while there are none yet.
fetch() {
  ip netns exec "$host" curl -sf --max-time 5 "$url" >"$metrics"
}
# series NAME: how many samples of NAME the last fetch holds.
series() {
  grep -c "^$1[{ ]" "$metrics"
}
# scanned_after TIME: whether the last fetch's scan started after TIME (seconds since the
# epoch): its end less its duration.
scanned_after() {
  awk -v after="$1" '/^vep_last_scan_timestamp_seconds / { end = $2 }
    /^vep_scan_duration_seconds / { took = $2 }
    END { exit !(end != "" && end - took > after) }' "$metrics"
}

for ((i = 0; i < 300; i++)); do
  fetch && break
  sleep 0.1
done
[ -s "$metrics" ] || ops_fail "no metrics within 30 s: $(cat "$TB_DIR/exporter.log")"
cat "$metrics"
promtool check metrics <"$metrics" || ops_fail "promtool refuses the metrics"
for id in 00:0A:1B:2C:3D:4E 00:0A:1B:2C:3D:4F 00:0A:1B:2C:3D:50 00:0A:1B:2C:3D:53; do
  [ "$(grep -c "^vep_device_info{id=\"$id\"," "$metrics")" -eq 1 ] ||
    ops_fail "not one vep_device_info series for $id"
  grep -q "^vep_device_reachable{id=\"$id\"} [01]$" "$metrics" ||
    ops_fail "no vep_device_reachable for $id"
done
[ "$(series vep_device_info)" -eq 4 ] || ops_fail "not 4 vep_device_info series"
grep -qx 'vep_devices 4' "$metrics" || ops_fail "vep_devices is not 4"
grep -qx 'vep_device_reachable{id="00:0A:1B:2C:3D:50"} 0' "$metrics" ||
  ops_fail "Far-3, in a foreign subnet, counts as reachable"
grep -qx 'vep_device_reachable{id="00:0A:1B:2C:3D:4E"} 1' "$metrics" ||
  ops_fail "AP-1 counts as unreachable"

# Fw-5 goes away; the first scan that started after that no longer lists it.
kill "$fw_pid"
wait "$fw_pid" 2>/dev/null
gone=$(date +%s.%N)
rescanned=false
for ((i = 0; i < 300; i++)); do
  sleep 0.1
  fetch && scanned_after "$gone" && rescanned=true && break
done
$rescanned || ops_fail "no scan started within 30 s after Fw-5 went away"
cat "$metrics"
promtool check metrics <"$metrics" || ops_fail "promtool refuses the metrics"
! grep -q '00:0A:1B:2C:3D:53' "$metrics" || ops_fail "Fw-5 still has series after it went away"
[ "$(series vep_device_info)" -eq 3 ] || ops_fail "not 3 vep_device_info series"
grep -qx 'vep_devices 3' "$metrics" || ops_fail "vep_devices is not 3"
echo "the exporter's metrics follow the devices"
