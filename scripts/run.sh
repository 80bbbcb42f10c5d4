#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the desktop program against a private
# namespace network of simulated devices (scripts/desktop.sh): on your display when $DISPLAY
# works, otherwise on a private Xvfb, where it saves docs/first-scan.png and ends. Needs root
# for the namespaces. scripts/demo.sh shows the same network from the command line (vepctl).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target scoutor vepctl vepsim vep
exec scripts/desktop.sh build docs/first-scan.png
