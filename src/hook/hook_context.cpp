#include "hook/hook_context.h"

#include <cstring>

namespace customhooks::hook {

bool HookGetProperty(const HookContext* context, const char* name, const char** value) {
  if (name == nullptr) {
    HookLog(context, "NULL pointer passed as property name.");
    return false;
  }
  if (value == nullptr) {
    HookLog(context, "NULL pointer passed for property name.");
    return false;
  }
  if (context == nullptr || context->propertyMap == nullptr) {
    HookLog(context, "Property map is not initialized.");
    return false;
  }
  for (const HookProperty* entry = context->propertyMap; entry->name != nullptr; ++entry) {
    if (std::strcmp(entry->name, name) == 0) {
      const char* text = reinterpret_cast<const char*>(entry->value);
      *value = text != nullptr ? text : "";
      return true;
    }
  }
  return false;
}

void HookLog(const HookContext* context, const char* text) {
  if (context != nullptr && context->logCallback != nullptr && text != nullptr) {
    context->logCallback(text);
  }
}

bool HookSession::Property(const char* name, std::string& value) const {
  const char* found = nullptr;
  if (!HookGetProperty(context_, name, &found)) return false;
  value = found;
  return true;
}

// The host lays these records out for a 32-bit process: every field 32 bits.
static_assert(sizeof(void*) != 4 || sizeof(HookProperty) == 8, "HookProperty must be 8 bytes");
static_assert(sizeof(void*) != 4 || sizeof(HookContext) == 20, "HookContext must be 20 bytes");

}  // namespace customhooks::hook
