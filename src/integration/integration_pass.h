// The integration pass run when an install or reinstall session closes.
#ifndef CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_
#define CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_

#include <cstdint>

#include "integration/session.h"

// Integrates both suite products, reporting every outcome as a log line.
// Always returns 0.
std::int32_t IntegrateSuiteProducts(const IntegrationSession& session);

#endif  // CUSTOMHOOKS_INTEGRATION_INTEGRATION_PASS_H_
