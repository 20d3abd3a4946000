#!/usr/bin/env bash
# Pictures of every page of the window into docs/, made on a virtual X display (Xvfb) at 96 dpi
# with the window running on the instrument emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DMOIREX_BUILD_TESTS=OFF \
  -DMOIREX_BUILD_BENCH=OFF >/dev/null
cmake --build build-demo -j"$(nproc)" --target moirex-screenshots
work=$(mktemp -d /tmp/moirex-screenshots.XXXXXX)
xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" build-demo/apps/moirex/moirex-screenshots "$work"
mkdir -p docs
cp "$work"/page-*.png docs/
rm -rf "$work"
ls docs/page-*.png
