#include "hook/hook_context.h"

#include <cstring>
#include <new>
#include <stdexcept>

const char HookLogPrefix[] = "KX6 Suites Custom hook: ";

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

void HookLogPrefixed(const HookContext* context, std::initializer_list<LogPiece> pieces) {
  if (context == nullptr || context->logCallback == nullptr) return;
  std::string line;
  try {
    std::size_t size = sizeof(HookLogPrefix) - 1;
    for (const LogPiece& piece : pieces) size += piece.view().size();
    line.reserve(size);
    line.append(HookLogPrefix);
    for (const LogPiece& piece : pieces) line.append(piece.view());
  } catch (const std::bad_alloc&) {
    return;
  } catch (const std::length_error&) {
    return;
  }
  HookLog(context, line.c_str());
}

// The host lays these records out for a 32-bit process: every field 32 bits.
static_assert(sizeof(void*) != 4 || sizeof(HookProperty) == 8, "HookProperty must be 8 bytes");
static_assert(sizeof(void*) != 4 || sizeof(HookContext) == 20, "HookContext must be 20 bytes");
