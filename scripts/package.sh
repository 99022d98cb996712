#!/usr/bin/env bash
# Makes the release packages, in dist/:
#
#   CustomHooks-<version>-win32.zip          CustomHooks.dll, kxhost.exe,
#                                            include/CustomHooks.h, README.txt
#                                            (notes for installer engineers),
#                                            SHA256SUMS
#   CustomHooks-<version>-win32-symbols.zip  a symbol store: both binaries and
#                                            their PDBs, laid out as a symbol
#                                            server serves them (<file>/<key>/<file>)
#   CustomHooks-<version>-linux-x86_64.tar.gz   libCustomHooks.so, kxhost, the
#                                            header, README.txt, SHA256SUMS
#   CustomHooks-<version>-linux-x86_64-debug/   their .debug files
#   SHA256SUMS                               of every file above
#
#   scripts/package.sh [--sign-pkcs12 FILE | --sign-pkcs11 MODULE KEYID --sign-cert FILE]
#                      [--timestamp URL]
#
# Each package is built in Release from a clean build folder (presets
# release-windows and release-posix) and installed with `cmake --install`.
# The Windows binaries keep the CodeView debug directory that names their PDB
# (CustomHooks.pdb, kxhost.pdb, written by lld beside them), and lose only
# the DWARF sections the static runtime brings; the POSIX binaries are
# stripped and linked to their debug files (objcopy --only-keep-debug,
# --add-gnu-debuglink). The Windows build is made twice, the second time from
# a copy of the sources in another folder: the two builds' binaries, PDBs,
# zips and symbol zips must be bit-identical, or nothing is packaged. Then
# each package is checked as a customer gets it (ctest presets
# release-windows, under Wine in the 64-bit prefix, and release-posix): its
# files and checksums, the symbol store against the binaries and an address
# resolved through the PDB, and a whole install session on the sample suite
# driven by the packaged kxhost.
#
# Signing: with --sign-pkcs12 (a PKCS#12 file) or --sign-pkcs11 (MODULE the
# token's PKCS#11 library, KEYID the key's id or URI, --sign-cert its PEM
# certificate chain), CustomHooks.dll and kxhost.exe get an Authenticode
# signature (osslsigncode, SHA-256, the PE checksum set), with an RFC 3161
# time stamp from URL when --timestamp is given. The password or PIN is read
# from CUSTOMHOOKS_SIGN_PASSWORD. The two builds are compared unsigned; the
# signed copies (build/release/stage-windows-signed) make the zip, whose
# SHA256SUMS covers them, and the symbol store.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/package.sh [--sign-pkcs12 FILE | --sign-pkcs11 MODULE KEYID --sign-cert FILE] [--timestamp URL]" >&2
  exit 2
}
sign=()
sign_cert=
timestamp=
while [ $# -gt 0 ]; do
  case "$1" in
    --sign-pkcs12) [ $# -ge 2 ] || usage; sign=(-pkcs12 "$(realpath "$2")"); shift 2 ;;
    --sign-pkcs11) [ $# -ge 3 ] || usage; sign=(-pkcs11module "$2" -key "$3"); shift 3 ;;
    --sign-cert) [ $# -ge 2 ] || usage; sign_cert=$(realpath "$2"); shift 2 ;;
    --timestamp) [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
    *) usage ;;
  esac
done
if [ "${sign[0]:-}" = -pkcs11module ]; then
  [ -n "$sign_cert" ] || { echo "package: --sign-pkcs11 needs --sign-cert FILE" >&2; exit 2; }
  sign+=(-certs "$sign_cert")
fi
if [ "${#sign[@]}" -gt 0 ] && [ -z "${CUSTOMHOOKS_SIGN_PASSWORD+set}" ]; then
  echo "package: set CUSTOMHOOKS_SIGN_PASSWORD to the key's password or PIN" >&2
  exit 2
fi

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
export CUSTOMHOOKS_WIN_DEPS
CUSTOMHOOKS_WIN_DEPS=$(scripts/build-win-deps.sh)
# File times in the archives: the time of the commit packaged.
stamp=$(TZ=UTC git log -1 --format=%cd --date=format-local:'%Y-%m-%d %H:%M:%S' 2>/dev/null ||
        date -u '+%Y-%m-%d %H:%M:%S')

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

# symbol_key FILE: the folder a symbol server keeps FILE in. A PDB: its GUID
# (32 hex digits, as written in braces) and age, read from the PDB. A binary:
# its PE time stamp (8 hex digits) and image size, read from its header. The
# digits are those of symstore: upper case, the age and size in lower case.
symbol_key() {
  case "$1" in
    *.pdb)
      llvm-pdbutil dump -summary "$1" | awk '
        $1 == "GUID:" { guid = toupper($2); gsub(/[{}-]/, "", guid) }
        $1 == "Age:" { age = $2 }
        END { if (guid == "" || age == "") exit 1; printf "%s%x\n", guid, age }' ;;
    *)
      llvm-readobj --file-headers "$1" | awk '
        $1 == "TimeDateStamp:" { ts = substr($NF, 4, length($NF) - 4) }
        $1 == "SizeOfImage:" { size = $2 }
        END { if (ts == "" || size == "") exit 1
              key = sprintf("%8s%x", toupper(ts), size); gsub(/ /, "0", key); print key }' ;;
  esac
}

# make_zip BASE ZIP [FOLDER]: the files under BASE/FOLDER (all of BASE
# without it) into ZIP (an absolute path), named relative to BASE, in name
# order, stamped with the commit time, without the owner and access times an
# archiver would take from the file system.
make_zip() {
  local files
  files=$(cd "$1" && find "${3:-.}" -type f | sed 's|^\./||' | LC_ALL=C sort)
  (cd "$1" && xargs -d '\n' touch -d "$stamp UTC" <<<"$files" &&
     rm -f "$2" && TZ=UTC zip -X -D -q "$2" -@ <<<"$files")
}

# pack_windows STAGE NAME: the Windows package's SHA256SUMS and its zip
# STAGE/NAME.zip; the symbol store of its binaries and of the PDBs in
# STAGE/pdb, STAGE/NAME-symbols, and its zip STAGE/NAME-symbols.zip.
pack_windows() {
  local stage=$1 name=$2 file store
  (cd "$stage/$name" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
     xargs sha256sum > SHA256SUMS)
  make_zip "$stage" "$stage/$name.zip" "$name"
  rm -rf "$stage/$name-symbols"
  for file in "$stage/$name"/*.dll "$stage/$name"/*.exe "$stage"/pdb/*.pdb; do
    store="$stage/$name-symbols/$(basename "$file")/$(symbol_key "$file")"
    mkdir -p "$store"
    cp "$file" "$store/"
  done
  make_zip "$stage/$name-symbols" "$stage/$name-symbols.zip"
}

# stage PRESET BUILD_FOLDER STAGE: builds the package's files from a clean
# build folder and installs them into STAGE/<name>; prints <name>. Windows:
# the PDBs go to STAGE/pdb, and the DWARF sections of the static runtime
# leave the binaries. POSIX: the binaries are stripped, their debug files in
# STAGE/<name>-debug, and SHA256SUMS written.
stage() {
  local preset=$1 build=$2 stage=$3
  rm -rf "$build" "$stage"
  cmake --preset "$preset" -B "$build" >/dev/null
  cmake --build "$build" -j"$jobs" --target CustomHooks kxhost samplesuite >&2
  local name objcopy binary
  name=$(cache_value "$build" CUSTOMHOOKS_PACKAGE_NAME)
  objcopy=$(cache_value "$build" CMAKE_OBJCOPY)
  cmake --install "$build" --prefix "$stage/$name" >/dev/null
  if [ -f "$stage/$name/CustomHooks.dll" ]; then
    mkdir -p "$stage/pdb"
    for binary in "$stage/$name"/*.dll "$stage/$name"/*.exe; do
      cp "$build/bin/$(basename "${binary%.*}").pdb" "$stage/pdb/"
      "$objcopy" --strip-debug "$binary"
    done
  else
    mkdir -p "$stage/$name-debug"
    for binary in "$stage/$name"/*CustomHooks.* "$stage/$name"/kxhost*; do
      local debug="$stage/$name-debug/$(basename "$binary").debug"
      "$objcopy" --only-keep-debug "$binary" "$debug"
      "$objcopy" --strip-all --add-gnu-debuglink="$debug" "$binary"
    done
    (cd "$stage/$name" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
       xargs sha256sum > SHA256SUMS)
  fi
  echo "$name"
}

echo "== Windows package: two Release builds from clean folders, the second of a copy of the sources"
win=$(stage release-windows build/release/windows build/release/stage-windows)
pack_windows "$PWD/build/release/stage-windows" "$win"
again=build/release/again
rm -rf "$again"
mkdir -p "$again/src"
tar -cf - --exclude=./build --exclude=./dist --exclude=./.git . | tar -xf - -C "$again/src"
(cd "$again/src" && stage release-windows "$PWD/../build" "$PWD/../stage" >/dev/null &&
   pack_windows "$PWD/../stage" "$win")
if ! diff -r build/release/stage-windows "$again/stage" >&2; then
  echo "package: two builds of the same sources differ (above); nothing packaged" >&2
  exit 1
fi
echo "the two builds are bit-identical: binaries, PDBs, zip and symbol zip"
rm -rf "$again"

win_stage=build/release/stage-windows
rm -rf "$win_stage-signed"
if [ "${#sign[@]}" -gt 0 ]; then
  echo "== signing CustomHooks.dll and kxhost.exe"
  cp -r "$win_stage" "$win_stage-signed"
  win_stage=$win_stage-signed
  for binary in "$win_stage/$win"/*.dll "$win_stage/$win"/*.exe; do
    args=("${sign[@]}" -h sha256 -n CustomHooks -in "$binary" -out "$binary.signed")
    if [ -n "$timestamp" ]; then args+=(-ts "$timestamp"); fi
    # The password goes through a pipe, not the command line.
    osslsigncode sign "${args[@]}" -readpass <(printf '%s' "$CUSTOMHOOKS_SIGN_PASSWORD") >&2
    mv "$binary.signed" "$binary"
  done
  pack_windows "$PWD/$win_stage" "$win"
fi

echo "== POSIX package: Release build from a clean folder"
posix=$(stage release-posix build/release/posix build/release/stage-posix)

echo "== archives in dist/"
rm -rf dist
mkdir -p dist
cp "$win_stage/$win.zip" "$win_stage/$win-symbols.zip" dist/
(cd build/release/stage-posix &&
   tar --sort=name --mtime="$stamp UTC" --owner=0 --group=0 --numeric-owner -cf - "$posix" |
   gzip -9n > "$OLDPWD/dist/$posix.tar.gz")
cp -r "build/release/stage-posix/$posix-debug" dist/
(cd dist && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum > SHA256SUMS)

echo "== checks of the packages as a customer gets them"
prefix=$(scripts/wine-prefix.sh --start win64)
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
if ! ctest --preset release-windows || ! ctest --preset release-posix; then
  rm -rf dist
  echo "package: a package failed its check (above); dist/ removed" >&2
  exit 1
fi

echo
ls -l dist "dist/$posix-debug"
size() { stat -c %s "build/release/stage-$1/$2"; }
echo "packaged CustomHooks.dll: $(size windows "$win/CustomHooks.dll") bytes;" \
     "CustomHooks.pdb: $(size windows pdb/CustomHooks.pdb) bytes;" \
     "libCustomHooks.so: $(size posix "$posix/libCustomHooks.so") bytes"
