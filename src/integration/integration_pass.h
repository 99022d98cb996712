// The integration pass run when an install or reinstall session closes.
#ifndef CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_
#define CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_

#include "integration/session.h"

namespace customhooks::integration {

// Integrates the suite's products (suite_products.h) in turn, reporting every
// outcome as a log line.
void IntegrateSuiteProducts(const IntegrationSession& session);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_
