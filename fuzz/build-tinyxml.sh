#!/usr/bin/env bash
# Builds TinyXML from Debian's source package (Debian's patches applied) with
# clang's coverage instrumentation and AddressSanitizer, once per source
# version, into a cache outside the source tree, so the fuzz targets see and
# check the parser's own code too. Prints the prefix (include/, lib/) on
# stdout; everything else goes to stderr.
#   fuzz/build-tinyxml.sh [explore]
#   cmake --preset asan -DTINYXML_LIBRARY=<prefix>/lib/libtinyxml.a \
#                       -DTINYXML_INCLUDE_DIR=<prefix>/include
# "explore" builds it with coverage only, for the "fuzz-explore" preset.
set -euo pipefail

cache="${CUSTOMHOOKS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/customhooks}"
mkdir -p "$cache"
exec 9>"$cache/.fuzz-lock"
flock 9

version=$(apt-cache showsrc tinyxml 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
if [ -z "$version" ]; then
  echo "build-tinyxml: no tinyxml source package found; run scripts/install-deps.sh" >&2
  exit 1
fi
variant=${1:-checked}
case "$variant" in
  checked) sanitize=fuzzer-no-link,address; prefix="$cache/fuzz-deps/tinyxml-$version" ;;
  explore) sanitize=fuzzer-no-link; prefix="$cache/fuzz-deps/tinyxml-$version-explore" ;;
  *) echo "build-tinyxml: unknown variant $variant" >&2; exit 2 ;;
esac
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/fuzz-deps/work-$variant"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include" "$prefix/lib"
cd "$work"
echo "build-tinyxml: fetching tinyxml $version" >&2
apt-get source -qq "tinyxml=$version" >&2 2>/dev/null || apt-get source -qq "tinyxml=$version" >&2
src=$(find . -maxdepth 1 -type d -name 'tinyxml-*' | head -n 1)
for f in tinyxml tinystr tinyxmlerror tinyxmlparser; do
  clang++ -O1 -g -fno-omit-frame-pointer -fsanitize="$sanitize" -DTIXML_USE_STL \
    -c "$src/$f.cpp" -o "$f.o" >&2
done
ar rcs "$prefix/lib/libtinyxml.a" tinyxml.o tinystr.o tinyxmlerror.o tinyxmlparser.o
cp "$src/tinyxml.h" "$src/tinystr.h" "$prefix/include/"
cp "$src/debian/patches/series" "$prefix/tinyxml-patches.txt"

cd /
rm -rf "$work"
touch "$prefix/.complete"
echo "build-tinyxml: built into $prefix" >&2
echo "$prefix"
