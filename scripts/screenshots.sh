#!/usr/bin/env bash
# Pictures of the desktop program's dialogs under Xvfb, at scale 1 and 2, into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja >/dev/null
cmake --build "$dir" --target ui_screenshots >/dev/null
mkdir -p docs
for scale in 1 2; do
  suffix=""
  [ "$scale" = 2 ] && suffix="@2x"
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 1280x800x24" \
    "$dir/tests/ui/ui_screenshots" docs "$suffix"
done
ls docs/*.png
