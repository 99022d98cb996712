#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, then the Windows
# DLL and its tests under Wine. Installs what is missing first. Exits non-zero
# on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

# ---- Benchmarks (bench/): each runs once at its smallest size so that they
# keep building and running; the measurements themselves: scripts/bench.sh.
echo "== benchmarks, once each at the smallest size"
bench_machines=$(mktemp -d)
build/native/bin/ch_bench --smoke --machines="$bench_machines"
build/native/bin/bench_session_once prepare "$bench_machines/p100-c1M-d1K" --payloads=100
build/native/bin/bench_session_once run "$bench_machines/p100-c1M-d1K" --memory
rm -rf "$bench_machines"

echo "== Windows DLL (i686) and tests under Wine"
export CUSTOMHOOKS_WIN_DEPS
CUSTOMHOOKS_WIN_DEPS=$(scripts/build-win-deps.sh)
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
export WINEDEBUG=-all WINEPREFIX="$PWD/build/windows/wineprefix"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1 || true
  wineserver --wait || true
fi
ctest --preset windows
