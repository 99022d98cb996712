// The integration pass run when an install or reinstall session closes.
#ifndef CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_
#define CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_

#include "integration/session.h"

namespace customhooks::integration {

// The pass's shortcuts: storage::Shortcuts' three, the backup record
// (storage/backup_record.h) and the folders granted once (fs::GrantsOnce).
// Each gives the lines and files of its plain twin (the field off) for less
// work, but for the known differences those headers state; tests compare
// the two while another process acts. A host's pass runs with all of them.
struct PassShortcuts {
  bool keptConnections = true;
  bool rememberedAnswers = true;
  bool oneScanSearch = true;
  bool backupRecord = true;
  bool grantsOnce = true;

  // All on, or all off.
  static PassShortcuts All(bool on) { return {on, on, on, on, on}; }
};

// Integrates the suite's products (suite_products.h) in turn, reporting every
// outcome as a log line.
void IntegrateSuiteProducts(const IntegrationSession& session, const PassShortcuts& shortcuts = {});

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_
