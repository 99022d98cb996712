#!/usr/bin/env bash
# Makes the release packages, in dist/:
#
#   CustomHooks-<version>-win32.zip          CustomHooks.dll, kxhost.exe,
#                                            include/CustomHooks.h, README.txt
#                                            (notes for installer engineers),
#                                            THIRD-PARTY-NOTICES.txt, sbom.spdx.json,
#                                            CHANGELOG.txt, SHA256SUMS
#   CustomHooks-<version>-win32-symbols.zip  a symbol store: both binaries and
#                                            their PDBs, laid out as a symbol
#                                            server serves them (<file>/<key>/<file>)
#   CustomHooks-<version>-linux-x86_64.tar.gz   libCustomHooks.so, kxhost, the
#                                            header, README.txt, CHANGELOG.txt, SHA256SUMS
#   CustomHooks-<version>-linux-x86_64-debug/   their .debug files
#   SHA256SUMS                               of every file above
#
#   scripts/package.sh [--sign-pkcs12 FILE | --sign-pkcs11 MODULE KEYID --sign-cert FILE]
#                      [--timestamp URL] [--signed-to DIR]
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
# driven by the packaged kxhost. The packages are assembled and checked in
# build/release/dist; dist/ is replaced by them only when all of that
# succeeded, and an interrupted or failed run leaves dist/ as it was.
#
# Signing: with --sign-pkcs12 (a PKCS#12 file) or --sign-pkcs11 (MODULE the
# token's PKCS#11 library, KEYID the key's id or URI, --sign-cert its PEM
# certificate chain), CustomHooks.dll and kxhost.exe get an Authenticode
# signature (osslsigncode, SHA-256, the PE checksum set), with an RFC 3161
# time stamp from URL when --timestamp is given. The password or PIN is read
# from CUSTOMHOOKS_SIGN_PASSWORD. Options and credentials are checked before
# anything is built: a trial signature of a small PE, with the time stamp.
# The two builds are compared unsigned; the signed copies
# (build/release/stage-windows-signed) make the zip, whose README.txt names
# the signer and SHA256SUMS covers them, and the symbol store. With
# --signed-to DIR the signed zips go to DIR instead, and dist/ holds the
# unsigned packages, as without signing options (the test command's trial).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/package.sh [--sign-pkcs12 FILE | --sign-pkcs11 MODULE KEYID --sign-cert FILE]" \
       "[--timestamp URL] [--signed-to DIR]" >&2
  exit 2
}
fail() {
  echo "package: $*" >&2
  exit 1
}
sign=()
sign_cert=
timestamp=
signed_to=
while [ $# -gt 0 ]; do
  case "$1" in
    --sign-pkcs12) [ $# -ge 2 ] || usage; sign=(-pkcs12 "$(realpath "$2")"); shift 2 ;;
    --sign-pkcs11) [ $# -ge 3 ] || usage; sign=(-pkcs11module "$2" -key "$3"); shift 3 ;;
    --sign-cert) [ $# -ge 2 ] || usage; sign_cert=$(realpath "$2"); shift 2 ;;
    --timestamp) [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
    --signed-to) [ $# -ge 2 ] || usage; signed_to=$(realpath -m "$2"); shift 2 ;;
    *) usage ;;
  esac
done
if [ "${sign[0]:-}" = -pkcs11module ]; then
  [ -n "$sign_cert" ] || { echo "package: --sign-pkcs11 needs --sign-cert FILE" >&2; exit 2; }
  sign+=(-certs "$sign_cert")
elif [ -n "$sign_cert" ]; then
  echo "package: --sign-cert goes with --sign-pkcs11 (a PKCS#12 file holds its certificates)" >&2
  exit 2
fi
if [ "${#sign[@]}" -eq 0 ]; then
  for option in timestamp signed_to; do
    if [ -n "${!option}" ]; then
      echo "package: --${option/_/-} needs a signing option (--sign-pkcs12 or --sign-pkcs11)" >&2
      exit 2
    fi
  done
elif [ -z "${CUSTOMHOOKS_SIGN_PASSWORD+set}" ]; then
  echo "package: set CUSTOMHOOKS_SIGN_PASSWORD to the key's password or PIN" >&2
  exit 2
fi

# What this run makes goes to build/release first; dist/ (and DIR of
# --signed-to) are replaced at the very end. Whatever stops the run before
# then, a failure or an interruption, removes the half-made packages and
# signed copies, so that nothing half-signed is left behind.
new_dist=$PWD/build/release/dist
signed_stage=$PWD/build/release/stage-windows-signed
trial=$PWD/build/release/signing-trial
wine_prefix=
finished=
finish() {
  if [ -z "$finished" ]; then
    rm -rf "$new_dist" "$signed_stage" "$trial"
    find build/release -name '*.signed' -delete 2>/dev/null || true
  fi
  if [ -n "$wine_prefix" ]; then WINEPREFIX="$wine_prefix" wineserver -k 2>/dev/null || true; fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

scripts/install-deps.sh

# sign_pe IN OUT: IN signed into OUT. The password goes through a pipe, not
# the command line. A time-stamp server or token that does not answer ends
# the wait after 60 seconds.
sign_pe() {
  local args=("${sign[@]}" -h sha256 -n CustomHooks -in "$1" -out "$2") status=0
  if [ -n "$timestamp" ]; then args+=(-ts "$timestamp"); fi
  rm -f "$2"
  timeout 60 osslsigncode sign "${args[@]}" -readpass <(printf '%s' "$CUSTOMHOOKS_SIGN_PASSWORD") >&2 ||
    status=$?
  if [ "$status" -eq 124 ]; then
    rm -f "$2"
    fail "signing $(basename "$1") took over 60 s: ${timestamp:+the time-stamp server $timestamp or }the key did not answer"
  elif [ "$status" -ne 0 ]; then
    rm -f "$2"
    fail "signing $(basename "$1") failed (osslsigncode's messages above)"
  fi
}

if [ "${#sign[@]}" -gt 0 ]; then
  echo "== checking the signing key before building"
  rm -rf "$trial"
  mkdir -p "$trial"
  if [ "${sign[0]}" = -pkcs12 ]; then
    openssl pkcs12 -noout -in "${sign[1]}" -passin env:CUSTOMHOOKS_SIGN_PASSWORD 2>"$trial/openssl.log" ||
      { cat "$trial/openssl.log" >&2; fail "${sign[1]}: wrong password in CUSTOMHOOKS_SIGN_PASSWORD, or not a PKCS#12 file"; }
    openssl pkcs12 -in "${sign[1]}" -nokeys -passin env:CUSTOMHOOKS_SIGN_PASSWORD -out "$trial/chain.pem" 2>/dev/null
  else
    [ -f "${sign[1]}" ] || fail "no PKCS#11 module ${sign[1]}"
    openssl engine -t pkcs11 >/dev/null 2>&1 ||
      fail "OpenSSL has no pkcs11 engine (scripts/install-deps.sh installs libengine-pkcs11-openssl)"
    cp "$sign_cert" "$trial/chain.pem"
  fi
  packaging/signer_certificate.sh "$trial/chain.pem" "$trial/signer.pem" ||
    fail "no signer's certificate in ${sign_cert:-${sign[1]}}"
  openssl x509 -noout -checkend 0 -in "$trial/signer.pem" >/dev/null ||
    fail "the signer's certificate has expired: $(openssl x509 -noout -enddate -in "$trial/signer.pem")"
  # A trial signature of a small PE, through the same key, PIN and server.
  printf 'int __stdcall DllMainCRTStartup(void *m, unsigned r, void *p) { return 1; }\n' >"$trial/trial.c"
  clang --target=i686-w64-mingw32 -fuse-ld=lld -nostdlib -shared "$trial/trial.c" -o "$trial/trial.dll"
  sign_pe "$trial/trial.dll" "$trial/trial-signed.dll"
  if [ -z "$timestamp" ]; then
    echo "package: WARNING: signing without --timestamp: the signatures stop being valid when" \
         "the certificate expires ($(openssl x509 -noout -enddate -in "$trial/signer.pem" | cut -d= -f2))" >&2
  fi
  echo "signing key checked: $(openssl x509 -noout -subject -nameopt RFC2253 -in "$trial/signer.pem")"
fi

jobs=$(nproc 2>/dev/null || echo 2)
export CUSTOMHOOKS_WIN_DEPS
CUSTOMHOOKS_WIN_DEPS=$(scripts/build-win-deps.sh)
# File times in the archives, and the SBOM's time (CMake reads
# SOURCE_DATE_EPOCH): the time of the commit packaged.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
stamp=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')
# The commit and build number the binaries and notes carry, taken here for
# both builds (the second one's copy of the sources has no .git).
commit=$(git describe --always --dirty --abbrev=12 2>/dev/null || echo unknown)
build_number=$(git rev-list --count HEAD 2>/dev/null || echo 0)

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
  cmake --preset "$preset" -B "$build" -DCUSTOMHOOKS_PACKAGE_DIR="$new_dist" \
    -DCUSTOMHOOKS_COMMIT="$commit" -DCUSTOMHOOKS_BUILD_NUMBER="$build_number" >/dev/null
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

win_stage=$PWD/build/release/stage-windows
rm -rf "$signed_stage"
if [ "${#sign[@]}" -gt 0 ]; then
  echo "== signing CustomHooks.dll and kxhost.exe"
  cp -r "$win_stage" "$signed_stage"
  for binary in "$signed_stage/$win"/*.dll "$signed_stage/$win"/*.exe; do
    sign_pe "$binary" "$binary.signed"
    mv "$binary.signed" "$binary"
  done
  # README.txt names the signer in place of the line that says "not signed".
  signer() { openssl x509 -noout -in "$trial/signer.pem" "$@"; }
  thumbprint() { signer -fingerprint "-$1" | cut -d= -f2 | tr -d :; }
  {
    echo "CustomHooks.dll and kxhost.exe are signed (Authenticode, SHA-256) by"
    echo "  $(signer -subject -nameopt RFC2253 | sed 's/^subject=//')"
    echo "  issued by $(signer -issuer -nameopt RFC2253 | sed 's/^issuer=//')"
    echo "  certificate SHA-1 thumbprint   $(thumbprint sha1)"
    echo "  certificate SHA-256 thumbprint $(thumbprint sha256)"
    if [ -n "$timestamp" ]; then
      echo "  with a time stamp of $timestamp: valid after the certificate expires."
    else
      echo "  without a time stamp: valid only until the certificate expires"
      echo "  ($(signer -enddate | cut -d= -f2))."
    fi
  } | sed 's/$/\r/' >"$trial/signature.txt"
  readme="$signed_stage/$win/README.txt"
  grep -q '^CustomHooks.dll and kxhost.exe are not signed.' "$readme" || fail "README.txt has no signature line"
  sed -i -e "/^CustomHooks.dll and kxhost.exe are not signed./{r $trial/signature.txt" -e 'd}' "$readme"
  pack_windows "$signed_stage" "$win"
  if [ -z "$signed_to" ]; then win_stage=$signed_stage; fi
fi

echo "== POSIX package: Release build from a clean folder"
posix=$(stage release-posix build/release/posix build/release/stage-posix)

echo "== archives in build/release/dist"
rm -rf "$new_dist"
mkdir -p "$new_dist"
cp "$win_stage/$win.zip" "$win_stage/$win-symbols.zip" "$new_dist/"
(cd build/release/stage-posix &&
   tar --sort=name --mtime="$stamp UTC" --owner=0 --group=0 --numeric-owner -cf - "$posix" |
   gzip -9n > "$new_dist/$posix.tar.gz")
cp -r "build/release/stage-posix/$posix-debug" "$new_dist/"
(cd "$new_dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum > SHA256SUMS)

echo "== checks of the packages as a customer gets them"
wine_prefix=$(scripts/wine-prefix.sh --start win64)
ctest --preset release-windows || fail "the Windows package failed its check (above); dist/ left as it was"
ctest --preset release-posix || fail "the POSIX package failed its check (above); dist/ left as it was"

# Everything succeeded: the new packages take the place of the old ones.
if [ -n "$signed_to" ]; then
  rm -rf "$signed_to"
  mkdir -p "$signed_to"
  cp "$signed_stage/$win.zip" "$signed_stage/$win-symbols.zip" "$signed_to/"
  (cd "$signed_to" && sha256sum -- * > SHA256SUMS)
fi
rm -rf dist.old
if [ -e dist ]; then mv dist dist.old; fi
mv "$new_dist" dist
rm -rf dist.old "$trial"
finished=1

echo
ls -l dist "dist/$posix-debug"
if [ -n "$signed_to" ]; then echo "signed Windows packages, not in dist/: $signed_to"; fi
size() { stat -c %s "$1"; }
echo "shipped CustomHooks.dll$([ "$win_stage" = "$signed_stage" ] && echo ", signed,"):" \
     "$(size "$win_stage/$win/CustomHooks.dll") bytes;" \
     "CustomHooks.pdb: $(size "$win_stage/pdb/CustomHooks.pdb") bytes;" \
     "libCustomHooks.so: $(size "build/release/stage-posix/$posix/libCustomHooks.so") bytes"
