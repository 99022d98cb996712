// Ties the second product to the suite's driver payload. The driver is
// recorded as the product's default driver payload in "pcd.db". The
// driver's default driver payload, install date and installed languages
// (widened by the language-list table) are copied into the product's
// application configuration document and "pcd.db". Everything is committed
// and saved, or everything is rolled back and the document left as it was.
#ifndef CUSTOMHOOKS_INTEGRATION_DRIVER_RECORDS_H_
#define CUSTOMHOOKS_INTEGRATION_DRIVER_RECORDS_H_

#include <string>

#include "integration/session.h"
#include "integration/storage_handles.h"

namespace customhooks::integration {

// Runs the step for the product located under `productCode`. Outcomes are
// log lines only.
void UpdateDriverPayloadEntry(const std::string& productCode, const IntegrationSession& session,
                              SessionDatabases& databases);

// The product's language list for the driver's installed language: the
// whole key compared byte for byte, case-sensitively; "" when it is not in
// the table.
std::string LanguageListFor(const std::string& driverLanguage);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_DRIVER_RECORDS_H_
