#!/usr/bin/env bash
# Makes a Wine prefix that the Windows tests run in, once, and prints its
# path on stdout (everything else goes to stderr).
#
#   scripts/wine-prefix.sh [--start] [--extra ID] [win64|win32]
#
# win64 (the default) is a 64-bit prefix: the 32-bit DLL runs under WoW64, as
# on every current Windows. win32 is a 32-bit prefix, a 32-bit Windows.
# The prefix is build/wine/<arch>; with --extra ID, build/wine/<arch>-ID:
# CTest runs several Windows tests at a time, each in a prefix of its own
# (scripts/wine-run.sh, cmake/wine-prefixes.json). It counts as made only once wineboot has
# succeeded and the prefix's wineserver has exited (the registry is written
# out then); a prefix left half made by an interrupted run is made again.
#
# --start also starts the prefix's wineserver to stay, with Wine's own
# services, detached from the caller's output. Otherwise every Wine program
# a test runs starts them anew, and a caller that reads the program's output
# (CTest, execute_process) waits until they have exited too. The caller ends
# them: WINEPREFIX=<prefix> wineserver -k.
set -euo pipefail
cd "$(dirname "$0")/.."

start=
usage() {
  echo "usage: scripts/wine-prefix.sh [--start] [--extra ID] [win64|win32]" >&2
  exit 2
}
extra=
arch=win64
while [ $# -gt 0 ]; do
  case "$1" in
    --start) start=1 ;;
    --extra)
      [ $# -ge 2 ] || usage
      extra=-$2
      shift
      ;;
    win64 | win32) arch=$1 ;;
    *) usage ;;
  esac
  shift
done

prefix="$PWD/build/wine/$arch$extra"
ready="$prefix/.customhooks-ready"
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all

if [ ! -f "$ready" ]; then
  if [ -e "$prefix" ]; then
    echo "wine-prefix: $prefix is incomplete; making it again" >&2
    wineserver -k >/dev/null 2>&1 || true
    wineserver --wait >/dev/null 2>&1 || true
    rm -rf "$prefix"
  fi
  echo "wine-prefix: making the $arch prefix $prefix" >&2
  log="$prefix.log"
  # No Mono or Gecko: nothing here needs them, and wineboot would offer to fetch them.
  if ! WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >"$log" 2>&1 ||
     ! wineserver --wait >>"$log" 2>&1; then
    echo "wine-prefix: wineboot failed; its output:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
  if ! grep -qx "#arch=$arch" "$prefix/system.reg" 2>/dev/null; then
    echo "wine-prefix: $prefix is not a $arch prefix (is wine64 installed? scripts/install-deps.sh)" >&2
    exit 1
  fi
  rm -f "$log"
  touch "$ready"
fi

if [ -n "$start" ]; then
  # Without the lock's descriptor: a server that stays must not hold the
  # lock, or the next call would wait for it until the server ends.
  # A server that runs already is kept (wineserver then exits non-zero).
  wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
fi
echo "$prefix"
