// The two products the suite carries as payloads of their own, and the
// extra step each one gets once it is located among the installed payloads.
#ifndef CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_
#define CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_

#include <cstdint>

#include "integration/session.h"

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

// Integrates one product. 0 in every case but these: 1 when a session
// property is missing, 65535 when the payload database can't be opened.
std::int32_t IntegrateProduct(const SuiteProduct& product, const IntegrationSession& session);

#endif  // CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_
