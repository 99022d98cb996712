#!/usr/bin/env bash
# The demonstration: builds the module and kxhost, lays out a machine in a
# fresh folder, and drives a whole install session through the library.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc 2>/dev/null || echo 2)" --target CustomHooks kxhost >/dev/null

machine=$(mktemp -d "${TMPDIR:-/tmp}/customhooks-demo.XXXXXX")
export CommonProgramFiles="$machine/Program Files/Common Files"
export "CommonProgramFiles(x86)=$CommonProgramFiles"
export ProgramData="$machine/ProgramData"
mkdir -p "$CommonProgramFiles" "$ProgramData"
echo "Machine laid out in $machine"
echo

build/native/bin/kxhost --mode install --entry all \
  --prop "mediaSignature={9A3E4F2B-7C1D-4E8A-B5F6-0D2C8E1A7B34}" \
  --prop installLanguage=fr_MA \
  build/native/bin/libCustomHooks.so
