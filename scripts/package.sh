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
# Each package is built in Release from a clean build folder (presets
# release-windows and release-posix), installed with `cmake --install`, its
# binaries stripped and linked to their debug files (objcopy --only-keep-debug,
# --add-gnu-debuglink). The Windows build is made twice, the second time from
# a copy of the sources in another folder: the two packages' binaries and
# debug files must be bit-identical, or nothing is packaged. Then each package is checked as a customer gets it (ctest presets
# release-windows, under Wine in the 64-bit prefix, and release-posix): its
# files and checksums, and a whole install session on the sample suite driven
# by the packaged kxhost.
set -euo pipefail
cd "$(dirname "$0")/.."

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

echo "== POSIX package: Release build from a clean folder"
posix=$(stage release-posix build/release/posix build/release/stage-posix)

echo "== archives in dist/"
rm -rf dist
mkdir -p dist
# Entries in name order, stamped with the commit time, without the owner and
# access times an archiver would take from the file system.
(cd build/release/stage-windows && find "$win" -type f | LC_ALL=C sort > ../files-windows &&
   xargs -a ../files-windows touch -d "$stamp UTC" &&
   TZ=UTC zip -X -D -q "$OLDPWD/dist/$win.zip" -@ < ../files-windows)
(cd build/release/stage-posix &&
   tar --sort=name --mtime="$stamp UTC" --owner=0 --group=0 --numeric-owner -cf - "$posix" |
   gzip -9n > "$OLDPWD/dist/$posix.tar.gz")
cp -r "build/release/stage-windows/$win-debug" "build/release/stage-posix/$posix-debug" dist/
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
