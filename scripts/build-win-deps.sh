#!/usr/bin/env bash
# Builds SQLite and TinyXML for 32-bit Windows (i686 mingw-w64) from Debian's
# source packages, Debian's patches applied, once per source version, into a
# cache outside the source tree. Prints the prefix (include/, lib/) on stdout;
# everything else goes to stderr.
set -euo pipefail

cache="${CUSTOMHOOKS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/customhooks}"
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9

srcver() { apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1; }
sqlite_ver=$(srcver sqlite3)
tinyxml_ver=$(srcver tinyxml)
if [ -z "$sqlite_ver" ] || [ -z "$tinyxml_ver" ]; then
  echo "build-win-deps: no source package found; run scripts/install-deps.sh" >&2
  exit 1
fi
prefix="$cache/win-deps/sqlite3-${sqlite_ver}_tinyxml-${tinyxml_ver}"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/win-deps/work"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include" "$prefix/lib"
cd "$work"
echo "build-win-deps: fetching sqlite3 $sqlite_ver and tinyxml $tinyxml_ver sources" >&2
apt-get source -qq "sqlite3=$sqlite_ver" "tinyxml=$tinyxml_ver" >&2 2>/dev/null ||
  apt-get source -qq "sqlite3=$sqlite_ver" "tinyxml=$tinyxml_ver" >&2

CC=i686-w64-mingw32-gcc
CXX=i686-w64-mingw32-g++
AR=i686-w64-mingw32-ar

# SQLite: the amalgamation made by the source tree's own "make sqlite3.c".
sqlite_src=$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
mkdir -p sqlite-build
(cd sqlite-build && "../$sqlite_src/configure" >/dev/null && make -s sqlite3.c >/dev/null) >&2
$CC -O2 -DSQLITE_THREADSAFE=1 -c sqlite-build/sqlite3.c -o sqlite3.o >&2
$AR rcs "$prefix/lib/libsqlite3.a" sqlite3.o
cp sqlite-build/sqlite3.h "$prefix/include/"

# TinyXML with Debian's patches (dpkg-source applied them on extraction).
tinyxml_src=$(find . -maxdepth 1 -type d -name 'tinyxml-*' | head -n 1)
for f in tinyxml tinystr tinyxmlerror tinyxmlparser; do
  $CXX -O2 -DTIXML_USE_STL -c "$tinyxml_src/$f.cpp" -o "$f.o" >&2
done
$AR rcs "$prefix/lib/libtinyxml.a" tinyxml.o tinystr.o tinyxmlerror.o tinyxmlparser.o
cp "$tinyxml_src/tinyxml.h" "$tinyxml_src/tinystr.h" "$prefix/include/"
cp "$tinyxml_src/debian/patches/series" "$prefix/tinyxml-patches.txt"

cd /
rm -rf "$work"
touch "$prefix/.complete"
echo "build-win-deps: built into $prefix" >&2
echo "$prefix"
