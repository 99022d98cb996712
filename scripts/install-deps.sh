#!/usr/bin/env bash
# Installs, on Debian 12, whatever a purpose needs and is missing.
# Non-interactive and idempotent: a machine that has everything is left alone.
#
#   scripts/install-deps.sh [all]   every build and test: native, benchmarks,
#                                   sanitizers, fuzzing, the Windows DLL and
#                                   its tests under Wine (64-bit and 32-bit
#                                   prefixes), the release packages
#   scripts/install-deps.sh demo    the demonstration only: the native library,
#                                   kxhost and the sqlite3 shell
#
# What it installs and apt's own output go to stderr.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive

purpose=${1:-all}
native=(g++ make cmake libsqlite3-dev libtinyxml-dev libacl1-dev sqlite3)
case "$purpose" in
  demo)
    packages=("${native[@]}")
    windows=
    ;;
  all)
    packages=(
      "${native[@]}" build-essential pkg-config
      googletest libgtest-dev libbenchmark-dev
      clang libclang-rt-14-dev
      tcl dpkg-dev zip unzip
      # Authenticode signing of the Windows package, and its check's throwaway CA;
      # OpenSSL's pkcs11 engine, through which osslsigncode reaches a token
      # (scripts/package.sh --sign-pkcs11).
      osslsigncode openssl libengine-pkcs11-openssl
      # The pictures of scripts/bench.sh.
      gnuplot-nox
      # The upper-case table's check regenerates it from UnicodeData.txt.
      unicode-data
      # The Windows DLL: clang and lld for i686-w64-mingw32, on mingw-w64's
      # headers and gcc's libstdc++; llvm's archiver, objcopy and PDB tools.
      lld llvm
      gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
      # A 64-bit prefix needs both loaders: the 32-bit DLL runs under WoW64.
      wine wine64 wine32:i386
    )
    windows=1
    ;;
  *)
    echo "usage: scripts/install-deps.sh [all|demo]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ -n "$windows" ]; then
  # Wine's 32-bit half needs the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    need_update=1
  fi

  # The Windows build compiles SQLite and TinyXML from Debian's source packages.
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources && \
     ! grep -qs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/*.list; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee /etc/apt/sources.list.d/customhooks-src.list >/dev/null
    fi
    need_update=1
  fi
fi

if [ "${#missing[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "install-deps: installing ${missing[*]:-(source lists only)}" >&2
  $SUDO apt-get update -qq >&2
  if [ "${#missing[@]}" -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
fi
