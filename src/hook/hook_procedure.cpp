#include "hook/hook_procedure.h"

#include <initializer_list>

#include "integration/integration_pass.h"

namespace customhooks::hook {

namespace {

constexpr int kEntryModeCount = 5;

// Lines of each supported install mode, indexed by entry mode.
struct ModeLines {
  std::initializer_list<const char*> lines[kEntryModeCount];
};

const ModeLines kInstallLines = {{
    {"In InstallPreSystemCheckProc", "This is Pre install check!"},
    {"In PrePayloadInstallProc", "And PrePayload..."},
    {"In PostPayloadInstallProc"},
    {"In InstallSessionOpenProc"},
    {"In InstallSessionCloseProc"},
}};

const ModeLines kReinstallLines = {{
    {"In ReinstallPreSystemCheckProc"},
    {"In PrePayloadReinstallProc"},
    {"In PostPayloadReinstallProc"},
    {"In ReinstallSessionOpenProc"},
    {"In ReinstallSessionCloseProc"},
}};

const ModeLines kUninstallLines = {{
    {"In UninstallPreSystemCheckProc"},
    {"In PrePayloadUninstallProc"},
    {"In PostPayloadUninstallProc"},
    {"In UninstallSessionOpenProc"},
    {"In UninstallSessionCloseProc"},
}};

}  // namespace

std::int32_t DispatchHookCall(const HookContext& context, const integration::PassShortcuts& shortcuts) {
  const ModeLines* modeLines = nullptr;
  switch (context.installMode) {
    case KXHOOK_MODE_INSTALL: modeLines = &kInstallLines; break;
    case KXHOOK_MODE_REINSTALL: modeLines = &kReinstallLines; break;
    case KXHOOK_MODE_UNINSTALL: modeLines = &kUninstallLines; break;
    default:
      LogLine(context, "Unsupported install mode specified.");
      return KXHOOK_STATUS_UNSUPPORTED_INSTALL_MODE;
  }
  const auto entry = static_cast<std::uint32_t>(context.entryMode);
  if (entry >= kEntryModeCount) {
    LogLine(context, "Unsupported entry mode specified.");
    return KXHOOK_STATUS_UNSUPPORTED_ENTRY_MODE;
  }
  for (const char* line : modeLines->lines[entry]) LogLine(context, line);

  // The pass reports every outcome as a log line; the host hears success.
  if (entry == KXHOOK_ENTRY_SESSION_CLOSE && modeLines != &kUninstallLines) {
    integration::IntegrateSuiteProducts(HookSession(context), shortcuts);
  }
  return KXHOOK_STATUS_OK;
}

}  // namespace customhooks::hook
