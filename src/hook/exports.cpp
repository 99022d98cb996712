// The exported entry points. No exception may reach the host.
#include "CustomHooks.h"
#include "hook/hook_procedure.h"

extern "C" {

KXHOOK_API int32_t KXHOOK_CALL KXInstallerCustomHookProc(const HookProperty* propertyMap,
                                                         int32_t entryMode, int32_t installMode,
                                                         uintptr_t hostValue,
                                                         HookLogCallback logCallback) {
  customhooks::hook::HookContext context{propertyMap, entryMode, installMode, hostValue, logCallback};
  try {
    return customhooks::hook::DispatchHookCall(context);
  } catch (...) {
    // Every failure of the work is reported as a log line below this point;
    // anything that still escapes must not take the installer down.
    return KXHOOK_STATUS_OK;
  }
}

}  // extern "C"
