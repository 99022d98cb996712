#!/usr/bin/env bash
# Installs, on Debian 12, whatever the build and the tests need and is missing.
# Non-interactive and idempotent: a machine that has everything is left alone.
#   scripts/install-deps.sh          native build, tests, Windows DLL and Wine
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake pkg-config tcl dpkg-dev
  libsqlite3-dev sqlite3 libtinyxml-dev libacl1-dev
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

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

if [ "${#missing[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "install-deps: installing ${missing[*]:-(source lists only)}" >&2
  $SUDO apt-get update -qq
  if [ "${#missing[@]}" -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
fi
