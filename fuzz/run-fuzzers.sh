#!/usr/bin/env bash
# Runs fuzz targets of a build made with the "asan" preset for a while,
# starting from their seed corpora and saved regressions.
#   fuzz/run-fuzzers.sh <build folder> <seconds per target> [libFuzzer option...]
# FUZZ_TARGETS: the targets to run, in turn (all four when unset).
# FUZZ_EXPLORE: a build made with the "fuzz-explore" preset. Each target of
#   it then runs beside the checked one for the same time, on the same corpus
#   folder: it tries inputs about twice as fast, without the sanitizers, and
#   every input it keeps is picked up and run by the checked one (libFuzzer
#   reloads the corpus folder every second).
# New inputs the fuzzers keep go to <build folder>/fuzz-runs/<target>/corpus
# (the seed folders are only read). When a target fails, its input is left
# in <build folder>/fuzz-runs/<target>/ and the script exits with 1 after
# the other targets ran.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$1
seconds=$2
shift 2
targets=${FUZZ_TARGETS:-fuzz_document_reader fuzz_document_roundtrip fuzz_session_close fuzz_fast_plain}
explore=${FUZZ_EXPLORE:-}
# The session target lays a machine out for every input: a memory-backed
# folder keeps that from waiting on the disk.
scratch=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=/dev/shm; fi

# run <binary> <run folder> <name of its log and artifacts> <seeds...>
run() {
  local binary=$1 run=$2 name=$3
  shift 3
  TMPDIR="$scratch" "$binary" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$run/$name-" "${options[@]}" "$run/corpus" "$@" >"$run/$name.log" 2>&1
}

failed=0
options=("$@")
for target in $targets; do
  run="$build/fuzz-runs/$target"
  mkdir -p "$run/corpus"
  seeds=("fuzz/corpus/$target")
  if [ -d "fuzz/regressions/$target" ]; then seeds+=("fuzz/regressions/$target"); fi
  echo "fuzz: $target for ${seconds}s" >&2
  names=(checked)
  pids=()
  run "$build/bin/$target" "$run" checked "${seeds[@]}" &
  pids+=($!)
  if [ -n "$explore" ]; then
    names+=(explore)
    run "$explore/bin/$target" "$run" explore "${seeds[@]}" &
    pids+=($!)
  fi
  for i in "${!pids[@]}"; do
    log="$run/${names[$i]}.log"
    if ! wait "${pids[$i]}"; then
      tail -n 40 "$log" >&2
      echo "fuzz: $target (${names[$i]}) FAILED; input and log in $run" >&2
      failed=1
    else
      grep -E '^stat::number_of_executed_units|^stat::average_exec_per_sec|^Done' "$log" |
        sed "s/^/fuzz: $target (${names[$i]}): /" >&2
    fi
  done
done
exit "$failed"
