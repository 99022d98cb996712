#!/bin/sh
# The Windows build's emulator (cmake/toolchain-i686-mingw.cmake): runs a
# Windows program under Wine, in the prefix WINEPREFIX names.
#
# The Windows tests hold a prefix each while they run: a test empties and
# fills the real Common Files folder of its prefix. CTest hands out the
# prefixes of cmake/wine-prefixes.json (resource "wine", the test presets'
# resource spec): "first" is WINEPREFIX itself, another one WINEPREFIX-<id>
# (scripts/wine-prefix.sh --extra <id>).
case "${CTEST_RESOURCE_GROUP_0_WINE:-}" in
  "" | id:first,*) ;;
  id:*)
    id=${CTEST_RESOURCE_GROUP_0_WINE#id:}
    WINEPREFIX=$WINEPREFIX-${id%%,*}
    ;;
esac
export WINEPREFIX
exec wine "$@"
