#!/usr/bin/env bash
# Measures the module against the floor of its work, at scale (bench/README.md).
#
#   scripts/bench.sh [--smoke] [Google Benchmark flags, e.g. --benchmark_filter=session]
#
# Builds the native benchmarks in build/bench (BENCH_BUILD_DIR overrides it),
# keeps the generated machines in <build>/machines for later runs, and prints:
#   1. ch_bench: module and floor per benchmark, with the table of medians,
#      ratios and the cost of one more payload, also written to
#      <build>/figures.csv;
#   2. the pictures of that table (bench/plot.gp, gnuplot):
#      <build>/session-time.png and <build>/session-marginal.png;
#   3. the peak memory of one whole session at 100k payloads (a process of
#      its own);
#   4. the instructions of one whole session at 1k payloads, module and
#      floor (callgrind).
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

figures=$build/figures.csv
if [ -n "$smoke" ]; then
  memory_payloads=100
  "$bin/ch_bench" --smoke --machines="$machines" --figures="$figures" "$@"
else
  memory_payloads=100000
  "$bin/ch_bench" --machines="$machines" --figures="$figures" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true "$@"
fi

echo
echo "== pictures"
if command -v gnuplot >/dev/null 2>&1; then
  sizes=$(grep -c '^session/' "$figures" || true)
  rm -f "$build/session-time.png" "$build/session-marginal.png"
  gnuplot -e "figures='$figures'; out='$build'; sizes=$sizes" bench/plot.gp
  ls "$build"/session-*.png
else
  echo "skipped: gnuplot is not installed (apt-get install gnuplot-nox)"
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
  # Only the hook call is counted for the module, only RunSessionFloor for
  # the floor.
  for side in module floor; do
    out=$build/callgrind.$side.out
    if [ $side = module ]; then
      collect=KXInstallerCustomHookProc
      mode=
    else
      collect='RunSessionFloor*'
      mode=--floor
    fi
    refs=$(valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="$collect" \
      "$bin/bench_session_once" run "$machines/p1000-c1M-d1K" $mode 2>&1 | sed -n 's/^==[0-9]*== I *refs: *//p')
    echo "$side: $refs instructions (callgrind_annotate --inclusive=yes $out | head -40)"
  done
fi
