// The per-call context, session properties and log lines.
//
// Everything the module does runs inside one call of the hook procedure and
// talks to the host only through these operations. Nothing here keeps a
// reference to the host's data beyond the call.
#ifndef CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_
#define CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "CustomHooks.h"

// Built by the hook procedure from its five arguments, in this order; lives
// in the hook procedure's frame and is valid until it returns.
struct HookContext {
  const HookProperty* propertyMap;
  std::int32_t entryMode;
  std::int32_t installMode;
  std::uintptr_t hostValue;
  HookLogCallback logCallback;
};

// The prefix of every line of the integration work (24 characters).
extern const char HookLogPrefix[];

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

// One piece of a log message: a fixed text or a value. A null C string is
// the empty text.
class LogPiece {
 public:
  LogPiece(const char* text) : text_(text ? text : "") {}  // NOLINT: implicit by design
  LogPiece(std::string_view text) : text_(text) {}         // NOLINT
  LogPiece(const std::string& text) : text_(text) {}       // NOLINT
  std::string_view view() const { return text_; }

 private:
  std::string_view text_;
};

// Logs HookLogPrefix followed by the pieces, joined with nothing in between.
// When memory runs out while the line is formed, nothing is sent.
void HookLogPrefixed(const HookContext* context, std::initializer_list<LogPiece> pieces);

#endif  // CUSTOMHOOKS_HOOK_HOOK_CONTEXT_H_
