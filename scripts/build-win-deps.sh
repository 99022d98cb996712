#!/usr/bin/env bash
# Builds SQLite and TinyXML for 32-bit Windows (i686 mingw-w64) from Debian's
# source packages, Debian's patches applied, once per source version, into a
# cache outside the source tree. Prints the prefix (include/, lib/) on stdout;
# everything else goes to stderr.
#
# They are compiled as the DLL is (cmake/toolchain-i686-mingw.cmake): clang
# for i686-w64-mingw32, with CodeView debug information for the DLL's PDB and
# the stack protector. Each compile runs in its source folder on relative
# names, and names that folder /win-deps/<package>-<version>, so that the
# command line and folders clang writes into the debug information are the
# same on every machine and for every cache folder. (The binaries' own build
# maps the prefix's headers, and links its archives by relative paths: see
# CMakeLists.txt.)
#
# The versions are those of packaging/dependencies.txt: a source package or
# an installed package of another version stops the build.
#
# It also lays out, in runtime/, the parts of the gcc runtime that lld 14
# links wrongly as Debian ships them, made right (see there), and the other
# gcc libraries a link takes, so that one folder holds them all.
set -euo pipefail

cache="${CUSTOMHOOKS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/customhooks}"
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9

srcver() { apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1; }
# listed KIND PACKAGE: the version packaging/dependencies.txt gives.
dependencies="$(dirname "$0")/../packaging/dependencies.txt"
listed() { awk -v k="$1" -v p="$2" '$1 == k && $2 == p { print $3 }' "$dependencies"; }
sqlite_ver=$(srcver sqlite3)
tinyxml_ver=$(srcver tinyxml)
if [ -z "$sqlite_ver" ] || [ -z "$tinyxml_ver" ]; then
  echo "build-win-deps: no source package found; run scripts/install-deps.sh" >&2
  exit 1
fi
mismatch=
while read -r kind package version; do
  case "$kind" in
    source) found=$(srcver "$package") ;;
    package) found=$(dpkg-query -W -f '${Version}' "$package" 2>/dev/null || true) ;;
    *) continue ;;
  esac
  if [ "$found" != "$version" ]; then
    echo "build-win-deps: packaging/dependencies.txt lists $package $version; apt/dpkg give ${found:-none}" >&2
    mismatch=1
  fi
done < <(grep -v '^#' "$dependencies")
if [ -n "$mismatch" ]; then
  echo "build-win-deps: install the listed versions, or update packaging/dependencies.txt (it makes the SBOM and notices)" >&2
  exit 1
fi
[ "$sqlite_ver" = "$(listed source sqlite3)" ] && [ "$tinyxml_ver" = "$(listed source tinyxml)" ] ||
  { echo "build-win-deps: packaging/dependencies.txt lacks sqlite3 or tinyxml" >&2; exit 1; }
clang_ver=$(clang -dumpversion)
gcc_ver=$(dpkg-query -W -f '${Version}' g++-mingw-w64-i686-posix)
# The recipe: this script; a change to it builds a new prefix.
recipe=$(sha256sum "$0" | cut -c1-12)
prefix="$cache/win-deps/clang-${clang_ver}_gcc-${gcc_ver}_sqlite3-${sqlite_ver}_tinyxml-${tinyxml_ver}_${recipe}"
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

triple=i686-w64-mingw32
gcc_dir=$(dirname "$("$triple-g++-posix" -print-libgcc-file-name)")
# No -ffile-prefix-map here: compiled without LTO, each object's CodeView
# holds clang's whole command line (LF_BUILDINFO), and the map's own
# argument would write the cache folder into it. Relative names and
# -ffile-compilation-dir leave no absolute path of the work folder.
CC=(clang "--target=$triple" "--sysroot=/usr/$triple" -O2 -g -gcodeview -fstack-protector-strong)
CXX=(clang++ "--target=$triple" "--sysroot=/usr/$triple" -O2 -g -gcodeview -fstack-protector-strong
     -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/$triple"
     -isystem "$gcc_dir/include/c++/backward")
AR=llvm-ar

# SQLite: the amalgamation made by the source tree's own "make sqlite3.c".
sqlite_src=$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
mkdir -p sqlite-build
(cd sqlite-build && "../$sqlite_src/configure" >/dev/null && make -s sqlite3.c >/dev/null) >&2
(cd sqlite-build &&
   "${CC[@]}" -ffile-compilation-dir="/win-deps/sqlite3-$sqlite_ver" -DSQLITE_THREADSAFE=1 \
     -c sqlite3.c -o sqlite3.o) >&2
$AR rcs "$prefix/lib/libsqlite3.a" sqlite-build/sqlite3.o
cp sqlite-build/sqlite3.h "$prefix/include/"

# TinyXML with Debian's patches (dpkg-source applied them on extraction).
tinyxml_src=$(find . -maxdepth 1 -type d -name 'tinyxml-*' | head -n 1)
for f in tinyxml tinystr tinyxmlerror tinyxmlparser; do
  (cd "$tinyxml_src" &&
     "${CXX[@]}" -ffile-compilation-dir="/win-deps/tinyxml-$tinyxml_ver" -DTIXML_USE_STL \
       -c "$f.cpp" -o "$f.o") >&2
done
(cd "$tinyxml_src" && $AR rcs "$prefix/lib/libtinyxml.a" tinyxml.o tinystr.o tinyxmlerror.o tinyxmlparser.o)
cp "$tinyxml_src/tinyxml.h" "$tinyxml_src/tinystr.h" "$prefix/include/"
cp "$tinyxml_src/debian/patches/series" "$prefix/tinyxml-patches.txt"

# The gcc runtime, for lld. libgcc's unwinder finds a function's DWARF unwind
# entry (FDE) only between crtbegin.o's .eh_frame and the terminator in
# crtend.o's. Two things keep libstdc++'s entries out of that range:
# - gcc writes the entry of each COMDAT function (the template instances of
#   libstdc++.a) to a COMDAT section .eh_frame$<function> without a symbol,
#   which lld 14 drops; a C++ exception thrown through such a function (a
#   std::bad_alloc out of std::string, say) then ends in std::terminate.
#   Here they become plain .eh_frame sections.
# - lld places archive members loaded after crtend.o, libstdc++'s among them,
#   after its terminator; named .eh_frame$~, crtend.o's section sorts last in
#   lld's .eh_frame output section.
mkdir -p "$prefix/runtime"
(i686-w64-mingw32-objdump -h "$gcc_dir/libstdc++.a" |
   awk '$2 ~ /^\.eh_frame\$/ { print "--rename-section " $2 "=.eh_frame,contents,alloc,load,readonly,data" }' |
   sort -u > runtime.args)
"$triple-objcopy" @runtime.args "$gcc_dir/libstdc++.a" "$prefix/runtime/libstdc++.a"
cp "$gcc_dir/crtbegin.o" "$gcc_dir/libgcc.a" "$gcc_dir/libgcc_eh.a" "$gcc_dir/libssp.a" \
   "$gcc_dir/libssp_nonshared.a" "$prefix/runtime/"
"$triple-objcopy" --rename-section '.eh_frame=.eh_frame$~' "$gcc_dir/crtend.o" "$prefix/runtime/crtend.o"

cd /
rm -rf "$work"
touch "$prefix/.complete"
echo "build-win-deps: built into $prefix" >&2
echo "$prefix"
