// The per-call context, session properties and log lines.
//
// Everything the module does runs inside one call of the hook procedure and
// talks to the host only through these operations. Nothing here keeps a
// reference to the host's data beyond the call.
#ifndef CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_
#define CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_

#include <cstdint>
#include <optional>
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

// The host's value of the property `name`: the first entry of the property
// array whose name equals it byte for byte (case-sensitive). A null value
// pointer reads as "". Nothing when no entry has that name, or after an
// unprefixed line when `name` is null or there is no property map.
std::optional<const char*> FindProperty(const HookContext& context, const char* name);

// Hands `text` to the host's callback, when there is one. A null text is
// never passed on.
void LogLine(const HookContext& context, const char* text);

// The session the integration work sees during one call: the context's
// properties (with FindProperty's lines) and its callback.
class HookSession final : public integration::IntegrationSession {
 public:
  explicit HookSession(const HookContext& context) : context_(context) {}
  std::optional<std::string> Property(const char* name) const override;
  void Log(const char* line) const override { LogLine(context_, line); }

 private:
  const HookContext& context_;
};

}  // namespace customhooks::hook

#endif  // CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_
