// Windows library entry routine, and the routine that the .def file binds to
// both KXInstallerCustomHookInitSession and KXInstallerCustomHookCloseSession.
#include "CustomHooks.h"

extern "C" {

// The log prefix is a constant of the image, there with the load and gone
// with the unload, so there is nothing to build or release here.
int __stdcall DllMain(void* /*instance*/, unsigned long /*reason*/, void* /*reserved*/) {
  return 1;
}

// Reads no argument (cdecl: the caller removes whatever it passed).
int32_t KXHOOK_CALL KXHookSessionNoOp(void) { return KXHOOK_STATUS_OK; }

}  // extern "C"
