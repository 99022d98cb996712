// The routine behind KXInstallerCustomHookInitSession and
// KXInstallerCustomHookCloseSession. On ELF targets the two names are aliases
// of it, as the .def file binds them on Windows. It reads no argument (the
// caller removes whatever it passed) and does nothing.
#include "CustomHooks.h"

extern "C" {
int32_t KXHOOK_CALL KXHookSessionNoOp(void) { return KXHOOK_STATUS_OK; }
KXHOOK_API int32_t KXHOOK_CALL KXInstallerCustomHookInitSession(void)
    __attribute__((alias("KXHookSessionNoOp")));
KXHOOK_API int32_t KXHOOK_CALL KXInstallerCustomHookCloseSession(void)
    __attribute__((alias("KXHookSessionNoOp")));
}
