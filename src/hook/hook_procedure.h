// Dispatch of the hook procedure on install mode, then entry mode.
#ifndef CUSTOMHOOKS_HOOK_HOOK_PROCEDURE_H_
#define CUSTOMHOOKS_HOOK_HOOK_PROCEDURE_H_

#include <cstdint>

#include "hook/hook_context.h"
#include "integration/integration_pass.h"

namespace customhooks::hook {

// Writes the fixed lines of the mode pair and returns KXHOOK_STATUS_OK,
// KXHOOK_STATUS_UNSUPPORTED_INSTALL_MODE or
// KXHOOK_STATUS_UNSUPPORTED_ENTRY_MODE. At SessionClose of Install and
// Reinstall it runs the integration pass first, with `shortcuts` (the
// exports: all of them; tests compare them with none).
std::int32_t DispatchHookCall(const HookContext& context, const integration::PassShortcuts& shortcuts = {});

}  // namespace customhooks::hook

#endif  // CUSTOMHOOKS_HOOK_HOOK_PROCEDURE_H_
