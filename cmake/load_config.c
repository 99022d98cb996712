/* The load-config directory of the shipped Windows binaries (CMakeLists.txt
 * links it into CustomHooks.dll and kxhost.exe). lld makes the image's
 * load-config data directory point at the symbol _load_config_used, with
 * the size its first field gives; mingw-w64 10 defines no such symbol.
 * Binary scanners take a missing directory for a binary built without
 * protections. All fields are zero but the size: no SafeSEH table (the
 * image has the NO_SEH flag: no structured exception handler may run in
 * it), no security cookie for the loader to set (the stack protector's
 * guard is libssp's, set up when the image starts), no Control Flow Guard. */
#include <windows.h>

const IMAGE_LOAD_CONFIG_DIRECTORY32 _load_config_used = {.Size = sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32)};
