#!/usr/bin/env bash
# Installs what is missing, builds the project twice (optimised, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1

jobs=$(nproc)
run_suite() {  # name, build dir, extra cmake arguments...
  local name=$1 dir=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || return 1
  cmake --build "$dir" -j "$jobs" || return 1
  echo "== $name tests"
  ctest --test-dir "$dir" -j "$((jobs * 2))" --output-on-failure --timeout 600 | tee "$dir/ctest.log"
}

status=0
run_suite optimised build -DCMAKE_BUILD_TYPE=RelWithDebInfo || status=1
run_suite sanitizer build-asan -DCMAKE_BUILD_TYPE=Debug -DSCOUTOR_SANITIZE=ON \
  -DSCOUTOR_BENCH=OFF || status=1

passed=0 failed=0
for log in build/ctest.log build-asan/ctest.log; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" 2>/dev/null | tail -1)
  if [ -z "$line" ]; then status=1; continue; fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done
[ "$failed" -eq 0 ] || status=1
echo "$passed passed, $failed failed"
exit $status
