#include "hook/hook_context.h"

#include <cstring>

namespace customhooks::hook {

std::optional<const char*> FindProperty(const HookContext& context, const char* name) {
  if (name == nullptr) {
    LogLine(context, "NULL pointer passed as property name.");
    return std::nullopt;
  }
  if (context.propertyMap == nullptr) {
    LogLine(context, "Property map is not initialized.");
    return std::nullopt;
  }
  for (const HookProperty* entry = context.propertyMap; entry->name != nullptr; ++entry) {
    if (std::strcmp(entry->name, name) == 0) {
      const char* text = reinterpret_cast<const char*>(entry->value);
      return text != nullptr ? text : "";
    }
  }
  return std::nullopt;
}

void LogLine(const HookContext& context, const char* text) {
  if (context.logCallback != nullptr && text != nullptr) context.logCallback(text);
}

std::optional<std::string> HookSession::Property(const char* name) const {
  const std::optional<const char*> found = FindProperty(context_, name);
  if (!found) return std::nullopt;
  return std::string(*found);
}

// The host lays these records out for a 32-bit process: every field 32 bits.
static_assert(sizeof(void*) != 4 || sizeof(HookProperty) == 8, "HookProperty must be 8 bytes");
static_assert(sizeof(void*) != 4 || sizeof(HookContext) == 20, "HookContext must be 20 bytes");

}  // namespace customhooks::hook
