#include "reliability/session_runner.h"

#include <algorithm>
#include <cstdint>

#include "CustomHooks.h"

namespace {

std::vector<std::string>* g_lines = nullptr;

void KXHOOK_CALL Collect(const char* line) {
  if (g_lines != nullptr) g_lines->emplace_back(line);
}

}  // namespace

Properties SessionProperties(const std::string& signature, const std::string& language) {
  return {{customhooks::names::kMediaSignatureProperty, signature},
          {customhooks::names::kInstallLanguageProperty, language}};
}

SessionOutcome CloseInstallSession(const Properties& properties) {
  std::vector<HookProperty> map;
  for (const auto& property : properties) {
    map.push_back({property.first.c_str(), reinterpret_cast<std::uintptr_t>(property.second.c_str())});
  }
  map.push_back({nullptr, 0});
  SessionOutcome outcome;
  g_lines = &outcome.lines;
  outcome.status = KXInstallerCustomHookProc(map.data(), KXHOOK_ENTRY_SESSION_CLOSE, KXHOOK_MODE_INSTALL, 0,
                                             &Collect);
  g_lines = nullptr;
  return outcome;
}

std::string Prefixed(const std::string& text) { return "KX6 Suites Custom hook: " + text; }

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}
