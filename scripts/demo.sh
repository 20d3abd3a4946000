#!/usr/bin/env bash
# Installs what is needed, builds, and runs the mixer's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
ctl=build/apps/moirexctl/moirexctl
"$ctl" --version
"$ctl" --help
