#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, each benchmark
# once, the Windows DLL and its tests under Wine, the release packages and
# their checks, the native suite under the sanitizers, and the fuzz targets.
# Installs what is missing first. Exits non-zero on any failure.
#
#   scripts/test.sh [--wine32]
#
# The Windows tests run in a 64-bit Wine prefix, the 32-bit DLL under WoW64 as
# on every current Windows; --wine32 runs them in a 32-bit prefix instead.
#
# One line per stage, with its time; each stage's whole output goes to
# build/logs/<stage>.log, whose last lines are shown when the stage fails
# (scripts/steps.sh). After each CTest run its own summary line is shown.
set -euo pipefail
cd "$(dirname "$0")/.."

wine_arch=win64
for arg in "$@"; do
  case "$arg" in
    --wine32) wine_arch=win32 ;;
    *)
      echo "usage: scripts/test.sh [--wine32]" >&2
      exit 2
      ;;
  esac
done

logs=$PWD/build/logs
rm -rf "$logs"
. scripts/steps.sh
wine_prefix=
# step_report returns the failure's status, which would end the trap under
# set -e: the Wine servers are stopped whatever it returns.
trap 'step_report || true; stop_wine' EXIT
# The Wine prefixes the Windows tests hold, one each (scripts/wine-run.sh):
# "first" is build/wine/<arch>, the others build/wine/<arch>-<id>.
wine_extras=$(grep -o '"id": "[a-z]*"' cmake/wine-prefixes.json | cut -d'"' -f4 | grep -vx first)
stop_wine() {
  local extra
  if [ -n "$wine_prefix" ]; then
    WINEPREFIX="$wine_prefix" wineserver -k 2>/dev/null || true
    for extra in $wine_extras; do WINEPREFIX="$wine_prefix-$extra" wineserver -k 2>/dev/null || true; done
  fi
}
jobs=$(nproc 2>/dev/null || echo 2)
# The suites wait on sleeps, locks, second processes and the disk more than
# they compute (the native suite's CPU time is a fifth of its run's time, the
# Windows suite's a tenth): twice as many tests as cores at a time.
test_jobs=$((2 * jobs))
started=$SECONDS
passed=0

# summary LOG: CTest's closing line(s) in LOG ("100% tests passed, 0 tests
# failed out of N"), shown, and the passed tests counted.
summary() {
  local line
  while IFS= read -r line; do
    printf '%s\n' "$line"
    passed=$((passed + $(sed -E 's/.* out of ([0-9]+)$/\1/' <<<"$line")))
  done < <(grep -E '^[0-9]+% tests passed, 0 tests failed out of [0-9]+$' "$1")
}

step "installing what is missing" "$logs/install-deps.log" scripts/install-deps.sh

native_build() { cmake --preset native && cmake --build --preset native -j"$jobs"; }
step "native build" "$logs/native-build.log" native_build
# fuzz_build PRESET VARIANT: the preset's build (clang), on
# fuzz/build-tinyxml.sh's TinyXML of that variant, at a lower priority.
fuzz_build() {
  local tinyxml
  tinyxml=$(fuzz/build-tinyxml.sh "$2")
  cmake --preset "$1" -DTINYXML_LIBRARY="$tinyxml/lib/libtinyxml.a" -DTINYXML_INCLUDE_DIR="$tinyxml/include"
  nice -n 10 cmake --build --preset "$1" -j"$jobs"
}
# Fuzzing: the libFuzzer targets of fuzz/ are built in the sanitizer build,
# and run briefly from their seed corpora and saved regressions at the end.
# Long runs: fuzz/run-fuzzers.sh. Their coverage-only build, which long runs
# put beside the checked one (fuzz/README.md), is built, and run once over
# each saved input, so that it stays usable.
fuzz_targets=(fuzz_document_reader fuzz_session_close fuzz_document_roundtrip fuzz_fast_plain)
# Sanitizers: the whole native suite again, built by clang with
# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer (preset
# "asan"; its C programs link UndefinedBehaviorSanitizer's C++ part and the
# C++ library, which the library they load needs for its checks of dynamic
# types). Any report fails the run, also one from a helper process whose
# test still passed.
asan_tests() {
  ctest --preset asan -j"$test_jobs"
  if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' build/asan/Testing/Temporary/LastTest.log; then
    echo "test.sh: sanitizer report in build/asan/Testing/Temporary/LastTest.log" >&2
    return 1
  fi
}
# The sanitizer build, its tests and the coverage-only fuzz build, one after
# the other beside the stages up to the release packages, the builds at a
# lower priority: they take what those stages leave, whose tests wait on
# sleeps, locks, second processes, Wine and the disk more than they compute,
# and the Windows build's serial stretches.
step_begin "native build with the sanitizers, fuzz targets too" "$logs/asan-build.log" fuzz_build asan checked \
  --then "native tests under the sanitizers" "$logs/asan-tests.log" asan_tests \
  --then "coverage-only fuzz targets' build" "$logs/fuzz-build.log" fuzz_build fuzz-explore explore
step "native tests" "$logs/native-tests.log" ctest --preset native -j"$test_jobs"
summary "$logs/native-tests.log"

# Benchmarks (bench/): each runs once at its smallest size so that they keep
# building and running; the measurements themselves: scripts/bench.sh.
benchmarks() {
  local machines
  machines=$(mktemp -d)
  build/native/bin/ch_bench --smoke --machines="$machines"
  build/native/bin/bench_session_once prepare "$machines/p100-c1M-d1K" --payloads=100
  build/native/bin/bench_session_once run "$machines/p100-c1M-d1K" --memory
  build/native/bin/bench_session_once run "$machines/p100-c1M-d1K" --floor
  rm -rf "$machines"
}
step "benchmarks, once each at the smallest size" "$logs/benchmarks.log" benchmarks

windows_build() {
  export CUSTOMHOOKS_WIN_DEPS
  CUSTOMHOOKS_WIN_DEPS=$(scripts/build-win-deps.sh)
  cmake --preset windows && cmake --build --preset windows -j"$jobs"
}
step "Windows DLL (i686) and its dependencies" "$logs/windows-build.log" windows_build
# The prefixes, made side by side: the tests run one in each at a time.
start_wine() {
  local extra others=()
  for extra in $wine_extras; do
    scripts/wine-prefix.sh --start --extra "$extra" "$wine_arch" >/dev/null &
    others+=($!)
  done
  wine_prefix=$(scripts/wine-prefix.sh --start "$wine_arch")
  for extra in "${others[@]}"; do wait "$extra"; done
}
step "Wine prefixes ($wine_arch)" "$logs/wine-prefix.log" start_wine
windows_preset=windows
if [ "$wine_arch" = win32 ]; then windows_preset=windows-win32; fi
step "Windows tests under Wine" "$logs/windows-tests.log" ctest --preset "$windows_preset"
summary "$logs/windows-tests.log"

# Release packages (README "Release"): dist/ gets what scripts/package.sh
# without options makes. Its signing is tried on copies, with a throwaway
# code-signing certificate of a throwaway CA, into build/release/signing-check,
# and the signatures are checked against that CA.
signing=$PWD/build/release/signing-key
make_throwaway_key() {
  rm -rf "$signing"
  mkdir -p "$signing"
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=CustomHooks throwaway CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout "$signing/ca.key" -out "$signing/ca.pem"
  openssl req -newkey rsa:2048 -nodes -subj "/CN=CustomHooks throwaway signer" \
    -keyout "$signing/signer.key" -out "$signing/signer.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    > "$signing/signer.ext"
  openssl x509 -req -days 1 -in "$signing/signer.csr" -CA "$signing/ca.pem" -CAkey "$signing/ca.key" \
    -CAcreateserial -extfile "$signing/signer.ext" -out "$signing/signer.pem"
  openssl pkcs12 -export -in "$signing/signer.pem" -inkey "$signing/signer.key" -certfile "$signing/ca.pem" \
    -passout env:CUSTOMHOOKS_SIGN_PASSWORD -out "$signing/signer.p12"
}
export CUSTOMHOOKS_SIGN_PASSWORD
CUSTOMHOOKS_SIGN_PASSWORD=$(openssl rand -hex 16)
step "throwaway signing key" "$logs/signing-key.log" make_throwaway_key
step "release packages in dist/, signing tried on copies" "$logs/package.log" \
  scripts/package.sh --sign-pkcs12 "$signing/signer.p12" --signed-to build/release/signing-check
summary "$logs/package.log"
check_signing() {
  local package
  package=$(basename build/release/signing-check/CustomHooks-*-win32.zip .zip)
  packaging/check_signed_package.sh "build/release/signing-check/$package.zip" "$signing/ca.pem" \
    "build/release/stage-windows/$package"
}
step "signatures of the signing copies" "$logs/signing-check.log" check_signing
rm -rf "$signing"
unset CUSTOMHOOKS_SIGN_PASSWORD
step_end
summary "$logs/asan-tests.log"

# A fixed seed: every run explores the same inputs first, so a clean tree
# stays green; the long runs explore further. Each target has a core of its
# own for its 30 seconds: as many run at a time as there are cores, up to
# two.
run_fuzz_targets() {
  local status=0 other
  if [ "$jobs" -lt 2 ]; then
    FUZZ_TARGETS="${fuzz_targets[*]}" fuzz/run-fuzzers.sh build/asan 30 -seed=1
    return
  fi
  FUZZ_TARGETS="${fuzz_targets[*]:0:2}" fuzz/run-fuzzers.sh build/asan 30 -seed=1 &
  other=$!
  FUZZ_TARGETS="${fuzz_targets[*]:2}" fuzz/run-fuzzers.sh build/asan 30 -seed=1 || status=$?
  wait "$other" || status=$?
  return "$status"
}
step "fuzz targets, 30 seconds each, two at a time" "$logs/fuzz-run.log" run_fuzz_targets
replay_saved_inputs() {
  local target saved
  for target in "${fuzz_targets[@]}"; do
    saved=(fuzz/corpus/"$target"/*)
    if [ -d "fuzz/regressions/$target" ]; then saved+=(fuzz/regressions/"$target"/*); fi
    "build/fuzz-explore/bin/$target" "${saved[@]}"
  done
}
step "coverage-only fuzz targets over the saved inputs" "$logs/fuzz-explore-run.log" replay_saved_inputs

elapsed=$((SECONDS - started))
printf '%d passed, 0 failed (CTest), every stage done in %d min %02d s; logs in %s\n' \
  "$passed" $((elapsed / 60)) $((elapsed % 60)) "$logs"
