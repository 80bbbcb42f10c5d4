#!/usr/bin/env bash
# Runs tests/e2e/scoutor_e2e.py on the shell test bed; exits 77 (skipped) when the machine
# cannot have namespaces or lacks the X tools.
# Usage: tests/e2e/run_e2e.sh BUILD-DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)

skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in Xvfb xdotool python3 ip; do
  command -v "$tool" >/dev/null || skip "needs $tool"
done
[ -x "$build/ui/scoutor" ] || { echo "no scoutor in $build" >&2; exit 1; }
exec timeout 600 "$here/../../scripts/testbed.sh" run --vepsim "$build/tools/vepsim/vepsim" \
  --vepsim-args -v -- python3 "$here/scoutor_e2e.py" "$build"
