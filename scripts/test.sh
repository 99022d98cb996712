#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, then the Windows
# DLL and its tests under Wine. Installs what is missing first. Exits non-zero
# on any failure.
#
#   scripts/test.sh [--wine32]
#
# The Windows tests run in a 64-bit Wine prefix, the 32-bit DLL under WoW64 as
# on every current Windows; --wine32 runs them in a 32-bit prefix instead.
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
build/native/bin/bench_session_once run "$bench_machines/p100-c1M-d1K" --floor
rm -rf "$bench_machines"

echo "== Windows DLL (i686) and tests under Wine, $wine_arch prefix"
export CUSTOMHOOKS_WIN_DEPS
CUSTOMHOOKS_WIN_DEPS=$(scripts/build-win-deps.sh)
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
prefix=$(scripts/wine-prefix.sh --start "$wine_arch")
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
if [ "$wine_arch" = win32 ]; then
  ctest --preset windows-win32
else
  ctest --preset windows
fi
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
trap - EXIT

# ---- Release packages (README "Release"): built twice to be compared byte
# for byte, the Windows binaries then signed with a throwaway code-signing
# certificate of a throwaway CA, then each package unpacked and run through a
# session by its own kxhost, and the signatures checked against that CA.
echo "== release packages, signed with a throwaway certificate, and their checks"
signing=$(mktemp -d)
CUSTOMHOOKS_SIGN_PASSWORD=$(openssl rand -hex 16)
export CUSTOMHOOKS_SIGN_PASSWORD
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=CustomHooks throwaway CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -keyout "$signing/ca.key" -out "$signing/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=CustomHooks throwaway signer" \
  -keyout "$signing/signer.key" -out "$signing/signer.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  > "$signing/signer.ext"
openssl x509 -req -days 1 -in "$signing/signer.csr" -CA "$signing/ca.pem" -CAkey "$signing/ca.key" \
  -CAcreateserial -extfile "$signing/signer.ext" -out "$signing/signer.pem" 2>/dev/null
openssl pkcs12 -export -in "$signing/signer.pem" -inkey "$signing/signer.key" -certfile "$signing/ca.pem" \
  -passout env:CUSTOMHOOKS_SIGN_PASSWORD -out "$signing/signer.p12"
scripts/package.sh --sign-pkcs12 "$signing/signer.p12"
win_package=$(basename dist/CustomHooks-*-win32.zip .zip)
packaging/check_signed_package.sh "dist/$win_package.zip" "$signing/ca.pem" \
  "build/release/stage-windows/$win_package"
rm -rf "$signing"
unset CUSTOMHOOKS_SIGN_PASSWORD

# ---- Sanitizers: the whole native suite again, built with AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer (preset "asan"). Any report
# fails the run, also one from a helper process whose test still passed.
echo "== native tests under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"
if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' build/asan/Testing/Temporary/LastTest.log; then
  echo "test.sh: sanitizer report in build/asan/Testing/Temporary/LastTest.log" >&2
  exit 1
fi

# ---- Fuzzing: the libFuzzer targets of fuzz/ (preset "fuzz", clang), with a
# TinyXML of their own that is instrumented as well, run briefly from their
# seed corpora and saved regressions. Long runs: fuzz/run-fuzzers.sh.
echo "== fuzz targets, 30 seconds each"
fuzz_tinyxml=$(fuzz/build-tinyxml.sh)
cmake --preset fuzz -DTINYXML_LIBRARY="$fuzz_tinyxml/lib/libtinyxml.a" \
  -DTINYXML_INCLUDE_DIR="$fuzz_tinyxml/include" >/dev/null
cmake --build --preset fuzz -j"$jobs"
# A fixed seed: every run explores the same inputs first, so a clean tree
# stays green; the long runs explore further.
fuzz/run-fuzzers.sh build/fuzz 30 -seed=1
# The coverage-only build that long runs put beside these (fuzz/README.md):
# built, and run once over each saved input, so that it stays usable.
explore_tinyxml=$(fuzz/build-tinyxml.sh explore)
cmake --preset fuzz-explore -DTINYXML_LIBRARY="$explore_tinyxml/lib/libtinyxml.a" \
  -DTINYXML_INCLUDE_DIR="$explore_tinyxml/include" >/dev/null
cmake --build --preset fuzz-explore -j"$jobs"
for target in fuzz_document_reader fuzz_document_roundtrip fuzz_session_close fuzz_fast_plain; do
  saved=(fuzz/corpus/"$target"/*)
  if [ -d "fuzz/regressions/$target" ]; then saved+=(fuzz/regressions/"$target"/*); fi
  "build/fuzz-explore/bin/$target" "${saved[@]}" >build/fuzz-explore/"$target".log 2>&1 || {
    tail -n 40 build/fuzz-explore/"$target".log >&2
    exit 1
  }
done
