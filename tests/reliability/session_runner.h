// Whole SessionClose calls through the module's exported hook procedure, as
// the installer makes them.
#ifndef CUSTOMHOOKS_TESTS_RELIABILITY_SESSION_RUNNER_H_
#define CUSTOMHOOKS_TESTS_RELIABILITY_SESSION_RUNNER_H_

#include <string>
#include <utility>
#include <vector>

#include "fs/product_names.h"

using Properties = std::vector<std::pair<std::string, std::string>>;

struct SessionOutcome {
  int status = -1;
  std::vector<std::string> lines;
};

// The properties of an install session whose driver payload is `signature`,
// in `language`.
Properties SessionProperties(const std::string& signature,
                             const std::string& language = customhooks::names::kFrenchMoroccoLanguage);

// Calls KXInstallerCustomHookProc at SessionClose of an install with the
// given properties and collects every line it logs.
SessionOutcome CloseInstallSession(const Properties& properties);

// "KX6 Suites Custom hook: " + text.
std::string Prefixed(const std::string& text);

// True when one of `lines` equals `line`.
bool HasLine(const std::vector<std::string>& lines, const std::string& line);

#endif  // CUSTOMHOOKS_TESTS_RELIABILITY_SESSION_RUNNER_H_
