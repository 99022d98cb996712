// The per-call context, session properties and log lines.
//
// Everything the module does runs inside one call of the hook procedure and
// talks to the host only through these operations. Nothing here keeps a
// reference to the host's data beyond the call.
#ifndef CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_
#define CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_

#include <cstdint>
#include <string>

#include "CustomHooks.h"
#include "integration/session.h"

namespace customhooks::hook {

// Built by the hook procedure from its five arguments, in this order; lives
// in the hook procedure's frame and is valid until it returns.
struct HookContext {
  const HookProperty* propertyMap;
  std::int32_t entryMode;
  std::int32_t installMode;
  std::uintptr_t hostValue;
  HookLogCallback logCallback;
};

// Looks `name` up in the property array (exact, case-sensitive byte
// comparison; the first equal entry wins). On success stores the host's
// pointer in `*value` (a null value pointer is stored as "") and returns
// true. Otherwise `*value` is unchanged and the result is false; a null name,
// a null `value` or a null property map is reported with its own unprefixed
// line, a name that is simply absent with none.
bool HookGetProperty(const HookContext* context, const char* name, const char** value);

// Hands `text` to the host's callback, when there is one. A null text is
// never passed on.
void HookLog(const HookContext* context, const char* text);

// The session the integration work sees during one call: the context's
// properties (with HookGetProperty's lines) and its callback.
class HookSession final : public integration::IntegrationSession {
 public:
  explicit HookSession(const HookContext* context) : context_(context) {}
  bool Property(const char* name, std::string& value) const override;
  void Log(const char* line) const override { HookLog(context_, line); }

 private:
  const HookContext* context_;
};

}  // namespace customhooks::hook

#endif  // CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_
