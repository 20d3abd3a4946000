#!/usr/bin/env bash
# Installs what is needed, builds, and starts the mixer's main job with no hardware: the desktop
# program on the instrument emulator (moirex --emulator) when a display is there; otherwise a
# short segment program run headless on the emulator, with the run log and the recipe file it
# leaves. Builds only the programs it runs (no tests, no benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DMOIREX_BUILD_TESTS=OFF \
  -DMOIREX_BUILD_BENCH=OFF >/dev/null
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  cmake --build build-demo -j"$(nproc)" --target moirex
  echo "Starting moirex --emulator: Find ports, Validate, pick the gases, then design and Start."
  exec build-demo/apps/moirex/moirex --emulator
fi
echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the headless demo instead."
cmake --build build-demo -j"$(nproc)" --target moirexctl moirex-sim
ctl=build-demo/apps/moirexctl/moirexctl
sim=build-demo/apps/moirex-sim/moirex-sim
"$ctl" --version

# A private folder for the emulator's ports and for the mixer's files (recipe, logs, INI file).
work=$(mktemp -d /tmp/moirex-demo.XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

"$sim" --runtime-dir "$work/ports" --status "$work/sim-status.json" </dev/null >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [ -e "$work/ports/pump" ] && [ -e "$work/ports/mfc-a" ] && [ -e "$work/ports/mfc-b" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log"; exit 1; }
  sleep 0.1
done
cat "$work/sim.log"

echo
echo "== Segment program examples/demo-program.csv"
cat examples/demo-program.csv
echo
echo "== moirexctl run"
status=0
MOIREX_HOME="$work/home" "$ctl" run examples/demo-program.csv \
  --pump "$work/ports/pump" --mfc-a "$work/ports/mfc-a" --mfc-b "$work/ports/mfc-b" \
  --gas-a N2 --gas-b Ar --data "$work/flows.csv" --yes || status=$?

echo
echo "== Flow readings (first lines of $work/flows.csv)"
head -n 8 "$work/flows.csv" 2>/dev/null || true
echo
for f in "$work"/home/Userdata/Recipe*.txt; do
  [ -e "$f" ] || continue
  echo "== Recipe file $f"
  tr -d '\r' <"$f"
done
echo
echo "moirexctl run ended with status $status; files kept in $work"
exit "$status"
