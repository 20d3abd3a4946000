#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build-ci -DCMAKE_BUILD_TYPE=CI -DMOIREX_WERROR=ON >/dev/null
cmake --build build-ci -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-ci --output-on-failure -j"$jobs" --timeout 300

# The threaded tests of the run (run controller, MFC worker, whole runs on the emulator) once more
# under ThreadSanitizer.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=TSan -DMOIREX_WERROR=ON -DMOIREX_BUILD_UI=OFF \
  -DMOIREX_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target test_core
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 300 \
  -R '^(RunController|MFCThread|EndToEnd)'

# The window's hand-over (the worker's routine run on the Qt event loop) under ThreadSanitizer.
cmake -S . -B build-tsan-ui -DCMAKE_BUILD_TYPE=TSan -DMOIREX_WERROR=ON -DMOIREX_BUILD_BENCH=OFF \
  >/dev/null
cmake --build build-tsan-ui -j"$jobs" --target test_ui
QT_QPA_PLATFORM=offscreen ctest --test-dir build-tsan-ui --output-on-failure --timeout 300 -R '^QtHandOver'
