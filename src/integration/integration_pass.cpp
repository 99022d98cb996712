#include "integration/integration_pass.h"

std::int32_t IntegrateSuiteProducts(const HookContext* /*context*/) { return 0; }
