#!/usr/bin/env bash
# Runs every fuzz target of a build made with the "fuzz" preset for a while,
# starting from its seed corpus and its saved regressions.
#   fuzz/run-fuzzers.sh <build folder> <seconds per target> [libFuzzer option...]
# New inputs the fuzzer keeps go to <build folder>/fuzz-runs/<target>/corpus
# (the seed folders are only read). When a target fails, its input is left
# in <build folder>/fuzz-runs/<target>/ and the script exits with 1 after
# the other targets ran.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$1
seconds=$2
shift 2
# The session target lays a machine out for every input: a memory-backed
# folder keeps that from waiting on the disk.
scratch=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=/dev/shm; fi

failed=0
for target in fuzz_document_reader fuzz_document_roundtrip fuzz_session_close; do
  run="$build/fuzz-runs/$target"
  mkdir -p "$run/corpus"
  seeds=("fuzz/corpus/$target")
  if [ -d "fuzz/regressions/$target" ]; then seeds+=("fuzz/regressions/$target"); fi
  echo "fuzz: $target for ${seconds}s" >&2
  if ! TMPDIR="$scratch" "$build/bin/$target" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
      -artifact_prefix="$run/" "$@" "$run/corpus" "${seeds[@]}" >"$run/log.txt" 2>&1; then
    tail -n 40 "$run/log.txt" >&2
    echo "fuzz: $target FAILED; input and log in $run" >&2
    failed=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$run/log.txt" | sed "s/^/fuzz: $target: /" >&2
  fi
done
exit "$failed"
