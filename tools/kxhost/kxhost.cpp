// kxhost: drives a CustomHooks-style hook library without an installer.
//
// It loads the library, builds a session property array from the command
// line, and calls the exports in the order a suite installer does, printing
// every log line as it arrives and each call's status.
//
// "kxhost check" runs no library: it checks this machine with the module's
// own code, linked in (machine_check.h), and changes nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "CustomHooks.h"
#include "library_loader.h"
#include "machine_check.h"

namespace {

const char kUsage[] =
    "usage: kxhost [options] LIBRARY\n"
    "       kxhost check [--json] [--prop NAME=VALUE]... [--props-file FILE]\n"
    "\n"
    "Loads the hook library LIBRARY and calls it as a suite installer does.\n"
    "\n"
    "  --mode install|reinstall|uninstall|N   install mode (default install)\n"
    "  --entry NAME|N|all                     what to call (repeatable; default all):\n"
    "        InitSession, SessionOpen, PreSystemCheck, PrePayload, PostPayload,\n"
    "        SessionClose, CloseSession, a raw entry-mode number N, or all\n"
    "        (the seven names in that order)\n"
    "  --prop NAME=VALUE                      a session property (repeatable)\n"
    "  --props-file FILE                      properties, one NAME=VALUE a line;\n"
    "                                         blank lines and lines starting with # are skipped\n"
    "  --quiet                                pass no log callback\n"
    "  --help                                 this text\n"
    "\n"
    "Every log line is printed as it arrives; after each call a line\n"
    "'kxhost: <call> returned <status>'. The exit code is 0 when every call\n"
    "returned 0, 1 when one did not, 2 for a usage error or a library that\n"
    "cannot be loaded or lacks an export.\n"
    "\n"
    "kxhost check reports what a close with the same session properties\n"
    "would find and change on this machine, changing nothing: where the\n"
    "module's folders and files are, how it would meet each database, what\n"
    "each product's run would find, and what the close would write. With\n"
    "--json the report is JSON (its \"version\" member gives its shape). The\n"
    "exit code is 0 when a close would do all its work, 1 when something\n"
    "would be skipped or refused, 2 when the check cannot run.\n";

enum class Target { kInitSession, kHookProc, kCloseSession };

struct Call {
  std::string label;
  Target target;
  int entryMode;  // for kHookProc
};

const Call kAllCalls[] = {
    {"InitSession", Target::kInitSession, 0},
    {"SessionOpen", Target::kHookProc, KXHOOK_ENTRY_SESSION_OPEN},
    {"PreSystemCheck", Target::kHookProc, KXHOOK_ENTRY_PRE_SYSTEM_CHECK},
    {"PrePayload", Target::kHookProc, KXHOOK_ENTRY_PRE_PAYLOAD},
    {"PostPayload", Target::kHookProc, KXHOOK_ENTRY_POST_PAYLOAD},
    {"SessionClose", Target::kHookProc, KXHOOK_ENTRY_SESSION_CLOSE},
    {"CloseSession", Target::kCloseSession, 0},
};

void KXHOOK_CALL PrintLine(const char* line) {
  std::fputs(line, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool ParseInt(const std::string& text, int& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0') return false;
  out = static_cast<int>(value);
  return true;
}

bool ParseMode(const std::string& text, int& mode) {
  if (text == "install") mode = KXHOOK_MODE_INSTALL;
  else if (text == "reinstall") mode = KXHOOK_MODE_REINSTALL;
  else if (text == "uninstall") mode = KXHOOK_MODE_UNINSTALL;
  else return ParseInt(text, mode);
  return true;
}

bool AddEntries(const std::string& text, std::vector<Call>& calls) {
  if (text == "all") {
    calls.insert(calls.end(), std::begin(kAllCalls), std::end(kAllCalls));
    return true;
  }
  for (const Call& call : kAllCalls) {
    if (text == call.label) {
      calls.push_back(call);
      return true;
    }
  }
  int number = 0;
  if (!ParseInt(text, number)) return false;
  calls.push_back({"entry " + text, Target::kHookProc, number});
  return true;
}

bool AddProperty(const std::string& text, std::vector<std::pair<std::string, std::string>>& props) {
  std::size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  props.emplace_back(text.substr(0, eq), text.substr(eq + 1));
  return true;
}

bool ReadPropsFile(const std::string& path, std::vector<std::pair<std::string, std::string>>& props) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "kxhost: cannot read properties file %s\n", path.c_str());
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!AddProperty(line, props)) {
      std::fprintf(stderr, "kxhost: %s:%d: expected NAME=VALUE\n", path.c_str(), number);
      return false;
    }
  }
  return true;
}

int UsageError(const char* what, const std::string& arg) {
  std::fprintf(stderr, "kxhost: %s%s\n\n%s", what, arg.c_str(), kUsage);
  return 2;
}

// kxhost check [--json] [--prop NAME=VALUE]... [--props-file FILE]
int RunCheck(int argc, char** argv) {
  std::vector<std::pair<std::string, std::string>> props;
  bool json = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--prop") {
      if (!hasValue || !AddProperty(argv[++i], props)) return UsageError("bad --prop ", hasValue ? argv[i] : "");
    } else if (arg == "--props-file") {
      if (!hasValue) return UsageError("--props-file needs a file", "");
      if (!ReadPropsFile(argv[++i], props)) return 2;
    } else {
      return UsageError("check takes no ", arg);
    }
  }
  const customhooks::check::CheckReport report = customhooks::check::CheckMachine(props);
  const std::string text = json ? ReportJson(report) : ReportText(report);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return report.exitStatus;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "check") == 0) return RunCheck(argc, argv);
  int installMode = KXHOOK_MODE_INSTALL;
  std::vector<Call> calls;
  std::vector<std::pair<std::string, std::string>> props;
  bool quiet = false;
  std::string libraryPath;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&](std::string& value) {
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    std::string value;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--mode") {
      if (!next(value) || !ParseMode(value, installMode)) return UsageError("bad --mode ", value);
    } else if (arg == "--entry") {
      if (!next(value) || !AddEntries(value, calls)) return UsageError("bad --entry ", value);
    } else if (arg == "--prop") {
      if (!next(value) || !AddProperty(value, props)) return UsageError("bad --prop ", value);
    } else if (arg == "--props-file") {
      if (!next(value)) return UsageError("--props-file needs a file", "");
      if (!ReadPropsFile(value, props)) return 2;
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("unknown option ", arg);
    } else if (libraryPath.empty()) {
      libraryPath = arg;
    } else {
      return UsageError("more than one library: ", arg);
    }
  }
  if (libraryPath.empty()) return UsageError("no library given", "");
  if (calls.empty()) AddEntries("all", calls);

  std::string error;
  std::unique_ptr<LoadedLibrary> library = LoadedLibrary::Load(libraryPath, error);
  if (!library) {
    std::fprintf(stderr, "kxhost: cannot load %s: %s\n", libraryPath.c_str(), error.c_str());
    return 2;
  }
  auto proc = reinterpret_cast<KXInstallerCustomHookProcFn>(library->Find(KXHOOK_PROC_NAME));
  auto init = reinterpret_cast<KXInstallerCustomHookSessionFn>(library->Find(KXHOOK_INIT_SESSION_NAME));
  auto close = reinterpret_cast<KXInstallerCustomHookSessionFn>(library->Find(KXHOOK_CLOSE_SESSION_NAME));
  const char* missing = !proc ? KXHOOK_PROC_NAME
                        : !init ? KXHOOK_INIT_SESSION_NAME
                        : !close ? KXHOOK_CLOSE_SESSION_NAME
                                 : nullptr;
  if (missing) {
    std::fprintf(stderr, "kxhost: %s does not export %s\n", libraryPath.c_str(), missing);
    return 2;
  }

  std::vector<HookProperty> map;
  for (const auto& prop : props) {
    map.push_back({prop.first.c_str(), reinterpret_cast<uintptr_t>(prop.second.c_str())});
  }
  map.push_back({nullptr, 0});
  HookLogCallback callback = quiet ? nullptr : &PrintLine;

  bool allZero = true;
  for (const Call& call : calls) {
    int32_t status;
    switch (call.target) {
      case Target::kInitSession: status = init(); break;
      case Target::kCloseSession: status = close(); break;
      default: status = proc(map.data(), call.entryMode, installMode, 0, callback); break;
    }
    std::printf("kxhost: %s returned %d\n", call.label.c_str(), static_cast<int>(status));
    std::fflush(stdout);
    if (status != 0) allZero = false;
  }
  return allZero ? 0 : 1;
}
