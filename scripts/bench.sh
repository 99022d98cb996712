#!/usr/bin/env bash
# Measures the module against the floor of its work, at scale (bench/README.md).
#
#   scripts/bench.sh [--smoke] [Google Benchmark flags, e.g. --benchmark_filter=session]
#
# Builds the native benchmarks in build/bench (BENCH_BUILD_DIR overrides it),
# keeps the generated machines in <build>/machines for later runs, and prints:
#   1. ch_bench: module and floor per benchmark, with the table of medians,
#      ratios and the cost of one more payload;
#   2. the peak memory of one whole session at 100k payloads (a process of
#      its own);
#   3. the instructions of one whole session at 1k payloads (callgrind).
# --smoke runs everything once at the smallest size.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD_DIR:-build/bench}
machines=$build/machines
smoke=
if [ "${1:-}" = "--smoke" ]; then
  smoke=1
  shift
fi

cmake --preset native -B "$build" -DCUSTOMHOOKS_BUILD_TESTS=OFF -DCUSTOMHOOKS_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target ch_bench bench_session_once >/dev/null
bin=$build/bin
mkdir -p "$machines"

if [ -n "$smoke" ]; then
  memory_payloads=100
  "$bin/ch_bench" --smoke --machines="$machines" "$@"
else
  memory_payloads=100000
  "$bin/ch_bench" --machines="$machines" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
fi

echo
echo "== peak memory of one session at $memory_payloads payloads"
"$bin/bench_session_once" prepare "$machines/p$memory_payloads-c1M-d1K" --payloads=$memory_payloads
"$bin/bench_session_once" run "$machines/p$memory_payloads-c1M-d1K" --memory

echo
echo "== instructions of one session at 1000 payloads (callgrind)"
if [ -n "$smoke" ]; then
  echo "skipped with --smoke"
elif ! command -v valgrind >/dev/null 2>&1; then
  echo "skipped: valgrind is not installed (apt-get install valgrind)"
else
  "$bin/bench_session_once" prepare "$machines/p1000-c1M-d1K" --payloads=1000
  out=$build/callgrind.session.out
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect=KXInstallerCustomHookProc \
    "$bin/bench_session_once" run "$machines/p1000-c1M-d1K" 2>&1 | grep 'refs:' | sed 's/^==[0-9]*== *//'
  echo "profile: $out (callgrind_annotate --inclusive=yes $out | head -40)"
fi
