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

# Tests of permissions (a read-only folder, an unreadable file) skip themselves as root, who may
# read and write anything: under root they run once more as the unprivileged user nobody, from a
# copy of their binaries that nobody may run wherever the build tree lies.
if [ "$(id -u)" = 0 ]; then
  unpriv=$(mktemp -d)
  chmod 755 "$unpriv"
  cp build-ci/tests/test_support build-ci/tests/test_config build-ci/tests/test_devices "$unpriv"/
  for t in test_support:'IniFileTest.*' test_config:'ConfigFileTest.*' test_devices:'PortAccess.*'; do
    setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp TMPDIR=/tmp \
      "$unpriv/${t%%:*}" --gtest_filter="${t#*:}" --gtest_brief=1
  done
  rm -rf "$unpriv"
fi

# The Debian package: a Release build of the programs only (Debian's hardening flags, no tests),
# packed by CPack, checked by lintian, unpacked into a scratch root and tried there.
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DMOIREX_BUILD_TESTS=OFF -DMOIREX_BUILD_BENCH=OFF \
  >/dev/null
cmake --build build-deb -j"$jobs"
rm -f build-deb/moirex_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-deb/CMakeCache.txt)
bash tests/packaging/package-test.sh build-deb/moirex_"$version"_*.deb "$version"

# Every test that starts a thread once more under ThreadSanitizer: the run controller and its
# exchanges, the MFC worker, the Setup page's instrument work, whole runs on the emulator, the
# serial lines and the port claims, the emulator itself, the service tools, the SECoP node. Each test binary of
# those layers runs whole, so a new threaded test is covered without a name pattern.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=TSan -DMOIREX_WERROR=ON -DMOIREX_BUILD_UI=OFF \
  -DMOIREX_BUILD_BENCH=OFF >/dev/null
tsan_suites=(core devices sim config remote)
cmake --build build-tsan -j"$jobs" --target "${tsan_suites[@]/#/test_}"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for suite in "${tsan_suites[@]}"; do
  (cd build-tsan/tests && timeout 1800 ./test_"$suite" --gtest_brief=1)
done

# The window's hand-over (the worker's routine run on the Qt event loop) under ThreadSanitizer.
cmake -S . -B build-tsan-ui -DCMAKE_BUILD_TYPE=TSan -DMOIREX_WERROR=ON -DMOIREX_BUILD_BENCH=OFF \
  >/dev/null
cmake --build build-tsan-ui -j"$jobs" --target test_ui
QT_QPA_PLATFORM=offscreen ctest --test-dir build-tsan-ui --output-on-failure --timeout 300 -R '^QtHandOver'

# The parsers under libFuzzer (clang): about 30 s each, on a scratch copy of the seed corpus in
# fuzz/corpus, so the repository is not written to. A crash fails the run; its input is kept.
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Fuzz -DMOIREX_BUILD_FUZZ=ON \
  -DMOIREX_BUILD_UI=OFF -DMOIREX_BUILD_TESTS=OFF -DMOIREX_BUILD_BENCH=OFF >/dev/null
harnesses=(modbus_answer pump_answer ini_file program_file sim_request secop_message)
cmake --build build-fuzz -j"$jobs" --target "${harnesses[@]/#/fuzz_}"
fuzzwork=build-fuzz/work
for h in "${harnesses[@]}"; do
  rm -rf "$fuzzwork/$h" && mkdir -p "$fuzzwork/$h"
  build-fuzz/fuzz/fuzz_"$h" -max_total_time=30 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$fuzzwork/$h-" "$fuzzwork/$h" fuzz/corpus/"$h" 2>&1 | tail -n 12
done
