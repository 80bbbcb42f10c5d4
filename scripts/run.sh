#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demo (simulated devices in a
# private namespace network: discover, ping, Auto IP). Needs root for the namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vepctl vepsim vep
exec scripts/demo.sh build
