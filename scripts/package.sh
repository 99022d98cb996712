#!/usr/bin/env bash
# Makes the release packages, in dist/:
#
#   CustomHooks-<version>-win32.zip          CustomHooks.dll, kxhost.exe,
#                                            include/CustomHooks.h, README.txt
#                                            (notes for installer engineers),
#                                            SHA256SUMS
#   CustomHooks-<version>-win32-debug/       CustomHooks.dll.debug, kxhost.exe.debug
#   CustomHooks-<version>-linux-x86_64.tar.gz   libCustomHooks.so, kxhost, the
#                                            header, README.txt, SHA256SUMS
#   CustomHooks-<version>-linux-x86_64-debug/   their .debug files
#   SHA256SUMS                               of every file above
#
#   scripts/package.sh [--sign-pkcs12 FILE | --sign-pkcs11 MODULE KEYID --sign-cert FILE]
#                      [--timestamp URL]
#
# Each package is built in Release from a clean build folder (presets
# release-windows and release-posix), installed with `cmake --install`, its
# binaries stripped and linked to their debug files (objcopy --only-keep-debug,
# --add-gnu-debuglink). The Windows build is made twice, the second time from
# a copy of the sources in another folder: the two packages' binaries and
# debug files must be bit-identical, or nothing is packaged. Then each package is checked as a customer gets it (ctest presets
# release-windows, under Wine in the 64-bit prefix, and release-posix): its
# files and checksums, and a whole install session on the sample suite driven
# by the packaged kxhost.
#
# Signing: with --sign-pkcs12 (a PKCS#12 file) or --sign-pkcs11 (MODULE the
# token's PKCS#11 library, KEYID the key's id or URI, --sign-cert its PEM
# certificate chain), CustomHooks.dll and kxhost.exe get an Authenticode
# signature (osslsigncode, SHA-256, the PE checksum set), with an RFC 3161
# time stamp from URL when --timestamp is given. The password or PIN is read
# from CUSTOMHOOKS_SIGN_PASSWORD. The two builds are compared unsigned; the
# signed copies (build/release/stage-windows-signed) make the zip, and its
# SHA256SUMS covers them.
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

# stage PRESET BUILD_FOLDER STAGE: builds the package's files from a clean
# build folder and installs them into STAGE/<name>, the binaries stripped,
# their debug files in STAGE/<name>-debug; prints <name>.
stage() {
  local preset=$1 build=$2 stage=$3
  rm -rf "$build" "$stage"
  cmake --preset "$preset" -B "$build" >/dev/null
  cmake --build "$build" -j"$jobs" --target CustomHooks kxhost samplesuite >&2
  local name objcopy
  name=$(cache_value "$build" CUSTOMHOOKS_PACKAGE_NAME)
  objcopy=$(cache_value "$build" CMAKE_OBJCOPY)
  cmake --install "$build" --prefix "$stage/$name" >/dev/null
  mkdir -p "$stage/$name-debug"
  local binary
  for binary in "$stage/$name"/*CustomHooks.* "$stage/$name"/kxhost*; do
    local debug="$stage/$name-debug/$(basename "$binary").debug"
    # objcopy stamps a PE file it writes with the time unless told one;
    # the linker wrote none (0), and so does this.
    SOURCE_DATE_EPOCH=0 "$objcopy" --only-keep-debug "$binary" "$debug"
    SOURCE_DATE_EPOCH=0 "$objcopy" --strip-all --add-gnu-debuglink="$debug" "$binary"
  done
  (cd "$stage/$name" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
     xargs sha256sum > SHA256SUMS)
  echo "$name"
}

echo "== Windows package: two Release builds from clean folders, the second of a copy of the sources"
win=$(stage release-windows build/release/windows build/release/stage-windows)
again=build/release/again
rm -rf "$again"
mkdir -p "$again/src"
tar -cf - --exclude=./build --exclude=./dist --exclude=./.git . | tar -xf - -C "$again/src"
(cd "$again/src" && stage release-windows "$PWD/../build" "$PWD/../stage" >/dev/null)
if ! diff -r build/release/stage-windows "$again/stage" >&2; then
  echo "package: two builds of the same sources differ (above); nothing packaged" >&2
  exit 1
fi
echo "the two builds are bit-identical"
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
  (cd "$win_stage/$win" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
     xargs sha256sum > SHA256SUMS)
fi

echo "== POSIX package: Release build from a clean folder"
posix=$(stage release-posix build/release/posix build/release/stage-posix)

echo "== archives in dist/"
rm -rf dist
mkdir -p dist
# Entries in name order, stamped with the commit time, without the owner and
# access times an archiver would take from the file system.
(cd "$win_stage" && find "$win" -type f | LC_ALL=C sort > ../files-windows &&
   xargs -a ../files-windows touch -d "$stamp UTC" &&
   TZ=UTC zip -X -D -q "$OLDPWD/dist/$win.zip" -@ < ../files-windows)
(cd build/release/stage-posix &&
   tar --sort=name --mtime="$stamp UTC" --owner=0 --group=0 --numeric-owner -cf - "$posix" |
   gzip -9n > "$OLDPWD/dist/$posix.tar.gz")
cp -r "$win_stage/$win-debug" "build/release/stage-posix/$posix-debug" dist/
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
ls -l dist "dist/$win-debug" "dist/$posix-debug"
size() { stat -c %s "build/release/stage-$1/$2"; }
echo "packaged CustomHooks.dll: $(size windows "$win/CustomHooks.dll") bytes;" \
     "libCustomHooks.so: $(size posix "$posix/libCustomHooks.so") bytes"
