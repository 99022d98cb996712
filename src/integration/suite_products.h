// The two products the suite carries as payloads of their own, and the
// extra step each one gets once it is located among the installed payloads.
#ifndef CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_
#define CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_

#include "integration/session.h"
#include "integration/storage_handles.h"

namespace customhooks::integration {

// The extra step a product gets once located.
enum class ProductStep {
  kFrenchMoroccoLocale,  // FixFrenchMoroccoLocale, only for the install language "fr_MA"
  kDriverRecords,        // UpdateDriverPayloadEntry, always
};

struct SuiteProduct {
  const char* family;         // matched against the payload's productFamily
  const char* version;        // matched against the payload's version
  const char* name;           // matched against the payload's productName; heads every line
  int signatureDomain;        // payload_data domain of the product's "mediaSignature"
  const char* summaryName;    // the name in the pass's summary line
  ProductStep extraStep;
};

// The first product ("Orvik Tessel Studio 4.6") and the second ("Pelican X Pro").
extern const SuiteProduct kFirstSuiteProduct;
extern const SuiteProduct kSecondSuiteProduct;

// How a product's run ended; the pass reports anything but kCompleted as a
// failed product.
enum class ProductOutcome {
  kCompleted,                   // searched (found or not); each step logged its outcome
  kMissingProperty,             // a session property is missing
  kPayloadDatabaseUnavailable,  // the payload database can't be opened
};

// Integrates one product, opening its databases through `databases`.
ProductOutcome IntegrateProduct(const SuiteProduct& product, const IntegrationSession& session,
                                SessionDatabases& databases);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_
