// The products the suite carries as payloads of their own, and the extra
// step each one gets once it is located among the installed payloads. The
// pass integrates them in the order of the table.
#ifndef CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_
#define CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_

#include "fs/product_names.h"

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

inline constexpr SuiteProduct kSuiteProducts[] = {
    {"Weft", "4.6.1", "Orvik Tessel Studio 4.6", names::kPayloadDataDomain, "Orvik Tessel Studio 4.6",
     ProductStep::kFrenchMoroccoLocale},
    {"NonOrvikPayload", "10.0", "Pelican X Pro", names::kSecondProductDataDomain, "Pelican Professional 10.0",
     ProductStep::kDriverRecords},
};

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_SUITE_PRODUCTS_H_
