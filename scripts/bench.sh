#!/usr/bin/env bash
# Builds every benchmark (bench/*_bench.cpp, optimised, in build/ or $BUILD_DIR) and runs each
# one in turn; they print their own figures. Most need root, for their private network
# namespaces. A single benchmark can also be run alone from <build dir>/bench/.
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build}

benches=()
for source in bench/*_bench.cpp; do benches+=("$(basename "$source" .cpp)"); done

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCOUTOR_BENCH=ON >/dev/null ||
  exit 1
cmake --build "$dir" --target "${benches[@]}" || exit 1

status=0
for bench in "${benches[@]}"; do
  echo "== $bench"
  "$dir/bench/$bench" || status=1
  echo
done
exit $status
