#!/usr/bin/env bash
# Builds every benchmark (bench/*_bench.cpp and the desktop program's bench/ui/*_bench.cpp, optimised, in build/ or $BUILD_DIR) and runs each
# one in turn; they print their own figures. Most need root, for their private network
# namespaces. A single benchmark can also be run alone from <build dir>/bench/.
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build}

benches=() paths=()
for source in bench/*_bench.cpp bench/ui/*_bench.cpp; do
  benches+=("$(basename "$source" .cpp)")
  paths+=("$dir/${source%.cpp}")
done

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCOUTOR_BENCH=ON >/dev/null ||
  exit 1
cmake --build "$dir" --target "${benches[@]}" || exit 1

status=0
for i in "${!benches[@]}"; do
  echo "== ${benches[$i]}"
  "${paths[$i]}" || status=1
  echo
done
exit $status
