// Dispatch of the hook procedure on install mode, then entry mode.
#ifndef CUSTOMHOOKS_HOOK_HOOK_PROCEDURE_H_
#define CUSTOMHOOKS_HOOK_HOOK_PROCEDURE_H_

#include <cstdint>

#include "hook/hook_context.h"

namespace customhooks::hook {

// Writes the fixed lines of the mode pair and returns 0, 3 (unsupported
// install mode) or 4 (unsupported entry mode). At SessionClose of Install and
// Reinstall runs the integration pass, whose result (always 0) it returns.
std::int32_t DispatchHookCall(HookContext* context);

}  // namespace customhooks::hook

#endif  // CUSTOMHOOKS_HOOK_HOOK_PROCEDURE_H_
